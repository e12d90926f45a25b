#include "app/process_identity.hpp"

#include "pages/version_info.hpp"
#include "support/own_executable.hpp"
#include "support/sync_objects.hpp"


namespace setup {
namespace {

constexpr wchar_t setup_mutex_suffix[] = L".{5ead623c-dfcd-474d-8e3c-e6978cac039e}";

} // namespace

setup_mutex::setup_mutex(const std::wstring& application_id)
    : handle_(mw::global_sync_object(mw::sync_object_kind::mutex, application_id + setup_mutex_suffix))
{
}

setup_mutex& setup_mutex::operator=(setup_mutex&& other) noexcept
{
    if (this != &other) {
        release();
        handle_ = std::move(other.handle_);
        owned_ = std::exchange(other.owned_, false);
    }
    return *this;
}

bool setup_mutex::take() noexcept
{
    if (owned_)
        return true;
    if (!handle_)
        return false;
    const DWORD result = WaitForSingleObject(handle_.get(), 0);
    owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return owned_;
}

void setup_mutex::release() noexcept
{
    if (owned_ && handle_)
        ReleaseMutex(handle_.get());
    owned_ = false;
}

const std::wstring& application_id()
{
    static const std::wstring id = [] {
        const version_info& own = version_info::load_own();
        std::wstring value = own.get_string(L"ApplicationId");
        if (value.empty())
            value = own.get_string(L"ProductName");
        if (value.empty())
            value = mw::own_executable_name();
        return value;
    }();
    return id;
}

} // namespace setup
