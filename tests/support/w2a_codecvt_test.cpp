#include "support/w2a_codecvt.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>

namespace {

using mw::details::w2a_codecvt;

// Runs one test with the thread's locale, and so its ANSI code page, set.
class w2a_codecvt_test : public testing::Test {
protected:
    void use_thread_locale(LANGID language)
    {
        ASSERT_TRUE(SetThreadLocale(MAKELCID(language, SORT_DEFAULT)));
        CPINFOEXW info{};
        ASSERT_TRUE(GetCPInfoExW(CP_THREAD_ACP, 0, &info));
        code_page_ = info.CodePage;
    }
    void TearDown() override { SetThreadLocale(old_locale_); }

    std::string out(const std::wstring& text, std::codecvt_base::result expected = std::codecvt_base::ok)
    {
        std::mbstate_t st{};
        std::string bytes(text.size() * static_cast<std::size_t>(cvt_.max_length()), '\0');
        const wchar_t* next = nullptr;
        char* to_next = nullptr;
        EXPECT_EQ(cvt_.out(st, text.data(), text.data() + text.size(), next, bytes.data(), bytes.data() + bytes.size(),
                           to_next),
                  expected);
        EXPECT_EQ(next, text.data() + text.size());
        bytes.resize(to_next - bytes.data());
        return bytes;
    }

    std::wstring in(const std::string& bytes)
    {
        std::mbstate_t st{};
        std::wstring text(bytes.size(), L'\0');
        const char* next = nullptr;
        wchar_t* to_next = nullptr;
        EXPECT_EQ(cvt_.in(st, bytes.data(), bytes.data() + bytes.size(), next, text.data(), text.data() + text.size(),
                          to_next),
                  std::codecvt_base::ok);
        EXPECT_EQ(next, bytes.data() + bytes.size());
        text.resize(to_next - text.data());
        return text;
    }

    LCID old_locale_ = GetThreadLocale();
    unsigned code_page_ = 0;
    w2a_codecvt cvt_;
};

TEST_F(w2a_codecvt_test, converts_with_a_western_code_page_without_best_fit)
{
    use_thread_locale(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_EQ(code_page_, 1252u);
    EXPECT_EQ(out(L"fr-FR caf\x00e9 \x20ac"), "fr-FR caf\xE9 \x80");
    // Without the "no best fit" flag U+0100 would become "A".
    EXPECT_EQ(out(L"\x0100\x4E2D"), "??");
    EXPECT_EQ(in("caf\xE9 \x80"), L"caf\x00e9 \x20ac");
    EXPECT_EQ(cvt_.max_length(), 1);
    EXPECT_EQ(cvt_.encoding(), 1);
    const std::string bytes = "abc\xE9";
    for (std::size_t max = 0; max <= 5; ++max) {
        std::mbstate_t st{};
        EXPECT_EQ(cvt_.length(st, bytes.data(), bytes.data() + bytes.size(), max),
                  static_cast<int>(std::min<std::size_t>(max, 4)));
    }
}

TEST_F(w2a_codecvt_test, converts_with_a_double_byte_code_page)
{
    use_thread_locale(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
    ASSERT_EQ(code_page_, 932u);
    EXPECT_EQ(out(L"\x65E5\x672C" L"a"), "\x93\xFA\x96\x7B" "a");
    EXPECT_EQ(in("\x93\xFA\x96\x7B" "a"), L"\x65E5\x672C" L"a");
    EXPECT_EQ(cvt_.max_length(), 2);
    EXPECT_EQ(cvt_.encoding(), 0);
    // length() counts the bytes of whole characters.
    const std::string bytes = "\x93\xFA" "a\x96\x7B";
    const int expected[] = {0, 2, 3, 5, 5};
    for (std::size_t max = 0; max < std::size(expected); ++max) {
        std::mbstate_t st{};
        EXPECT_EQ(cvt_.length(st, bytes.data(), bytes.data() + bytes.size(), max), expected[max]) << max;
    }
}

TEST_F(w2a_codecvt_test, reports_empty_input_no_room_and_too_little_room)
{
    std::mbstate_t st{};
    const std::wstring text = L"locale";
    char bytes[4] = {'#', '#', '#', '#'};
    const wchar_t* next = nullptr;
    char* to_next = nullptr;

    EXPECT_EQ(cvt_.out(st, text.data(), text.data(), next, bytes, bytes + 4, to_next), std::codecvt_base::ok);
    EXPECT_EQ(to_next, bytes);

    // No room at all: nothing is written (the system call would only measure).
    EXPECT_EQ(cvt_.out(st, text.data(), text.data() + text.size(), next, bytes, bytes, to_next),
              std::codecvt_base::partial);
    EXPECT_EQ(next, text.data());
    EXPECT_EQ(to_next, bytes);
    EXPECT_EQ(std::string(bytes, 4), "####");

    // Room for part of it: the system converts nothing.
    EXPECT_EQ(cvt_.out(st, text.data(), text.data() + text.size(), next, bytes, bytes + 4, to_next),
              std::codecvt_base::error);
    EXPECT_EQ(next, text.data());
    EXPECT_EQ(to_next, bytes);

    const std::string narrow = "locale";
    wchar_t wide[4];
    const char* narrow_next = nullptr;
    wchar_t* wide_next = nullptr;
    EXPECT_EQ(cvt_.in(st, narrow.data(), narrow.data() + narrow.size(), narrow_next, wide, wide, wide_next),
              std::codecvt_base::partial);
    EXPECT_EQ(cvt_.in(st, narrow.data(), narrow.data() + narrow.size(), narrow_next, wide, wide + 4, wide_next),
              std::codecvt_base::error);
    EXPECT_EQ(narrow_next, narrow.data());

    EXPECT_EQ(cvt_.unshift(st, bytes, bytes + 4, to_next), std::codecvt_base::ok);
    EXPECT_EQ(to_next, bytes);
}

TEST_F(w2a_codecvt_test, serves_as_a_locale_facet)
{
    const std::locale loc(std::locale::classic(), new w2a_codecvt);
    const auto& cvt = std::use_facet<std::codecvt<wchar_t, char, std::mbstate_t>>(loc);
    EXPECT_NE(dynamic_cast<const w2a_codecvt*>(&cvt), nullptr);
    EXPECT_EQ(dynamic_cast<const w2a_codecvt&>(cvt).code_page(), static_cast<unsigned>(CP_THREAD_ACP));
    std::mbstate_t st{};
    const std::wstring text = L"de-DE";
    char bytes[16];
    const wchar_t* next = nullptr;
    char* to_next = nullptr;
    EXPECT_EQ(cvt.out(st, text.data(), text.data() + text.size(), next, bytes, bytes + 16, to_next),
              std::codecvt_base::ok);
    EXPECT_EQ(std::string(bytes, to_next), "de-DE");
}

} // namespace
