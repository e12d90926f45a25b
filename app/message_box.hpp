#pragma once
// Message boxes and the texts of error codes in the interface language.

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <variant>

namespace setup {

// The text or caption of a message box: none, a text, or a string resource id (0xFFFF or
// less). A pointer argument follows the resource convention: null is none, a value of 0xFFFF or
// less is an id.
class message_text {
public:
    message_text() noexcept = default;
    message_text(std::nullptr_t) noexcept {}
    message_text(const wchar_t* text);
    message_text(std::wstring text) : value_(std::move(text)) {}
    message_text(std::wstring_view text) : value_(std::wstring(text)) {}
    message_text(unsigned id) noexcept : value_(id) {}

    bool is_none() const noexcept { return std::holds_alternative<std::monostate>(value_); }
    const std::wstring* text() const noexcept { return std::get_if<std::wstring>(&value_); }
    const unsigned* id() const noexcept { return std::get_if<unsigned>(&value_); }

private:
    std::variant<std::monostate, std::wstring, unsigned> value_;
};

// The owner of one message box: the active window's root owner, else the first top-level
// window of this thread whose root owner has a caption; then that window's last active pop-up.
// The owner is enabled while the scope lives (a box must be able to take the focus).
class modal_scope {
public:
    modal_scope() noexcept;
    modal_scope(const modal_scope&) = delete;
    modal_scope& operator=(const modal_scope&) = delete;

    HWND owner() const noexcept { return owner_; }

private:
    HWND owner_ = nullptr;
};

// The owner a message box shown now would get (modal_scope's search, without enabling it).
HWND find_message_owner() noexcept;

// What show_message hands to MessageBoxW.
struct message_request {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT flags = 0;
};

// The flags completed for a box: a default icon for the OK and Yes/No button types when none is
// given, MB_RTLREADING when `right_to_left`, and no icon for MB_USERICON (a plain box cannot
// show one).
UINT complete_message_flags(UINT flags, bool right_to_left) noexcept;
// Whether a box over `owner` reads right to left: the owner's layout, or, without an owner,
// the reading order of the user's language.
bool message_right_to_left(HWND owner);
// A text or caption as shown: none is empty, an id is the string resource of this program
// (a plain lookup, without language fallbacks).
std::wstring resolve_message_text(const message_text& text);
// The caption of a box given none: the display version of the setup's own version block, else
// the program's file name without folder and extension.
std::wstring default_message_caption();
// Everything show_message computes for a box over `owner`.
message_request prepare_message(HWND owner, const message_text& text, const message_text& caption, UINT flags);

// Shows a message box over the owner modal_scope finds and returns MessageBoxW's result (0 when
// the box could not be shown).
int show_message(const message_text& text, const message_text& caption, UINT flags);
// A warning box with the text of an error code and the default caption.
int show_system_error(std::uint32_t code);
// The code the error box shows for an exception that reached one of the program's boundaries
// (the entry function, a window procedure): a Win32 code or an HRESULT as it is, E_OUTOFMEMORY
// for lack of memory, E_UNEXPECTED for anything else (a rejected text template, say).
std::uint32_t exception_error_code(std::exception_ptr failure) noexcept;
// Shows the error box of the exception being handled: call it inside a catch block. Never
// throws.
void show_current_exception() noexcept;

// The warning for a failed lookup of a known folder: the text of `error` under the setup's
// title with the product. The setup reports every failed lookup with it.
void show_known_folder_error(HRESULT error);

// The text of an error code (HRESULT or Win32 code) in the interface language. A code with the
// customer bit and bit 0x08000000 names a string id in its low 16 bits. Never empty.
std::wstring error_text(std::uint32_t code);
// The system's message for `code` in `language` (then in any language), without trailing
// blanks or line breaks; the text of E_FAIL, or "Error", when the system has none.
std::wstring system_error_text(std::uint32_t code, LANGID language);

namespace details {
// The raw message of `code` in `language` (FormatMessageW), or empty when there is none.
using system_message_source = std::wstring (*)(std::uint32_t code, LANGID language);
std::wstring format_system_message(std::uint32_t code, LANGID language);
// system_error_text over another message source.
std::wstring system_error_text(std::uint32_t code, LANGID language, system_message_source source);
} // namespace details

} // namespace setup
