#include "support/hresult.hpp"

#include "support/unique_handle.hpp"

#include <cstdio>
#include <string>

namespace mw {
namespace {

class hresult_category_impl final : public std::error_category {
public:
    const char* name() const noexcept override { return "hresult"; }

    std::string message(int code) const override
    {
        unique_hlocal_ptr<char> text;
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                                FORMAT_MESSAGE_IGNORE_INSERTS,
                                            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(text.put()),
                                            0, nullptr);
        std::string message = length && text ? std::string(text.get(), length) : std::string();
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
            message.pop_back();
        if (message.empty()) {
            char number[32];
            std::snprintf(number, sizeof number, "HRESULT 0x%08lX", static_cast<unsigned long>(code));
            message = number;
        }
        return message;
    }

    // An HRESULT that wraps a Win32 error code stands for that code.
    std::error_condition default_error_condition(int code) const noexcept override
    {
        const auto hr = static_cast<HRESULT>(code);
        if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
            return std::system_category().default_error_condition(HRESULT_CODE(hr));
        return {code, *this};
    }
};

} // namespace

const std::error_category& hresult_category() noexcept
{
    static const hresult_category_impl category;
    return category;
}

} // namespace mw
