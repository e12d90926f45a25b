#pragma once
// What names the kernel objects a setup shares with the programs of its application family:
// the application id, and the setup mutex named after it.

#include "support/unique_handle.hpp"

#include <windows.h>

#include <string>
#include <utility>

namespace setup {

// The named mutex one setup of an application holds while it runs. Movable, not copyable: a
// moved-from object holds nothing and owns nothing.
class setup_mutex {
public:
    // Creates (or opens) "Global\\" + application id + the setup's suffix, not owned.
    explicit setup_mutex(const std::wstring& application_id);
    // Releases the mutex if it is owned; the handle closes with the object.
    ~setup_mutex() { release(); }
    setup_mutex(setup_mutex&& other) noexcept
        : handle_(std::move(other.handle_)), owned_(std::exchange(other.owned_, false))
    {
    }
    setup_mutex& operator=(setup_mutex&& other) noexcept;
    setup_mutex(const setup_mutex&) = delete;
    setup_mutex& operator=(const setup_mutex&) = delete;

    // Takes the mutex without waiting; an abandoned mutex counts as taken.
    bool take() noexcept;
    // Releases the mutex if it is owned.
    void release() noexcept;
    bool owned() const noexcept { return owned_; }
    HANDLE handle() const noexcept { return handle_.get(); }

private:
    mw::unique_handle handle_;
    bool owned_ = false;
};

// The name the setup's kernel objects carry: the value "ApplicationId" of the executable's
// own version block, else its "ProductName", else the executable's file name without folder
// and extension.
const std::wstring& application_id();

} // namespace setup
