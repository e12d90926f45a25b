#include "app/message_box.hpp"

#include "support/hresult.hpp"
#include "support/own_executable.hpp"
#include "support/unique_handle.hpp"

#include "app/strings.hpp"
#include "app/window_owner.hpp"
#include "pages/product.hpp"
#include "pages/version_info.hpp"

#include <memory>
#include <new>
#include <system_error>

namespace setup {
namespace {

constexpr UINT icon_mask = MB_ICONMASK;      // 0xF0
constexpr UINT type_mask = MB_TYPEMASK;      // 0x0F
constexpr std::uint32_t customer_bit = 0x20000000;
constexpr std::uint32_t string_id_bit = 0x08000000;
constexpr std::uint32_t e_fail = 0x80004005;


} // namespace

message_text::message_text(const wchar_t* text)
{
    if (!text)
        return;
    if (IS_INTRESOURCE(text))
        value_ = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(text));
    else
        value_ = std::wstring(text);
}

HWND find_message_owner() noexcept
{
    return find_owner_window(owner_search::captioned_root);
}

modal_scope::modal_scope() noexcept : owner_(find_message_owner())
{
    if (owner_)
        EnableWindow(owner_, TRUE);
}

UINT complete_message_flags(UINT flags, bool right_to_left) noexcept
{
    if ((flags & icon_mask) == 0) {
        switch (flags & type_mask) {
        case MB_OK:
        case MB_OKCANCEL:
            flags |= MB_ICONWARNING;
            break;
        case MB_YESNOCANCEL:
        case MB_YESNO:
            flags |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    if (right_to_left)
        flags |= MB_RTLREADING;
    if ((flags & icon_mask) == MB_USERICON)
        flags &= ~icon_mask;
    return flags;
}

bool message_right_to_left(HWND owner)
{
    if (owner)
        return (GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    return reads_right_to_left(pick_user_language(0));
}

std::wstring resolve_message_text(const message_text& text)
{
    if (const std::wstring* value = text.text())
        return *value;
    if (const unsigned* id = text.id()) {
        const wchar_t* resource = nullptr;
        const int length = LoadStringW(GetModuleHandleW(nullptr), *id, reinterpret_cast<LPWSTR>(&resource), 0);
        return length > 0 && resource ? std::wstring(resource, static_cast<std::size_t>(length)) : std::wstring();
    }
    return {};
}

std::wstring default_message_caption()
{
    std::wstring caption =
        version_info::load_own().display_version(LANGIDFROMLCID(current_language().lcid));
    if (!caption.empty())
        return caption;
    return mw::own_executable_name();
}

message_request prepare_message(HWND owner, const message_text& text, const message_text& caption, UINT flags)
{
    message_request request;
    request.owner = owner;
    request.flags = complete_message_flags(flags, message_right_to_left(owner));
    request.caption = resolve_message_text(caption);
    if (request.caption.empty())
        request.caption = default_message_caption();
    request.text = resolve_message_text(text);
    return request;
}

int show_message(const message_text& text, const message_text& caption, UINT flags)
{
    const modal_scope scope;
    const message_request request = prepare_message(scope.owner(), text, caption, flags);
    return MessageBoxW(request.owner, request.text.c_str(), request.caption.c_str(), request.flags);
}

int show_system_error(std::uint32_t code)
{
    return show_message(error_text(code), nullptr, MB_OK | MB_ICONWARNING);
}

std::uint32_t exception_error_code(std::exception_ptr failure) noexcept
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::system_error& e) {
        if (e.code().category() == std::system_category() || e.code().category() == mw::hresult_category())
            return static_cast<std::uint32_t>(e.code().value());
    } catch (const std::bad_alloc&) {
        return static_cast<std::uint32_t>(E_OUTOFMEMORY);
    } catch (...) {
    }
    return static_cast<std::uint32_t>(E_UNEXPECTED);
}

void show_current_exception() noexcept
{
    try {
        show_system_error(exception_error_code(std::current_exception()));
    } catch (...) {
        // Not even the box could be shown: the program ends as it would after it.
    }
}

void show_known_folder_error(HRESULT error)
{
    show_message(error_text(static_cast<std::uint32_t>(error)), setup_title(product_title), MB_ICONWARNING);
}

std::wstring error_text(std::uint32_t code)
{
    const LANGID language = LANGIDFROMLCID(current_language().lcid);
    if (code & customer_bit) {
        if (code & string_id_bit) {
            std::wstring text = load_string(code & 0xFFFF);
            if (!text.empty())
                return text;
        }
        return system_error_text(e_fail, language);
    }
    return system_error_text(code, language);
}

std::wstring system_error_text(std::uint32_t code, LANGID language)
{
    return details::system_error_text(code, language, details::format_system_message);
}

namespace details {

std::wstring format_system_message(std::uint32_t code, LANGID language)
{
    mw::unique_hlocal_string buffer;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, code, language, reinterpret_cast<LPWSTR>(buffer.put()), 0, nullptr);
    if (length == 0 || !buffer)
        return {};
    return {buffer.get(), length};
}

std::wstring system_error_text(std::uint32_t code, LANGID language, system_message_source source)
{
    std::wstring text = source(code, language);
    if (text.empty() && language != 0)
        text = source(code, 0);
    const std::size_t end = text.find_last_not_of(L" \n\r\t");
    text.erase(end == std::wstring::npos ? 0 : end + 1);
    if (!text.empty())
        return text;
    if (code == e_fail)
        return L"Error";
    return system_error_text(e_fail, language, source);
}

} // namespace details

} // namespace setup
