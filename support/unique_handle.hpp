#pragma once
// Ownership of a kernel object handle (closed with CloseHandle). Null means no object.

#include <windows.h>

#include <utility>

namespace mw {

class unique_handle {
public:
    unique_handle() noexcept = default;
    explicit unique_handle(HANDLE handle) noexcept : handle_(handle) {}
    ~unique_handle() { reset(); }
    unique_handle(unique_handle&& other) noexcept : handle_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;

    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    HANDLE release() noexcept { return std::exchange(handle_, nullptr); }

    // Closes the object held so far (keeping the thread's last error) and takes `handle`.
    void reset(HANDLE handle = nullptr) noexcept
    {
        if (handle_) {
            const DWORD error = GetLastError();
            CloseHandle(handle_);
            SetLastError(error);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

} // namespace mw
