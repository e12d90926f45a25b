#include "support/sync_objects.hpp"

#include <array>
#include <system_error>

namespace mw {
namespace {

// A security descriptor whose access list allows `access` to Everyone and nothing else.
class everyone_descriptor {
public:
    explicit everyone_descriptor(DWORD access)
    {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        ok_ = InitializeSid(sid(), &world, 1) != FALSE;
        if (ok_)
            *GetSidSubAuthority(sid(), 0) = SECURITY_WORLD_RID;
        ok_ = ok_ && InitializeAcl(acl(), static_cast<DWORD>(acl_buffer_.size()), ACL_REVISION) &&
              AddAccessAllowedAce(acl(), ACL_REVISION, access, sid()) &&
              InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor_, TRUE, acl(), FALSE);
    }
    everyone_descriptor(const everyone_descriptor&) = delete;
    everyone_descriptor& operator=(const everyone_descriptor&) = delete;

    // Null when the descriptor could not be built (the last error tells why).
    SECURITY_ATTRIBUTES* attributes()
    {
        if (!ok_)
            return nullptr;
        attributes_ = {sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE};
        return &attributes_;
    }

private:
    PSID sid() { return sid_buffer_.data(); }
    PACL acl() { return reinterpret_cast<PACL>(acl_buffer_.data()); }

    alignas(DWORD) std::array<unsigned char, SECURITY_MAX_SID_SIZE> sid_buffer_{};
    alignas(DWORD) std::array<unsigned char, sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE>
        acl_buffer_{};
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ok_ = false;
};

} // namespace

unique_handle global_sync_object(sync_object_kind kind, const std::wstring& name)
{
    const bool mutex = kind == sync_object_kind::mutex;
    everyone_descriptor descriptor(mutex ? mutex_full_access : semaphore_full_access);
    SECURITY_ATTRIBUTES* attributes = descriptor.attributes();
    if (!attributes)
        return {};
    const std::wstring full_name = L"Global\\" + name;
    HANDLE handle = mutex ? CreateMutexW(attributes, FALSE, full_name.c_str())
                          : CreateSemaphoreW(attributes, 0, 0x7FFFFFFF, full_name.c_str());
    const DWORD error = GetLastError();
    unique_handle result(handle);
    SetLastError(error);
    return result;
}

std::wstring instance_semaphore_name(const std::wstring& application_id)
{
    return application_id + L".{a3526b56-ca7c-4e16-8a26-da7758a378fd}";
}

instance_semaphore::instance_semaphore(const std::wstring& name, long units)
    : handle_(global_sync_object(sync_object_kind::semaphore, name))
{
    if (!handle_)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "instance semaphore");
    if (units > 0 && !ReleaseSemaphore(handle_.get(), units, nullptr))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "instance semaphore");
    units_ = units > 0 ? units : 0;
}

instance_semaphore::~instance_semaphore()
{
    give_back();
}

instance_semaphore::instance_semaphore(instance_semaphore&& other) noexcept
    : handle_(std::move(other.handle_)), units_(std::exchange(other.units_, 0))
{
}

instance_semaphore& instance_semaphore::operator=(instance_semaphore&& other) noexcept
{
    if (this != &other) {
        give_back();
        handle_ = std::move(other.handle_);
        units_ = std::exchange(other.units_, 0);
    }
    return *this;
}

void instance_semaphore::give_back() noexcept
{
    if (!handle_)
        return;
    long taken = 0;
    while (taken < units_ && WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0)
        ++taken;
    if (taken < units_ && taken > 0)
        ReleaseSemaphore(handle_.get(), taken, nullptr);
    units_ = 0;
    handle_.reset();
}

long instance_semaphore::running_instances() const noexcept
{
    LONG previous = 0;
    if (!handle_ || !ReleaseSemaphore(handle_.get(), 1, &previous))
        return 0;
    WaitForSingleObject(handle_.get(), 0);
    return previous;
}

} // namespace mw
