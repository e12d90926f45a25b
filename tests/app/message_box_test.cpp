#include "app/message_box.hpp"
#include "app/strings.hpp"
#include "support/hresult.hpp"

#include "tests/ui_driver/ui_driver.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace setup;
using testing_support::answer_own_boxes;
using testing_support::test_window;

constexpr std::uint32_t e_fail_code = 0x80004005; // E_FAIL

std::wstring caption_for(const char* what)
{
    return L"Message box test " + std::to_wstring(GetCurrentProcessId()) + L" " +
           std::wstring(what, what + std::char_traits<char>::length(what));
}

TEST(message_flags, default_icons_reading_order_and_user_icon)
{
    struct flags_case {
        UINT given;
        bool right_to_left;
        UINT expected;
    };
    const flags_case cases[] = {
        {MB_OK, false, MB_OK | MB_ICONWARNING},
        {MB_OKCANCEL, false, MB_OKCANCEL | MB_ICONWARNING},
        {MB_YESNO, false, MB_YESNO | MB_ICONQUESTION},
        {MB_YESNOCANCEL, false, MB_YESNOCANCEL | MB_ICONQUESTION},
        {MB_RETRYCANCEL, false, MB_RETRYCANCEL},
        {MB_ABORTRETRYIGNORE, false, MB_ABORTRETRYIGNORE},
        {MB_CANCELTRYCONTINUE, false, MB_CANCELTRYCONTINUE},
        {MB_RETRYCANCEL | MB_ICONERROR, false, MB_RETRYCANCEL | MB_ICONERROR},
        {MB_OK | MB_ICONINFORMATION, false, MB_OK | MB_ICONINFORMATION},
        {MB_YESNO | MB_ICONWARNING, false, MB_YESNO | MB_ICONWARNING},
        {MB_OK | MB_USERICON, false, MB_OK},
        {MB_YESNO | MB_USERICON, false, MB_YESNO},
        {MB_YESNO | MB_DEFBUTTON2, true, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION | MB_RTLREADING},
        {MB_OK | MB_TOPMOST | MB_SETFOREGROUND, false, MB_OK | MB_TOPMOST | MB_SETFOREGROUND | MB_ICONWARNING},
        {MB_RETRYCANCEL, true, MB_RETRYCANCEL | MB_RTLREADING},
    };
    for (const auto& c : cases)
        EXPECT_EQ(complete_message_flags(c.given, c.right_to_left), c.expected)
            << std::hex << c.given << (c.right_to_left ? " right to left" : "");
}

TEST(message_flags, reading_order_follows_the_owner_layout)
{
    test_window left_to_right;
    test_window right_to_left({.ex_style = WS_EX_LAYOUTRTL});
    ASSERT_TRUE(left_to_right.get() && right_to_left.get());
    EXPECT_FALSE(message_right_to_left(left_to_right.get()));
    EXPECT_TRUE(message_right_to_left(right_to_left.get()));
    EXPECT_EQ(prepare_message(right_to_left.get(), L"t", L"c", MB_OK).flags, UINT(MB_OK | MB_ICONWARNING | MB_RTLREADING));
}

// Without an owner, the reading order is that of the language picked for the user among the
// context's languages. Run with the user language set to Arabic too (see the build).
TEST(message_flags, reading_order_without_owner_follows_the_user_language)
{
    const language_mask saved = current_language().mask;
    current_language().mask = setup_languages | language_bit(21) | language_bit(16);
    // ctest runs this case once more for an Arabic-speaking user (LC_ALL) and names the language
    // that run must see: the expectation then comes from that, not from what the program sees.
    const char* expected_langid = std::getenv("MW_EXPECT_USER_LANGID");
    if (expected_langid) {
        ASSERT_EQ(GetUserDefaultLangID(), std::stoul(expected_langid, nullptr, 16)) << "LC_ALL did not reach the program";
    }
    const WORD primary = PRIMARYLANGID(expected_langid ? std::stoul(expected_langid, nullptr, 16) : GetUserDefaultLangID());
    const bool user_reads_right_to_left = primary == LANG_ARABIC || primary == LANG_HEBREW;
    EXPECT_EQ(message_right_to_left(nullptr), user_reads_right_to_left) << std::hex << GetUserDefaultLangID();
    EXPECT_EQ((prepare_message(nullptr, L"t", L"c", MB_OK).flags & MB_RTLREADING) != 0, user_reads_right_to_left);

    // The setup's own languages are all written left to right.
    current_language().mask = setup_languages;
    EXPECT_FALSE(message_right_to_left(nullptr));
    current_language().mask = saved;
}

TEST(message_texts, none_text_or_string_id)
{
    struct text_case {
        message_text given;
        std::wstring expected;
    };
    const text_case cases[] = {
        {{}, L""},
        {nullptr, L""},
        {static_cast<const wchar_t*>(nullptr), L""},
        {L"Plain text", L"Plain text"},
        {std::wstring(L"As a string"), L"As a string"},
        {std::wstring_view(L"As a view"), L"As a view"},
        {L"", L""},
        {4100u, L"Caption from the table"},
        {MAKEINTRESOURCEW(4101), L"Text from the table: \u00ab \u00fcn\u00efc\u00f8d\u00e9 \u00bb"},
        {4199u, L""}, // no such string
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolve_message_text(c.given), c.expected) << c.expected;
    EXPECT_TRUE(message_text(MAKEINTRESOURCEW(0xFFFF)).id());
    EXPECT_TRUE(message_text(L"x").text());
    EXPECT_TRUE(message_text().is_none());
}

TEST(message_texts, caption_defaults_to_the_setup_version_text)
{
    const std::wstring expected = MW_EXPECTED_DEFAULT_CAPTION;
    EXPECT_EQ(default_message_caption(), expected);
    struct caption_case {
        message_text given;
        std::wstring expected;
    };
    const caption_case cases[] = {
        {{}, expected},
        {L"", expected},
        {4199u, expected}, // an id without text
        {L"Given", L"Given"},
        {4100u, L"Caption from the table"},
    };
    for (const auto& c : cases) {
        const message_request request = prepare_message(nullptr, 4101u, c.given, MB_OK);
        EXPECT_EQ(request.caption, c.expected);
        EXPECT_EQ(request.text, L"Text from the table: \u00ab \u00fcn\u00efc\u00f8d\u00e9 \u00bb");
        EXPECT_EQ(request.owner, nullptr);
    }
}

TEST(message_owner, found_among_the_threads_windows)
{
    EXPECT_EQ(find_message_owner(), nullptr); // no window yet

    // Hidden windows are never active: the search goes through the thread's windows.
    test_window popup({.style = WS_POPUP}); // no caption
    ASSERT_TRUE(popup.get());
    EXPECT_EQ(find_message_owner(), nullptr);

    test_window frame;
    test_window owned({.style = WS_POPUP, .parent = frame.get()}); // no caption of its own, but its root owner has one
    ASSERT_TRUE(frame.get() && owned.get());
    EXPECT_EQ(find_message_owner(), frame.get());

    // The owner is enabled for the box.
    EnableWindow(frame.get(), FALSE);
    {
        const modal_scope scope;
        EXPECT_EQ(scope.owner(), frame.get());
        EXPECT_TRUE(IsWindowEnabled(frame.get()));
    }
}

TEST(message_owner, the_active_windows_root_owner_and_its_last_active_popup)
{
    test_window frame({.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE});
    ASSERT_TRUE(frame.get());
    SetActiveWindow(frame.get());
    if (GetActiveWindow() != frame.get())
        GTEST_SKIP() << "this display driver does not activate windows";
    EXPECT_EQ(find_message_owner(), frame.get());

    // A dialog owned by the frame and active: the box belongs over the dialog.
    test_window dialog({.style = WS_POPUP | WS_CAPTION | WS_VISIBLE, .parent = frame.get()});
    ASSERT_TRUE(dialog.get());
    SetActiveWindow(dialog.get());
    ASSERT_EQ(GetActiveWindow(), dialog.get());
    EXPECT_EQ(find_message_owner(), dialog.get());
}

TEST(message_box, shown_before_any_window_has_no_owner)
{
    const std::wstring caption = caption_for("without owner");
    auto seen = answer_own_boxes({IDNO}, caption);
    const int result = show_message(4101u, caption, MB_YESNO);
    const auto shown = seen.get();
    ASSERT_EQ(shown.size(), 1u);
    const auto& box = shown[0];
    EXPECT_EQ(result, IDNO);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, L"Text from the table: \u00ab \u00fcn\u00efc\u00f8d\u00e9 \u00bb");
}

TEST(message_box, shown_over_a_window_is_owned_by_it)
{
    test_window frame({.style = WS_OVERLAPPEDWINDOW | WS_VISIBLE});
    ASSERT_TRUE(frame.get());
    const std::wstring caption = caption_for("over a window");
    auto seen = answer_own_boxes({IDOK}, caption);
    const int result = show_message(L"Owned text", caption, MB_OK);
    const auto shown = seen.get();
    ASSERT_EQ(shown.size(), 1u);
    const auto& box = shown[0];
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(box.owner, frame.get());
    EXPECT_EQ(box.text, L"Owned text");
}

TEST(message_box, system_error_with_the_default_caption)
{
    auto seen = answer_own_boxes({IDOK}, MW_EXPECTED_DEFAULT_CAPTION);
    const int result = show_system_error(ERROR_ACCESS_DENIED);
    const auto shown = seen.get();
    ASSERT_EQ(shown.size(), 1u);
    const auto& box = shown[0];
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(box.text, error_text(ERROR_ACCESS_DENIED));
}

// What reaches the entry function or a window procedure is shown with the code of its kind.
TEST(message_box, an_escaped_exception_shows_its_code)
{
    struct escaped_case {
        const char* what;
        std::exception_ptr failure;
        std::uint32_t code;
    };
    const escaped_case cases[] = {
        {"Win32 error", std::make_exception_ptr(std::system_error(ERROR_ACCESS_DENIED, std::system_category())),
         ERROR_ACCESS_DENIED},
        {"HRESULT", std::make_exception_ptr(std::system_error(mw::make_hresult_code(E_NOINTERFACE))),
         static_cast<std::uint32_t>(E_NOINTERFACE)},
        {"C runtime error", std::make_exception_ptr(std::system_error(ENOENT, std::generic_category())),
         static_cast<std::uint32_t>(E_UNEXPECTED)},
        {"rejected template", std::make_exception_ptr(fmt::format_error("invalid format string")),
         static_cast<std::uint32_t>(E_UNEXPECTED)},
        {"lack of memory", std::make_exception_ptr(std::bad_alloc()), static_cast<std::uint32_t>(E_OUTOFMEMORY)},
        {"not an exception class", std::make_exception_ptr(42), static_cast<std::uint32_t>(E_UNEXPECTED)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exception_error_code(c.failure), c.code) << c.what;

    auto seen = answer_own_boxes({IDOK}, MW_EXPECTED_DEFAULT_CAPTION);
    try {
        throw std::system_error(ERROR_BUSY, std::system_category());
    } catch (...) {
        show_current_exception();
    }
    const auto shown = seen.get();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, error_text(ERROR_BUSY));
}

// --- Error texts ---------------------------------------------------------------------------

bool has_trailing_space(const std::wstring& text)
{
    return !text.empty() && std::wstring_view(L" \t\r\n").find(text.back()) != std::wstring_view::npos;
}

TEST(error_texts, system_texts_exist_without_trailing_breaks)
{
    const std::wstring failure = system_error_text(e_fail_code, 0);
    ASSERT_FALSE(failure.empty());
    EXPECT_FALSE(has_trailing_space(failure));

    const std::uint32_t codes[] = {ERROR_BUSY, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
                                   0x80070005 /* E_ACCESSDENIED */, 0x8007000E /* E_OUTOFMEMORY */};
    for (const LANGID language : {LANGID{0}, LANGID{0x0409}, LANGID{0x040C}}) {
        for (const std::uint32_t code : codes) {
            const std::wstring text = system_error_text(code, language);
            EXPECT_FALSE(text.empty()) << std::hex << code;
            EXPECT_FALSE(has_trailing_space(text)) << std::hex << code;
            EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << std::hex << code; // one-line texts
            EXPECT_NE(text, system_error_text(e_fail_code, language)) << std::hex << code; // its own text
        }
    }
}

TEST(error_texts, codes_without_a_system_text_fall_back_to_the_failure_text)
{
    const std::wstring failure = system_error_text(e_fail_code, 0);
    // A facility no system defines.
    EXPECT_EQ(system_error_text(0x8FFF1234, 0), failure);
    EXPECT_EQ(system_error_text(0x8FFF1234, 0x0409), system_error_text(e_fail_code, 0x0409));
    // E_UNEXPECTED has a text on some systems only.
    if (details::format_system_message(0x8000FFFF, 0).empty())
        EXPECT_EQ(system_error_text(0x8000FFFF, 0), failure);
    else
        EXPECT_NE(system_error_text(0x8000FFFF, 0), failure);
}

// The fallbacks over a message source that records what it is asked.
std::vector<std::pair<std::uint32_t, LANGID>> asked;
std::wstring answer_only_in_language_0(std::uint32_t code, LANGID language)
{
    asked.emplace_back(code, language);
    return language == 0 && code == 5 ? L"Text in any language.\r\n \t" : L"";
}
std::wstring answer_blanks(std::uint32_t code, LANGID language)
{
    asked.emplace_back(code, language);
    return code == e_fail_code ? L"Failure text\r\n" : L" \r\n";
}
std::wstring answer_nothing(std::uint32_t code, LANGID language)
{
    asked.emplace_back(code, language);
    return L"";
}

TEST(error_texts, fallback_order)
{
    using step = std::pair<std::uint32_t, LANGID>;
    const std::uint32_t e_fail = e_fail_code;

    asked.clear();
    EXPECT_EQ(details::system_error_text(5, 0x040C, answer_only_in_language_0), L"Text in any language.");
    EXPECT_EQ(asked, (std::vector<step>{{5, 0x040C}, {5, 0}}));

    asked.clear();
    EXPECT_EQ(details::system_error_text(5, 0, answer_only_in_language_0), L"Text in any language.");
    EXPECT_EQ(asked, (std::vector<step>{{5, 0}}));

    // A text of blanks and line breaks counts as none.
    asked.clear();
    EXPECT_EQ(details::system_error_text(7, 0, answer_blanks), L"Failure text");
    EXPECT_EQ(asked, (std::vector<step>{{7, 0}, {e_fail, 0}}));

    // Nothing anywhere: "Error", after asking for the failure text in both languages.
    asked.clear();
    EXPECT_EQ(details::system_error_text(7, 0x0407, answer_nothing), L"Error");
    EXPECT_EQ(asked, (std::vector<step>{{7, 0x0407}, {7, 0}, {e_fail, 0x0407}, {e_fail, 0}}));
    asked.clear();
    EXPECT_EQ(details::system_error_text(e_fail, 0, answer_nothing), L"Error");
    EXPECT_EQ(asked, (std::vector<step>{{e_fail, 0}}));
}

TEST(error_texts, error_text_of_codes)
{
    const LANGID language = LANGIDFROMLCID(current_language().lcid);
    const std::wstring failure = system_error_text(e_fail_code, language);
    struct code_case {
        std::uint32_t code;
        std::wstring expected;
    };
    const code_case cases[] = {
        {ERROR_BUSY, system_error_text(ERROR_BUSY, language)},
        {0x80070005, system_error_text(0x80070005, language)},
        {e_fail_code, failure},
        // Customer codes: a string id when bit 0x08000000 is set, else the failure text.
        {0x20000000u | 0x08000000u | 4102u, L"Error text from the table"},
        {0xA0000000u | 0x08000000u | 4102u, L"Error text from the table"},
        {0x20000000u | 0x08000000u | 4199u, failure}, // no such string
        {0x20000000u | 4102u, failure},
        {0xA0000000u | 5u, failure},
    };
    for (const auto& c : cases) {
        const std::wstring text = error_text(c.code);
        EXPECT_EQ(text, c.expected) << std::hex << c.code;
        EXPECT_FALSE(text.empty()) << std::hex << c.code;
    }
}

} // namespace
