#include "support/txtf.hpp"

#include "tests/scratch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

using namespace std::string_literals;
namespace txtf = mw::txtf;
using cvt_t = mw::txtf::codecvt<wchar_t>;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;

constexpr std::size_t whole = std::numeric_limits<std::size_t>::max();

// A facet of the given mode over the classic locale, kept alive by its own locale.
struct facet {
    explicit facet(std::uint32_t mode)
        : loc(std::locale::classic(), new cvt_t(std::locale::classic(), mode)), cvt(std::use_facet<cvt_t>(loc))
    {
    }
    std::locale loc;
    const cvt_t& cvt;
};

std::uint32_t state_word(const std::mbstate_t& st)
{
    return mw::txtf::details::state_word(st);
}

std::string hex(std::string_view bytes)
{
    std::string s;
    for (unsigned char b : bytes) {
        static const char digits[] = "0123456789ABCDEF";
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string units(std::wstring_view text)
{
    std::string s;
    for (wchar_t c : text) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%s%04X", s.empty() ? "" : " ", static_cast<unsigned>(c));
        s += buf;
    }
    return s;
}

// Feeds `text` to out() `in_chunk` units at a time with `out_room` bytes of room per call, the way
// a file buffer does, and checks the end with unshift().
std::string encode(const cvt_t& cvt, std::wstring_view text, std::size_t in_chunk = whole,
                   std::size_t out_room = 64, std::mbstate_t* final_state = nullptr)
{
    std::mbstate_t st{};
    std::string bytes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.size() - pos < in_chunk ? text.size() : pos + in_chunk;
        const wchar_t* from = text.data() + pos;
        const wchar_t* next = from;
        std::vector<char> out(out_room);
        char* to_next = out.data();
        const auto r = cvt.out(st, from, text.data() + end, next, out.data(), out.data() + out.size(), to_next);
        EXPECT_NE(r, std::codecvt_base::error);
        bytes.append(out.data(), to_next);
        if (next == from && to_next == out.data()) {
            ADD_FAILURE() << "out() made no progress at unit " << pos;
            break;
        }
        pos = next - text.data();
    }
    char tail[8];
    char* tail_next = tail;
    EXPECT_EQ(cvt.unshift(st, tail, tail + sizeof tail, tail_next), std::codecvt_base::ok);
    EXPECT_EQ(tail_next, tail);
    if (final_state)
        *final_state = st;
    return bytes;
}

struct decode_result {
    std::wstring text;
    std::size_t left_over = 0; // bytes never consumed (the input ended inside a character)
    std::mbstate_t state{};
};

// Feeds `bytes` to in() `in_chunk` bytes at a time, keeping what was not consumed in front of the
// next chunk, with `out_room` units of room per call: what a file buffer does.
decode_result decode(const cvt_t& cvt, std::string_view bytes, std::size_t in_chunk = whole,
                     std::size_t out_room = 256)
{
    decode_result res;
    std::string pending;
    std::size_t fed = 0;
    for (;;) {
        const std::size_t n = std::min(in_chunk, bytes.size() - fed);
        pending.append(bytes.substr(fed, n));
        fed += n;
        for (;;) {
            const char* from = pending.data();
            const char* next = from;
            std::vector<wchar_t> out(out_room);
            wchar_t* to_next = out.data();
            const auto r = cvt.in(res.state, from, from + pending.size(), next, out.data(), out.data() + out_room,
                                  to_next);
            EXPECT_NE(r, std::codecvt_base::error);
            res.text.append(out.data(), to_next);
            pending.erase(0, next - from);
            if (r == std::codecvt_base::ok || (next == from && to_next == out.data()))
                break;
        }
        if (fed == bytes.size())
            break;
    }
    res.left_over = pending.size();
    return res;
}

// ---------------------------------------------------------------------------------------------
// Mode word and the facet's properties

TEST(txtf_mode, is_normalised_field_by_field)
{
    struct mode_case {
        std::uint32_t given;
        std::uint32_t kept;
    } const cases[] = {
        {txtf::utf16, txtf::utf16},
        {0x3, txtf::automatic},
        {0xF | txtf::eol_lf, txtf::automatic | txtf::eol_lf},
        {txtf::ansi, txtf::ansi | txtf::no_bom},
        {txtf::ansi | txtf::bom, txtf::ansi | txtf::no_bom},
        {txtf::utf8 | 0x30, txtf::utf8},
        {txtf::utf8 | txtf::no_bom, txtf::utf8 | txtf::no_bom},
        {txtf::utf16 | 0xC0, txtf::utf16},
        {txtf::utf16 | 0x140, txtf::utf16},
        {txtf::utf32 | 0xC00, txtf::utf32},
        {txtf::utf32 | txtf::big_endian | txtf::eol_cr | txtf::bom,
         txtf::utf32 | txtf::big_endian | txtf::eol_cr | txtf::bom},
        {txtf::utf8 | 0x200 | 0xF000, txtf::utf8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(txtf::normalise_mode(c.given), c.kept) << std::hex << c.given;
        EXPECT_EQ(facet(c.given).cvt.mode(), c.kept) << std::hex << c.given;
    }
}

TEST(txtf_codecvt, reports_its_widths_by_mode)
{
    const auto& base = std::use_facet<std::codecvt<wchar_t, char, std::mbstate_t>>(std::locale::classic());
    const int b = base.max_length();
    struct width_case {
        std::uint32_t mode;
        int max_length;
        int encoding;
    } const cases[] = {
        {txtf::utf8, 9, -1},
        {txtf::utf8 | txtf::no_bom, 6, -1},
        {txtf::utf8 | txtf::no_bom | txtf::eol_lf, 6, 0},
        {txtf::utf16, 6, -1},
        {txtf::utf16 | txtf::eol_lf, 6, -1},
        {txtf::utf16 | txtf::no_bom, 4, -1},
        {txtf::utf16 | txtf::no_bom | txtf::eol_crlf, 4, 0},
        {txtf::utf16 | txtf::no_bom | txtf::eol_cr, 4, 0},
        {txtf::utf32, 12, -1},
        {txtf::utf32 | txtf::no_bom, 8, -1},
        {txtf::utf32 | txtf::eol_lf, 8, -1},
        {txtf::utf32 | txtf::no_bom | txtf::eol_cr, 4, 4},
        {txtf::utf32 | txtf::no_bom | txtf::eol_crlf, 8, 0},
        {txtf::ansi, b * 2, -1},
        {txtf::ansi | txtf::eol_lf, b, base.encoding()},
        {txtf::ansi | txtf::eol_crlf, b * 2, 0},
        {txtf::automatic, std::max(b * 2, 12), -1},
        {txtf::automatic | txtf::eol_cr, std::max(b * 2, 9), -1},
        {txtf::automatic | txtf::no_bom, std::max(b * 2, 8), -1},
        {txtf::automatic | txtf::no_bom | txtf::eol_lf, std::max(b * 2, 6), 0},
    };
    for (const auto& c : cases) {
        const facet f(c.mode);
        EXPECT_EQ(f.cvt.max_length(), c.max_length) << std::hex << c.mode;
        EXPECT_EQ(f.cvt.encoding(), c.encoding) << std::hex << c.mode;
        EXPECT_FALSE(f.cvt.always_noconv());
    }
}

TEST(txtf_codecvt, rests_on_the_base_of_a_facet_it_is_made_from)
{
    const std::locale utf16_locale(std::locale::classic(), new cvt_t(std::locale::classic(), txtf::utf16));
    const facet f(txtf::ansi);
    const std::locale ansi_locale(std::locale::classic(), new cvt_t(utf16_locale, txtf::ansi));
    const auto& ansi_over_utf16 = std::use_facet<cvt_t>(ansi_locale);
    EXPECT_EQ(&ansi_over_utf16.base(), &f.cvt.base());
    EXPECT_EQ(encode(ansi_over_utf16, L"A\n"), "A\r\n");
}

// ---------------------------------------------------------------------------------------------
// Writing

struct writing_case {
    const char* name;
    std::uint32_t mode;
    std::wstring text;
    std::string bytes;
};

const writing_case writing_cases[] = {
    {"utf16_a_lf", txtf::utf16, L"A\n", "\xFF\xFE\x41\x00\x0D\x00\x0A\x00"s},
    {"utf16_a_cr_lf", txtf::utf16, L"A\r\n", "\xFF\xFE\x41\x00\x0D\x00\x0A\x00"s},
    {"utf16_big_endian", txtf::utf16 | txtf::big_endian, L"A\x00e9", "\xFE\xFF\x00\x41\x00\xE9"s},
    {"utf16_no_bom", txtf::utf16 | txtf::no_bom, L"A", "\x41\x00"s},
    {"utf16_pair", txtf::utf16 | txtf::no_bom, L"\xD83D\xDE00", "\x3D\xD8\x00\xDE"s},
    {"utf16_pair_big_endian", txtf::utf16 | txtf::big_endian | txtf::no_bom, L"\xD83D\xDE00",
     "\xD8\x3D\xDE\x00"s},
    {"utf16_mark_inside", txtf::utf16 | txtf::big_endian, L"A\xFEFF", "\xFE\xFF\x00\x41\xFE\xFF"s},
    {"utf8_bom", txtf::utf8, L"x", "\xEF\xBB\xBF\x78"s},
    {"utf8_bom_asked", txtf::utf8 | txtf::bom, L"x", "\xEF\xBB\xBF\x78"s},
    {"utf8_widths", txtf::utf8 | txtf::no_bom, L"A\x00e9\x20ac\xD83D\xDE00",
     "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"s},
    {"utf8_mixed_line_ends", txtf::utf8 | txtf::no_bom, L"a\rb\nc\r\nd\r\r\n", "a\r\nb\r\nc\r\nd\r\n\r\n"},
    {"utf8_crlf", txtf::utf8 | txtf::no_bom | txtf::eol_crlf, L"a\rb\nc\r\nd\r\r\n", "a\r\nb\r\nc\r\nd\r\n\r\n"},
    {"utf8_lf", txtf::utf8 | txtf::no_bom | txtf::eol_lf, L"a\rb\nc\r\nd\r\r\n", "a\nb\nc\nd\n\n"},
    {"utf8_cr", txtf::utf8 | txtf::no_bom | txtf::eol_cr, L"a\rb\nc\r\nd\r\r\n", "a\rb\rc\rd\r\r"},
    {"utf8_unpaired_high", txtf::utf8 | txtf::no_bom, L"\xD800" L"A", "\xEF\xBF\xBD" "A"},
    {"utf8_unpaired_low", txtf::utf8 | txtf::no_bom, L"A\xDC00", "A\xEF\xBF\xBD"},
    {"utf8_high_before_pair", txtf::utf8 | txtf::no_bom, L"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    {"utf8_noncharacters", txtf::utf8 | txtf::no_bom, L"\xFFFE\xFFFF\xD83F\xDFFE",
     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"utf32_little_endian", txtf::utf32, L"A", "\xFF\xFE\x00\x00\x41\x00\x00\x00"s},
    {"utf32_big_endian_no_bom", txtf::utf32 | txtf::big_endian | txtf::no_bom, L"A\n",
     "\x00\x00\x00\x41\x00\x00\x00\x0D\x00\x00\x00\x0A"s},
    {"utf32_pair", txtf::utf32 | txtf::no_bom, L"\xD83D\xDE00", "\x00\xF6\x01\x00"s},
    // The classic locale's conversion is Latin-1; other characters become "?".
    {"ansi", txtf::ansi, L"caf\x00e9\n\x20ac", "caf\xE9\r\n?"},
    {"ansi_never_a_bom", txtf::ansi | txtf::bom, L"x\xD83D\xDE00", "x?"},
    {"automatic_writes_ansi", txtf::automatic, L"A\n\x00e9", "A\r\n\xE9"},
};

void PrintTo(const writing_case& c, std::ostream* os)
{
    *os << c.name;
}

class txtf_writing : public testing::TestWithParam<writing_case> {};

TEST_P(txtf_writing, gives_the_exact_bytes)
{
    const facet f(GetParam().mode);
    EXPECT_EQ(hex(encode(f.cvt, GetParam().text)), hex(GetParam().bytes));
}

TEST_P(txtf_writing, gives_the_same_bytes_one_unit_at_a_time_into_tight_room)
{
    const facet f(GetParam().mode);
    const std::size_t tight = static_cast<std::size_t>(f.cvt.max_length());
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}})
        EXPECT_EQ(hex(encode(f.cvt, GetParam().text, chunk, tight)), hex(GetParam().bytes)) << "chunk " << chunk;
}

INSTANTIATE_TEST_SUITE_P(cases, txtf_writing, testing::ValuesIn(writing_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(txtf_writing_state, records_encoding_order_mark_and_line_style)
{
    const facet f(txtf::utf16);
    std::mbstate_t st{};
    encode(f.cvt, L"A\n", whole, 64, &st);
    namespace d = mw::txtf::details;
    const std::uint32_t w = state_word(st);
    EXPECT_EQ(w & d::state_encoding_mask, d::state_utf16);
    EXPECT_EQ(w & d::state_bom_mask, d::state_bom_present);
    EXPECT_EQ((w >> d::state_order_shift) & 3, 1u);
    EXPECT_EQ((w >> d::state_eol_shift) & 7, d::state_eol_crlf);
}

TEST(txtf_writing_state, writes_nothing_that_does_not_fit)
{
    // The mark and the character go out together or not at all.
    const facet f(txtf::utf16);
    std::mbstate_t st{};
    const wchar_t text[] = L"A";
    const wchar_t* next = nullptr;
    char out[3];
    char* to_next = nullptr;
    EXPECT_EQ(f.cvt.out(st, text, text + 1, next, out, out + 3, to_next), std::codecvt_base::partial);
    EXPECT_EQ(next, text);
    EXPECT_EQ(to_next, out);
    EXPECT_EQ(state_word(st), 0u);
}

TEST(txtf_writing_state, keeps_a_high_surrogate_until_its_low_half)
{
    const facet f(txtf::utf8 | txtf::no_bom);
    std::mbstate_t st{};
    const std::wstring text = L"A\xD83D\xDE00";
    const wchar_t* next = nullptr;
    char out[16];
    char* to_next = nullptr;
    EXPECT_EQ(f.cvt.out(st, text.data(), text.data() + 2, next, out, out + 16, to_next), std::codecvt_base::partial);
    EXPECT_EQ(next, text.data() + 2);
    EXPECT_EQ(std::string(out, to_next), "A");

    char tail[4];
    char* tail_next = nullptr;
    EXPECT_EQ(f.cvt.unshift(st, tail, tail + 4, tail_next), std::codecvt_base::error);
    EXPECT_EQ(tail_next, tail);

    EXPECT_EQ(f.cvt.out(st, text.data() + 2, text.data() + 3, next, out, out + 16, to_next), std::codecvt_base::ok);
    EXPECT_EQ(hex(std::string(out, to_next)), hex("\xF0\x9F\x98\x80"));
    EXPECT_EQ(f.cvt.unshift(st, tail, tail + 4, tail_next), std::codecvt_base::ok);
}

// ---------------------------------------------------------------------------------------------
// Reading

struct reading_case {
    const char* name;
    std::uint32_t mode;
    std::string bytes;
    std::wstring text;
};

const reading_case reading_cases[] = {
    {"empty", txtf::automatic, "", L""},
    {"utf8_mark", txtf::automatic, "\xEF\xBB\xBF\x78", L"x"},
    {"line_ends", txtf::automatic, "\x41\x0D\x0A\x42\x0D\x43\x0A", L"A\nB\nC\n"},
    {"cr_cr_lf", txtf::automatic, "a\r\r\nb", L"a\n\nb"},
    // E9 cannot start a UTF-8 character before "b": the file is ANSI (Latin-1 in the classic locale).
    {"ansi_byte_fixes_ansi", txtf::automatic, "a\xE9" "b", L"a\x00e9" L"b"},
    {"ansi_stays_fixed", txtf::automatic, "\xE9 \xC3\xA9", L"\x00e9 \x00c3\x00a9"},
    {"utf8_pair_fixes_utf8", txtf::automatic, "a\xC3\xA9" "b", L"a\x00e9" L"b"},
    {"utf8_stays_fixed", txtf::automatic, "\xC3\xA9\xE9 x", L"\x00e9\xFFFD x"},
    {"utf8_replacement_char_fixes_utf8", txtf::automatic, "\xEF\xBF\xBD" "x\xC3\xA9", L"\xFFFD" L"x\x00e9"},
    {"encoded_surrogate_is_not_utf8", txtf::automatic, "\xED\xA0\x80", L"\x00ed\x00a0\x0080"},
    {"above_unicode_is_not_utf8", txtf::automatic, "\xF4\x90\x80\x80", L"\x00f4\x0090\x0080\x0080"},
    {"utf8_supplementary", txtf::automatic, "\xF0\x9F\x98\x80!", L"\xD83D\xDE00!"},
    {"utf16_little_endian", txtf::automatic, "\xFF\xFE\x41\x00"s, L"A"},
    {"utf16_big_endian", txtf::automatic, "\xFE\xFF\x00\x41"s, L"A"},
    {"utf32_little_endian", txtf::automatic, "\xFF\xFE\x00\x00\x41\x00\x00\x00"s, L"A"},
    {"utf32_big_endian", txtf::automatic, "\x00\x00\xFE\xFF\x00\x00\x00\x41"s, L"A"},
    {"utf16_mark_only", txtf::automatic, "\xFF\xFE", L""},
    {"utf16_big_endian_mark_only", txtf::automatic, "\xFE\xFF", L""},
    {"utf8_mark_only", txtf::automatic, "\xEF\xBB\xBF", L""},
    {"utf16_line_ends", txtf::automatic, "\xFF\xFE\x41\x00\x0D\x00\x0A\x00\x42\x00\x0A\x00"s, L"A\nB\n"},
    {"utf16_pair", txtf::automatic, "\xFF\xFE\x3D\xD8\x00\xDE"s, L"\xD83D\xDE00"},
    {"utf16_high_then_other", txtf::automatic, "\xFF\xFE\x3D\xD8\x41\x00"s, L"\xFFFD" L"A"},
    {"utf16_lone_low", txtf::automatic, "\xFF\xFE\x00\xDC\x41\x00"s, L"\xFFFD" L"A"},
    {"utf16_noncharacters", txtf::automatic, "\xFF\xFE\xFE\xFF\xFF\xFF"s, L"\xFFFD\xFFFD"},
    {"utf16_later_mark_is_text", txtf::automatic, "\xFF\xFE\x41\x00\xFF\xFE"s, L"A\xFEFF"},
    {"utf32_invalid", txtf::automatic, "\xFF\xFE\x00\x00\x00\xD8\x00\x00\x00\x00\x11\x00\x00\xF6\x01\x00"s,
     L"\xFFFD\xFFFD\xD83D\xDE00"},
    // After a mark, UTF-8 is read leniently but never yields what strict UTF-8 forbids.
    {"lenient_stray_continuation", txtf::automatic, "\xEF\xBB\xBF\x80", L"\xFFFD"},
    {"lenient_cut_short", txtf::automatic, "\xEF\xBB\xBF\xC3" "A", L"\xFFFD" L"A"},
    {"lenient_encoded_pair", txtf::automatic, "\xEF\xBB\xBF\xED\xA0\xBD\xED\xB8\x80", L"\xD83D\xDE00"},
    {"lenient_high_alone", txtf::automatic, "\xEF\xBB\xBF\xED\xA0\xBD" "A", L"\xFFFD" L"A"},
    {"lenient_low_alone", txtf::automatic, "\xEF\xBB\xBF\xED\xB8\x80", L"\xFFFD"},
    {"lenient_five_bytes", txtf::automatic, "\xEF\xBB\xBF\xF8\x88\x80\x80\x80" "A", L"\xFFFD" L"A"},
    {"lenient_six_bytes", txtf::automatic, "\xEF\xBB\xBF\xFC\x84\x80\x80\x80\x80" "A", L"\xFFFD" L"A"},
    {"lenient_above_unicode", txtf::automatic, "\xEF\xBB\xBF\xF4\x90\x80\x80", L"\xFFFD"},
    {"lenient_overlong_slash", txtf::automatic, "\xEF\xBB\xBF\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF",
     L"\xFFFD\xFFFD\xFFFD"},
    {"lenient_noncharacter", txtf::automatic, "\xEF\xBB\xBF\xEF\xBF\xBE", L"\xFFFD"},
    {"mode_utf16_takes_its_mark", txtf::utf16, "\xFF\xFE\x41\x00"s, L"A"},
    {"mode_utf16_no_bom_keeps_it", txtf::utf16 | txtf::no_bom, "\xFF\xFE\x41\x00"s, L"\xFEFF" L"A"},
    {"mode_utf16_big_endian", txtf::utf16 | txtf::big_endian, "\xFE\xFF\x00\x41\xD8\x3D\xDE\x00"s,
     L"A\xD83D\xDE00"},
    {"mode_utf8_takes_its_mark", txtf::utf8, "\xEF\xBB\xBF\x78\x0D", L"x\n"},
    {"mode_utf32", txtf::utf32 | txtf::big_endian, "\x00\x00\x00\x41\x00\x01\xF6\x00"s, L"A\xD83D\xDE00"},
    {"mode_ansi_no_mark", txtf::ansi, "\xEF\xBB\xBF", L"\x00ef\x00bb\x00bf"},
    // Where the stream says lines end in one character, each CR and each LF ends a line.
    {"mode_lf_counts_every_end", txtf::utf8 | txtf::eol_lf, "a\r\nb\nc\rd", L"a\n\nb\nc\nd"},
};

void PrintTo(const reading_case& c, std::ostream* os)
{
    *os << c.name;
}

class txtf_reading : public testing::TestWithParam<reading_case> {};

TEST_P(txtf_reading, gives_the_exact_text)
{
    const facet f(GetParam().mode);
    const decode_result r = decode(f.cvt, GetParam().bytes);
    EXPECT_EQ(units(r.text), units(GetParam().text));
    EXPECT_EQ(r.left_over, 0u);
}

TEST_P(txtf_reading, gives_the_same_text_however_split)
{
    const facet f(GetParam().mode);
    for (std::size_t chunk = 1; chunk <= 4; ++chunk)
        for (std::size_t room = 1; room <= 3; ++room) {
            const decode_result r = decode(f.cvt, GetParam().bytes, chunk, room);
            EXPECT_EQ(units(r.text), units(GetParam().text)) << "chunk " << chunk << " room " << room;
            EXPECT_EQ(r.left_over, 0u);
        }
}

TEST_P(txtf_reading, measures_what_it_converts)
{
    // length() gives the bytes that in() consumes for the same number of wide characters.
    const facet f(GetParam().mode);
    const std::string& bytes = GetParam().bytes;
    for (std::size_t max = 0; max <= GetParam().text.size() + 1; ++max) {
        std::mbstate_t st1{}, st2{};
        const int length = f.cvt.length(st1, bytes.data(), bytes.data() + bytes.size(), max);
        std::vector<wchar_t> out(max + 1);
        const char* next = nullptr;
        wchar_t* to_next = nullptr;
        f.cvt.in(st2, bytes.data(), bytes.data() + bytes.size(), next, out.data(), out.data() + max, to_next);
        EXPECT_EQ(length, next - bytes.data()) << "max " << max;
        EXPECT_EQ(state_word(st1), state_word(st2)) << "max " << max;
    }
}

INSTANTIATE_TEST_SUITE_P(cases, txtf_reading, testing::ValuesIn(reading_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(txtf_reading_state, fixes_the_encoding_only_when_the_bytes_tell)
{
    namespace d = mw::txtf::details;
    struct state_case {
        const char* bytes;
        std::uint32_t encoding;
        std::uint32_t bom;
    } const cases[] = {
        {"plain ASCII", 0, d::state_bom_absent},
        {"caf\xE9\n", d::state_ansi, d::state_bom_absent},
        {"caf\xC3\xA9\n", d::state_utf8, d::state_bom_absent},
        {"\xEF\xBB\xBF", d::state_utf8, d::state_bom_present},
        {"\xFE\xFF", d::state_utf16, d::state_bom_present},
    };
    const facet f(txtf::automatic);
    for (const auto& c : cases) {
        const decode_result r = decode(f.cvt, c.bytes);
        EXPECT_EQ(state_word(r.state) & d::state_encoding_mask, c.encoding) << c.bytes;
        EXPECT_EQ(state_word(r.state) & d::state_bom_mask, c.bom) << c.bytes;
    }
}

TEST(txtf_reading_state, tracks_the_line_style_met)
{
    namespace d = mw::txtf::details;
    struct style_case {
        const char* bytes;
        std::uint32_t style;
    } const cases[] = {
        {"no end", d::state_eol_none},
        {"a\r\nb\r\n", d::state_eol_crlf},
        {"a\nb\n", d::state_eol_lf},
        {"a\rb\rc", d::state_eol_cr},
        {"a\r\nb\n", d::state_eol_mixed},
        {"a\rb\r\n", d::state_eol_mixed},
    };
    for (std::uint32_t mode : {txtf::automatic, txtf::utf8 | txtf::eol_lf})
        for (const auto& c : cases) {
            const facet f(mode);
            const decode_result r = decode(f.cvt, c.bytes);
            EXPECT_EQ((state_word(r.state) >> d::state_eol_shift) & 7, c.style) << c.bytes << " mode " << mode;
        }
}

TEST(txtf_reading_state, waits_for_the_rest_of_a_character)
{
    const facet f(txtf::automatic);
    std::mbstate_t st{};
    const std::string bytes = "\xFF\xFE\x41\x00\x3D\xD8\x00"s;
    const char* next = nullptr;
    wchar_t out[4];
    wchar_t* to_next = nullptr;
    EXPECT_EQ(f.cvt.in(st, bytes.data(), bytes.data() + bytes.size(), next, out, out + 4, to_next),
              std::codecvt_base::partial);
    EXPECT_EQ(next, bytes.data() + 4);
    EXPECT_EQ(units({out, to_next}), units(L"A"));
}

TEST(txtf_reading_state, delivers_a_low_surrogate_that_did_not_fit_later)
{
    const facet f(txtf::automatic);
    std::mbstate_t st{};
    const std::string bytes = "\xF0\x9F\x98\x80";
    const char* next = nullptr;
    wchar_t out[1];
    wchar_t* to_next = nullptr;
    EXPECT_EQ(f.cvt.in(st, bytes.data(), bytes.data() + 4, next, out, out + 1, to_next), std::codecvt_base::partial);
    EXPECT_EQ(next, bytes.data()) << "the bytes wait until the whole character is out";
    EXPECT_EQ(units({out, to_next}), units(L"\xD83D"));
    EXPECT_EQ(f.cvt.in(st, next, next + 3, next, out, out + 1, to_next), std::codecvt_base::partial);
    EXPECT_EQ(to_next, out);
    EXPECT_EQ(f.cvt.in(st, next, bytes.data() + 4, next, out, out + 1, to_next), std::codecvt_base::ok);
    EXPECT_EQ(next, bytes.data() + 4);
    EXPECT_EQ(units({out, to_next}), units(L"\xDE00"));
}

TEST(txtf_reading_state, measures_characters_not_bytes)
{
    const facet f(txtf::automatic);
    const std::string bytes = "a\xC3\xA9\xF0\x9F\x98\x80" "b";
    struct length_case {
        std::size_t max;
        int bytes;
    } const cases[] = {{0, 0}, {1, 1}, {2, 3}, {3, 3}, {4, 7}, {5, 8}, {9, 8}};
    for (const auto& c : cases) {
        std::mbstate_t st{};
        EXPECT_EQ(f.cvt.length(st, bytes.data(), bytes.data() + bytes.size(), c.max), c.bytes) << c.max;
    }
}

// Where the UTF-16 text has a surrogate without its other half, its position; else npos.
std::size_t broken_surrogate(std::wstring_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return i;
            ++i;
        }
        else if (c >= 0xDC00 && c <= 0xDFFF)
            return i;
    }
    return std::wstring_view::npos;
}

const std::uint32_t every_reading_mode[] = {
    txtf::automatic, txtf::automatic | txtf::no_bom, txtf::utf8, txtf::utf16, txtf::utf16 | txtf::big_endian,
    txtf::utf32, txtf::utf32 | txtf::big_endian | txtf::eol_cr, txtf::ansi | txtf::eol_lf,
};

TEST(txtf_random_input, reads_as_well_formed_text_however_split)
{
    std::mt19937 random(20240611);
    // Bytes that matter to the decoders, so that marks and sequences form often.
    const unsigned char interesting[] = {0x00, 0x0A, 0x0D, 0x41, 0x80, 0xA0, 0xBB, 0xBF, 0xC3, 0xD8, 0xDC,
                                         0xE9, 0xED, 0xEF, 0xF0, 0xF4, 0xF8, 0xFC, 0xFE, 0xFF};
    for (int round = 0; round < 150; ++round) {
        std::string bytes(random() % 24, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random() % 2 ? interesting[random() % std::size(interesting)] : random() % 256);
        for (std::uint32_t mode : every_reading_mode) {
            SCOPED_TRACE(testing::Message() << hex(bytes) << " mode 0x" << std::hex << mode);
            const facet f(mode);
            const decode_result whole_read = decode(f.cvt, bytes);
            const decode_result split_read = decode(f.cvt, bytes, 1, 1);
            EXPECT_EQ(units(split_read.text), units(whole_read.text));
            EXPECT_EQ(split_read.left_over, whole_read.left_over);
            EXPECT_LT(whole_read.left_over, static_cast<std::size_t>(f.cvt.max_length()));
            EXPECT_EQ(broken_surrogate(whole_read.text), std::wstring_view::npos) << units(whole_read.text);
        }
    }
}

const std::uint32_t every_writing_mode[] = {
    txtf::automatic, txtf::utf8, txtf::utf8 | txtf::no_bom | txtf::eol_lf, txtf::utf16,
    txtf::utf16 | txtf::big_endian | txtf::eol_cr, txtf::utf32, txtf::utf32 | txtf::big_endian | txtf::no_bom,
    txtf::ansi,
};

TEST(txtf_random_input, writes_the_same_bytes_however_split_and_reads_them_back_well_formed)
{
    std::mt19937 random(20240612);
    const wchar_t interesting[] = {L'\n', L'\r', L'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xDBFF, 0xDC00, 0xFEFF, 0xFFFE};
    for (int round = 0; round < 150; ++round) {
        std::wstring text(random() % 16, L'\0');
        for (wchar_t& c : text)
            c = random() % 2 ? interesting[random() % std::size(interesting)] : static_cast<wchar_t>(random() % 0x10000);
        // A high surrogate at the very end would be refused at unshift(); give it its partner.
        if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF)
            text += static_cast<wchar_t>(0xDC00);
        for (std::uint32_t mode : every_writing_mode) {
            SCOPED_TRACE(testing::Message() << units(text) << " mode 0x" << std::hex << mode);
            const facet f(mode);
            const std::string bytes = encode(f.cvt, text);
            EXPECT_EQ(hex(encode(f.cvt, text, 1, static_cast<std::size_t>(f.cvt.max_length()))), hex(bytes));
            const facet reader(mode == txtf::automatic ? txtf::ansi : mode);
            const decode_result back = decode(reader.cvt, bytes);
            EXPECT_EQ(back.left_over, 0u);
            EXPECT_EQ(broken_surrogate(back.text), std::wstring_view::npos) << units(back.text);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Streams on real files

const std::wstring sample_text = L"Tilewright \x00e9t\x00e9 \xD83D\xDE00 tiles\n"
                                 L"second line \xD800\xDC00 and \x4E2D\x6587\n"
                                 L"\n"
                                 L"last line without end \xD83E\xDD8A";

std::wstring read_all(std::wistream& in)
{
    return {std::istreambuf_iterator<wchar_t>(in), std::istreambuf_iterator<wchar_t>()};
}

// Reads the file through a stream of the given mode, with the standard buffer or with none
// (one byte and one character at a time).
std::wstring read_file(const std::wstring& path, std::uint32_t mode, bool unbuffered)
{
    txtf::wifstream in(path, mode);
    if (unbuffered) {
        in.close();
        in.rdbuf()->pubsetbuf(nullptr, 0);
        in.open(path);
    }
    EXPECT_TRUE(in.is_open());
    std::wstring text = read_all(in);
    EXPECT_FALSE(in.bad());
    return text;
}

void write_file(const std::wstring& path, std::uint32_t mode, bool unbuffered, std::wstring_view text)
{
    txtf::wofstream out(path, mode);
    if (unbuffered) {
        out.close();
        out.rdbuf()->pubsetbuf(nullptr, 0);
        out.open(path);
    }
    out.exceptions(std::ios::failbit | std::ios::badbit);
    out << text;
    out.close();
}

TEST(txtf_streams, are_file_streams_with_the_modes_of_the_log)
{
    static_assert(std::is_base_of_v<std::basic_ofstream<wchar_t>, txtf::wofstream>);
    static_assert(std::is_base_of_v<std::basic_ifstream<wchar_t>, txtf::wifstream>);
    scratch_folder dir;
    const std::wstring path = dir / L"a.txt";
    {
        txtf::wofstream out(path);
        EXPECT_EQ(std::use_facet<cvt_t>(out.getloc()).mode(), txtf::utf16);
        out << L"A\n";
    }
    EXPECT_EQ(hex(read_bytes(path)), hex("\xFF\xFE\x41\x00\x0D\x00\x0A\x00"s));
    txtf::wifstream in(path);
    EXPECT_EQ(std::use_facet<cvt_t>(in.getloc()).mode(), txtf::automatic);
    EXPECT_EQ(units(read_all(in)), units(L"A\n"));
}

TEST(txtf_streams, write_and_read_a_log_line_by_line)
{
    // What the uninstall log does: write in UTF-16 with exceptions, read lines back in
    // automatic mode with exceptions on a bad state.
    scratch_folder dir;
    const std::filesystem::path path = dir.path() / L"Uninstall \x00e9\x4E2D.ulog";
    const std::vector<std::wstring> lines = {
        L"// Uninstall Log File v1", L"", L"0 : 000 : 1 -- C:\\Program Files\\Tilewright\\t\x00e9st \xD83D\xDE00.txt",
        L"1 : 1ff : 0 -- \x4E2D\x6587"};
    {
        txtf::wofstream out(path);
        out.exceptions(std::ios::failbit | std::ios::badbit);
        for (const auto& line : lines)
            out << line << L"\n";
        out.close();
    }
    const std::string bytes = read_bytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(hex(bytes.substr(0, 2)), "FF FE");
    std::size_t crlf = 0;
    for (std::size_t at = 0; (at = bytes.find("\x0D\x00\x0A\x00"s, at)) != std::string::npos; at += 4)
        ++crlf;
    EXPECT_EQ(crlf, lines.size()) << "every line end is CR LF";

    txtf::wifstream in(path.wstring());
    in.exceptions(std::ios::badbit);
    std::vector<std::wstring> back;
    for (std::wstring line; std::getline(in, line);)
        back.push_back(line);
    EXPECT_TRUE(in.eof());
    EXPECT_EQ(back, lines);
}

struct round_trip_mode {
    std::uint32_t mode;
    bool automatic_reads_it; // a mark says what the file is
};

std::vector<round_trip_mode> round_trip_modes()
{
    std::vector<round_trip_mode> modes;
    for (std::uint32_t encoding : {txtf::utf8, txtf::utf16, txtf::utf32})
        for (std::uint32_t bom : {txtf::bom_default, txtf::bom, txtf::no_bom})
            for (std::uint32_t order : {txtf::order_default, txtf::little_endian, txtf::big_endian})
                for (std::uint32_t eol : {txtf::eol_default, txtf::eol_crlf, txtf::eol_lf, txtf::eol_cr})
                    modes.push_back({encoding | bom | order | eol, bom != txtf::no_bom || encoding == txtf::utf8});
    return modes;
}

TEST(txtf_streams, round_trip_every_encoding_mark_order_and_line_end)
{
    scratch_folder dir;
    const std::wstring path = dir / L"round.txt";
    for (const auto& m : round_trip_modes())
        for (bool unbuffered : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode 0x" << std::hex << m.mode << (unbuffered ? " unbuffered" : ""));
            write_file(path, m.mode, unbuffered, sample_text);
            const std::string bytes = read_bytes(path);
            const std::uint32_t order = m.mode & txtf::order_mask;
            if ((m.mode & txtf::bom_mask) != txtf::no_bom) {
                const std::string expected_mark =
                    (m.mode & txtf::encoding_mask) == txtf::utf8 ? "\xEF\xBB\xBF"s
                    : (m.mode & txtf::encoding_mask) == txtf::utf16
                        ? (order == txtf::big_endian ? "\xFE\xFF"s : "\xFF\xFE"s)
                        : (order == txtf::big_endian ? "\x00\x00\xFE\xFF"s : "\xFF\xFE\x00\x00"s);
                EXPECT_EQ(hex(bytes.substr(0, expected_mark.size())), hex(expected_mark));
            }
            EXPECT_EQ(units(read_file(path, m.mode, unbuffered)), units(sample_text));
            if (m.automatic_reads_it) {
                EXPECT_EQ(units(read_file(path, txtf::automatic, unbuffered)), units(sample_text));
            }
        }
}

TEST(txtf_streams, round_trip_ansi)
{
    // Latin-1 text, as the classic locale's conversion has it.
    const std::wstring text = L"caf\x00e9 na\x00efve\nsecond line\n";
    scratch_folder dir;
    const std::wstring path = dir / L"ansi.txt";
    for (std::uint32_t mode : {txtf::ansi, txtf::automatic})
        for (bool unbuffered : {false, true}) {
            write_file(path, mode, unbuffered, text);
            EXPECT_EQ(hex(read_bytes(path)), hex("caf\xE9 na\xEFve\r\nsecond line\r\n"));
            EXPECT_EQ(units(read_file(path, mode, unbuffered)), units(text));
        }
}

class txtf_reading_files : public testing::TestWithParam<reading_case> {};

TEST_P(txtf_reading_files, give_the_same_text_buffered_or_not)
{
    scratch_folder dir;
    const std::wstring path = dir / L"in.txt";
    write_bytes(path, GetParam().bytes);
    EXPECT_EQ(units(read_file(path, GetParam().mode, false)), units(GetParam().text));
    EXPECT_EQ(units(read_file(path, GetParam().mode, true)), units(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(cases, txtf_reading_files, testing::ValuesIn(reading_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(txtf_streams, report_a_failed_open)
{
    scratch_folder dir;
    txtf::wifstream in(dir / L"missing.txt");
    EXPECT_TRUE(in.fail());
    EXPECT_THROW(in.exceptions(std::ios::failbit), std::ios_base::failure);

    txtf::wofstream out(dir / L"no such folder\\out.txt");
    EXPECT_TRUE(out.fail());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / L"no such folder"));
}

TEST(txtf_streams, truncate_on_open)
{
    scratch_folder dir;
    const std::wstring path = dir / L"old.txt";
    write_bytes(path, std::string(100, 'x'));
    txtf::wofstream(path) << L"A";
    EXPECT_EQ(hex(read_bytes(path)), hex("\xFF\xFE\x41\x00"s));
}

// Sets the global locale for one test.
class global_locale_guard {
public:
    explicit global_locale_guard(const std::locale& loc) : old_(std::locale::global(loc)) {}
    ~global_locale_guard() { std::locale::global(old_); }
    global_locale_guard(const global_locale_guard&) = delete;
    global_locale_guard& operator=(const global_locale_guard&) = delete;

private:
    std::locale old_;
};

TEST(txtf_streams, keep_a_facet_the_locale_already_carries)
{
    global_locale_guard guard(
        std::locale(std::locale::classic(), new cvt_t(std::locale::classic(), txtf::utf8 | txtf::no_bom)));
    scratch_folder dir;
    const std::wstring path = dir / L"kept.txt";
    txtf::wofstream(path) << L"\x00e9\n";
    EXPECT_EQ(hex(read_bytes(path)), hex("\xC3\xA9\r\n"));

    // An explicit mode replaces it.
    txtf::wofstream(path, txtf::utf16 | txtf::big_endian) << L"\x00e9";
    EXPECT_EQ(hex(read_bytes(path)), hex("\xFE\xFF\x00\xE9"s));
}

TEST(txtf_streams, fail_to_close_with_half_a_surrogate_pair)
{
    scratch_folder dir;
    const std::wstring path = dir / L"half.txt";
    txtf::wofstream out(path);
    out << L"A" << L'\xD83D';
    EXPECT_TRUE(out.good());
    out.close();
    EXPECT_TRUE(out.fail());
    EXPECT_EQ(hex(read_bytes(path)), hex("\xFF\xFE\x41\x00"s));
}

TEST(txtf_streams, deliver_every_whole_character_of_a_truncated_file)
{
    // The standard file buffer fails the read at the incomplete character (see txtf.hpp).
    struct truncated_case {
        std::string bytes;
        std::wstring text;
    } const cases[] = {
        {"\xFF\xFE\x41\x00\x42"s, L"A"},
        {"\xEF\xBB\xBF" "ab\xF0\x9F\x98", L"ab"},
        {"caf\xE9", L"caf"},
    };
    scratch_folder dir;
    const std::wstring path = dir / L"cut.txt";
    for (const auto& c : cases)
        for (bool unbuffered : {false, true}) {
            write_bytes(path, c.bytes);
            txtf::wifstream in;
            if (unbuffered)
                in.rdbuf()->pubsetbuf(nullptr, 0);
            in.open(path);
            std::wstring text;
            for (wchar_t ch; in.get(ch);)
                text += ch;
            EXPECT_EQ(units(text), units(c.text)) << hex(c.bytes);
            EXPECT_TRUE(in.bad()) << hex(c.bytes);
        }
}

// ---------------------------------------------------------------------------------------------
// ANSI through the C runtime's code page

// Sets the C runtime's character conversion, which the classic locale's facet follows, for one
// test.
class txtf_code_page : public testing::Test {
protected:
    static bool use(const char* name) { return std::setlocale(LC_CTYPE, name) != nullptr; }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
};

TEST_F(txtf_code_page, windows_1252_maps_the_euro_sign)
{
    ASSERT_TRUE(use(".1252"));
    const facet f(txtf::ansi);
    EXPECT_EQ(hex(encode(f.cvt, L"\x20ac\x4E2D\n")), hex("\x80?\r\n"));
    const facet automatic(txtf::automatic);
    EXPECT_EQ(units(decode(automatic.cvt, "5 \x80").text), units(L"5 \x20ac"));
}

TEST_F(txtf_code_page, shift_jis_characters_survive_a_one_byte_buffer)
{
    ASSERT_TRUE(use(".932"));
    // 日本: the second character's trail byte is "{" in ASCII.
    const std::string bytes = "\x93\xFA\x96\x7B\r\n";
    const std::wstring text = L"\x65E5\x672C\n";
    const facet f(txtf::ansi);
    EXPECT_EQ(hex(encode(f.cvt, text)), hex(bytes));
    scratch_folder dir;
    const std::wstring path = dir / L"sjis.txt";
    write_bytes(path, bytes);
    for (std::uint32_t mode : {txtf::ansi, txtf::automatic})
        for (bool unbuffered : {false, true})
            EXPECT_EQ(units(read_file(path, mode, unbuffered)), units(text)) << mode << " " << unbuffered;
}

} // namespace
