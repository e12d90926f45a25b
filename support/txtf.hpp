#pragma once
// Text files whose on-disk encoding is chosen per stream.
//
// A wide file stream, opened in binary mode, gets a conversion facet that turns the program's
// UTF-16 text into UTF-8, UTF-16, UTF-32 or the ANSI code page and back, writes and detects
// byte-order marks, converts line ends and replaces malformed input with U+FFFD.
//
// Usage:
//
//     // Write UTF-16 little-endian with a byte-order mark; every "\n" becomes CR LF.
//     mw::txtf::wofstream out(path);                  // mode utf16
//     out.exceptions(std::ios::failbit | std::ios::badbit);
//     out << L"line one\n" << L"line two\n";
//     out.close();                                   // a failed close sets failbit
//
//     // Read any of those files back: the byte-order mark decides (UTF-8, UTF-16 LE/BE,
//     // UTF-32 LE/BE); files without one are read as UTF-8 or ANSI.  CR, LF and CR LF all
//     // arrive as "\n".
//     mw::txtf::wifstream in(path);                   // mode automatic
//     in.exceptions(std::ios::badbit);
//     for (std::wstring line; std::getline(in, line);)
//         ...;
//
// Paths are wide (std::wstring, const wchar_t*, std::filesystem::path). A failed open sets
// failbit; what the exception mask makes of it is the caller's choice. Another mode can be
// given as the second constructor argument, e.g. `wofstream(path, utf8 | no_bom | eol_lf)`.
//
// Malformed input never fails a read: it arrives as U+FFFD. On this runtime one case does:
// when the file ends inside a character (a truncated file, or an ANSI file whose last byte
// could start a UTF-8 sequence and that is read in automatic mode), every complete character
// is delivered and then the standard file buffer reports the incomplete character by failing
// the read (badbit).

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <locale>
#include <string>

namespace mw::txtf {

// Mode word: the encoding (bits 0-3), the byte-order mark policy (bits 4-5), the line ends
// written (bits 6-8) and the byte order (bits 10-11).
inline constexpr std::uint32_t automatic = 0x0; // reading: by byte-order mark, else UTF-8 or ANSI
inline constexpr std::uint32_t utf8 = 0x1;
inline constexpr std::uint32_t utf16 = 0x2;
inline constexpr std::uint32_t utf32 = 0x4;
inline constexpr std::uint32_t ansi = 0x8; // the base locale's conversion; never a byte-order mark
inline constexpr std::uint32_t encoding_mask = 0xF;

inline constexpr std::uint32_t bom_default = 0x00; // write a byte-order mark
inline constexpr std::uint32_t bom = 0x10;
inline constexpr std::uint32_t no_bom = 0x20;
inline constexpr std::uint32_t bom_mask = 0x30;

inline constexpr std::uint32_t eol_default = 0x000; // CR LF
inline constexpr std::uint32_t eol_crlf = 0x040;
inline constexpr std::uint32_t eol_lf = 0x080;
inline constexpr std::uint32_t eol_cr = 0x100;
inline constexpr std::uint32_t eol_mask = 0x1C0;

inline constexpr std::uint32_t order_default = 0x000; // little-endian
inline constexpr std::uint32_t little_endian = 0x400;
inline constexpr std::uint32_t big_endian = 0x800;
inline constexpr std::uint32_t order_mask = 0xC00;

// The mode word a facet keeps: unknown encodings, BOM policies, line styles and byte orders
// become their defaults, `ansi` implies `no_bom`, and bits outside the four fields are cleared.
std::uint32_t normalise_mode(std::uint32_t mode) noexcept;

namespace details {

// The conversion state word, kept in the first four bytes of the stream's std::mbstate_t;
// zero at the start of a file.
inline constexpr std::uint32_t state_encoding_mask = 0x7; // 0 undetermined, then:
inline constexpr std::uint32_t state_ansi = 1;
inline constexpr std::uint32_t state_utf8 = 2;
inline constexpr std::uint32_t state_utf16 = 3;
inline constexpr std::uint32_t state_utf32 = 4;
inline constexpr std::uint32_t state_bom_mask = 0x18; // 0 undecided, then:
inline constexpr std::uint32_t state_bom_present = 0x08; // read or written
inline constexpr std::uint32_t state_bom_absent = 0x10;
inline constexpr unsigned state_eol_shift = 5; // 3 bits: line style met so far
inline constexpr std::uint32_t state_eol_none = 0, state_eol_crlf = 1, state_eol_lf = 2, state_eol_cr = 3,
                               state_eol_mixed = 4;
inline constexpr unsigned state_order_shift = 8; // 2 bits: 0 none, 1 little-endian, 2 big-endian
inline constexpr unsigned state_split_shift = 10; // 2 bits, see below
// A character is split across calls. Reading: the character's high surrogate was delivered
// and its low one is still to come; bits 12-21 hold the low surrogate's ten bits and bits 22-24
// the size of the character in bytes, which stay unconsumed until the low surrogate is out.
// Writing: a high surrogate waiting for its low half, held in bits 12-29.
inline constexpr std::uint32_t state_split_char = 1;
// Reading only: the mark FF FE was taken as UTF-16 little-endian; 00 00 right after it turns
// it into the UTF-32 little-endian mark.
inline constexpr std::uint32_t state_split_utf32_mark = 2;
inline constexpr unsigned state_bits_shift = 12; // 18 bits
inline constexpr std::uint32_t state_after_cr = 0x40000000; // the previous character was CR

std::uint32_t state_word(const std::mbstate_t& state) noexcept;
void set_state_word(std::mbstate_t& state, std::uint32_t word) noexcept;

} // namespace details

template <class CharT>
class codecvt;

// The conversion facet.
// - in(): `ok` when all input was used; `partial` when the input ends inside a character (its
//   bytes are left unconsumed) or the output is full. Malformed input gives U+FFFD, never `error`.
// - out(): `ok`, or `partial` when the output is full (a character goes out whole or not at all)
//   or when a high surrogate ends the input (it is consumed and waits in the state).
// - unshift(): writes nothing; `error` while a high surrogate waits for its low half.
// - length(): the bytes in() would consume to give at most `max` wide characters.
template <>
class codecvt<wchar_t> : public std::codecvt<wchar_t, char, std::mbstate_t> {
public:
    using base_facet = std::codecvt<wchar_t, char, std::mbstate_t>;

    // `base` provides the ANSI conversion: its own codecvt<wchar_t, char, mbstate_t> facet,
    // or, when that is itself one of these facets, the facet that one rests on.
    codecvt(const std::locale& base, std::uint32_t mode, std::size_t refs = 0);

    std::uint32_t mode() const noexcept { return mode_; }
    const base_facet& base() const noexcept { return *base_; }

protected:
    ~codecvt() override;

    bool do_always_noconv() const noexcept override;
    int do_max_length() const noexcept override;
    int do_encoding() const noexcept override;
    result do_in(state_type& state, const extern_type* from, const extern_type* from_end,
                 const extern_type*& from_next, intern_type* to, intern_type* to_end,
                 intern_type*& to_next) const override;
    result do_out(state_type& state, const intern_type* from, const intern_type* from_end,
                  const intern_type*& from_next, extern_type* to, extern_type* to_end,
                  extern_type*& to_next) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* to_end,
                      extern_type*& to_next) const override;
    int do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                  std::size_t max) const override;

private:
    struct decoded;
    decoded decode(std::uint32_t& state, const char* from, const char* from_end) const;
    decoded decode_ansi(const char* from, const char* from_end) const;
    std::size_t encode(std::uint32_t& state, char32_t c, char* out) const;
    std::size_t encode_scalar(std::uint32_t encoding, std::uint32_t& state, char32_t c, char* out) const;
    std::uint32_t byte_order(std::uint32_t& state) const noexcept;

    std::uint32_t mode_;
    std::locale base_locale_;
    const base_facet* base_;
    char replacement_ = '?';
};

namespace details {

// A standard file stream (Stream: basic_ifstream for N = 1, basic_ofstream for N = 2) that
// always opens in binary mode and converts through mw::txtf::codecvt.
template <class Stream, class CharT, class Traits, int N>
class stream_impl : public Stream {
    static_assert(N == 1 || N == 2);

public:
    // The mode used when none is given: utf16 for writing, automatic for reading.
    static constexpr std::uint32_t default_mode = N == 2 ? utf16 : automatic;
    static constexpr std::ios_base::openmode open_mode =
        (N == 2 ? std::ios_base::out : std::ios_base::in) | std::ios_base::binary;

    // Not open yet; the facet is in place, so the buffer can still be changed (pubsetbuf)
    // before open().
    stream_impl() { use_facet(); }

    // Opens the file (writing truncates it). The stream's locale gets a facet with the default
    // mode unless it already carries one of these facets.
    explicit stream_impl(const std::filesystem::path& path) : stream_impl(path.c_str()) {}
    explicit stream_impl(const std::wstring& path) : stream_impl(path.c_str()) {}
    explicit stream_impl(const wchar_t* path)
    {
        use_facet();
        open(path);
    }

    // Opens the file with a facet of the given mode, whatever the locale carries.
    stream_impl(const std::filesystem::path& path, std::uint32_t mode) : stream_impl(path.c_str(), mode) {}
    stream_impl(const std::wstring& path, std::uint32_t mode) : stream_impl(path.c_str(), mode) {}
    stream_impl(const wchar_t* path, std::uint32_t mode)
    {
        use_facet(mode);
        open(path);
    }

    // Binary mode is always added.
    void open(const wchar_t* path, std::ios_base::openmode mode = open_mode)
    {
        Stream::open(path, mode | std::ios_base::binary);
    }
    void open(const std::wstring& path, std::ios_base::openmode mode = open_mode) { open(path.c_str(), mode); }
    void open(const std::filesystem::path& path, std::ios_base::openmode mode = open_mode)
    {
        open(path.c_str(), mode);
    }

private:
    void use_facet()
    {
        if (!std::has_facet<codecvt<CharT>>(this->getloc()))
            use_facet(default_mode);
    }
    void use_facet(std::uint32_t mode)
    {
        const std::locale current = this->getloc();
        this->imbue(std::locale(current, new codecvt<CharT>(current, mode)));
    }
};

} // namespace details

using wifstream = details::stream_impl<std::basic_ifstream<wchar_t>, wchar_t, std::char_traits<wchar_t>, 1>;
using wofstream = details::stream_impl<std::basic_ofstream<wchar_t>, wchar_t, std::char_traits<wchar_t>, 2>;

} // namespace mw::txtf
