#pragma once
// Named kernel objects shared by the processes of one application family (the setup and the
// programs it installs), in the Global namespace so that they work across logged-on users.

#include "support/unique_handle.hpp"

#include <string>

namespace mw {

enum class sync_object_kind { mutex, semaphore };

// Full access for the Everyone group on each kind of object.
inline constexpr DWORD mutex_full_access = 0x1F0001;
inline constexpr DWORD semaphore_full_access = 0x1F0003;

// Creates, or opens when it exists, the mutex or semaphore named "Global\\" + `name`, with a
// discretionary access list that grants the Everyone group (S-1-1-0) full access, so that
// processes of other users can open it too. A mutex is created not owned; a semaphore with a
// count of 0 and a maximum of 0x7FFFFFFF. Returns an empty handle on failure. Either way the
// thread's last error is that of the create call when this returns: ERROR_ALREADY_EXISTS
// tells that the object existed.
unique_handle global_sync_object(sync_object_kind kind, const std::wstring& name);

// The name (without "Global\\") of the semaphore that counts the running processes of the
// application family `application_id`.
std::wstring instance_semaphore_name(const std::wstring& application_id);

// Counts this process in a family's instance semaphore for the holder's lifetime: the
// constructor adds `units` to the semaphore; the destructor takes them back, one wait of
// timeout 0 each; when a wait fails before all are taken, it gives back the units it did take
// and stops (the count then tells that others hold fewer units than they added); then it
// closes the handle. Movable, not copyable.
class instance_semaphore {
public:
    // `name` as given to global_sync_object. Throws std::system_error (Win32 code) when the
    // semaphore cannot be created or the units cannot be added.
    explicit instance_semaphore(const std::wstring& name, long units = 1);
    ~instance_semaphore();
    instance_semaphore(instance_semaphore&& other) noexcept;
    instance_semaphore& operator=(instance_semaphore&& other) noexcept;
    instance_semaphore(const instance_semaphore&) = delete;
    instance_semaphore& operator=(const instance_semaphore&) = delete;

    // The number of units the processes of the family hold now, this one's included: adds
    // one unit, takes it back at once (wait of timeout 0) and returns the count before the
    // addition; 0 when the unit cannot be added.
    long running_instances() const noexcept;

    // The units this holder added and will take back.
    long units() const noexcept { return units_; }
    HANDLE handle() const noexcept { return handle_.get(); }

private:
    void give_back() noexcept;

    unique_handle handle_;
    long units_ = 0;
};

} // namespace mw
