#include "support/txtf.hpp"

#include <algorithm>
#include <cstring>

namespace mw::txtf {

using namespace details;

std::uint32_t normalise_mode(std::uint32_t mode) noexcept
{
    std::uint32_t encoding = mode & encoding_mask;
    if (encoding != utf8 && encoding != utf16 && encoding != utf32 && encoding != ansi)
        encoding = automatic;
    std::uint32_t bom_policy = mode & bom_mask;
    if (bom_policy == bom_mask || encoding == ansi)
        bom_policy = encoding == ansi ? no_bom : bom_default;
    std::uint32_t eol = mode & eol_mask;
    if (eol != eol_crlf && eol != eol_lf && eol != eol_cr)
        eol = eol_default;
    std::uint32_t order = mode & order_mask;
    if (order == order_mask)
        order = order_default;
    return encoding | bom_policy | eol | order;
}

namespace details {

static_assert(sizeof(std::mbstate_t) >= sizeof(std::uint32_t), "the state word must fit in mbstate_t");

std::uint32_t state_word(const std::mbstate_t& state) noexcept
{
    std::uint32_t word;
    std::memcpy(&word, &state, sizeof word);
    return word;
}

void set_state_word(std::mbstate_t& state, std::uint32_t word) noexcept
{
    std::memcpy(&state, &word, sizeof word);
}

} // namespace details

namespace {

constexpr char32_t replacement_char = 0xFFFD;
constexpr char32_t byte_order_mark = 0xFEFF;
constexpr char32_t cr = 0x0D;
constexpr char32_t lf = 0x0A;

// Accessors for the fields of the state word.
std::uint32_t encoding_of(std::uint32_t s) { return s & state_encoding_mask; }
void set_encoding(std::uint32_t& s, std::uint32_t e) { s = (s & ~state_encoding_mask) | e; }
std::uint32_t bom_of(std::uint32_t s) { return s & state_bom_mask; }
void set_bom(std::uint32_t& s, std::uint32_t b) { s = (s & ~state_bom_mask) | b; }
std::uint32_t order_of(std::uint32_t s) { return (s >> state_order_shift) & 3; }
void set_order(std::uint32_t& s, std::uint32_t o) { s = (s & ~(3u << state_order_shift)) | (o << state_order_shift); }
std::uint32_t split_of(std::uint32_t s) { return (s >> state_split_shift) & 3; }
std::uint32_t split_bits(std::uint32_t s) { return (s >> state_bits_shift) & 0x3FFFF; }
void set_split(std::uint32_t& s, std::uint32_t kind, std::uint32_t bits)
{
    s = (s & ~(0xFFFFFu << state_split_shift)) | (kind << state_split_shift) | ((bits & 0x3FFFF) << state_bits_shift);
}
void clear_split(std::uint32_t& s) { set_split(s, 0, 0); }
bool after_cr(std::uint32_t s) { return (s & state_after_cr) != 0; }
void set_after_cr(std::uint32_t& s, bool on) { s = on ? (s | state_after_cr) : (s & ~state_after_cr); }

// Records a line style met; a second, different style makes the record "mixed".
void meet_eol(std::uint32_t& s, std::uint32_t style)
{
    const std::uint32_t current = (s >> state_eol_shift) & 7;
    const std::uint32_t next = current == state_eol_none ? style : current == style ? style : state_eol_mixed;
    s = (s & ~(7u << state_eol_shift)) | (next << state_eol_shift);
}

constexpr std::uint32_t order_little = 1;
constexpr std::uint32_t order_big = 2;

bool is_high_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
char32_t combine(char32_t high, char32_t low) { return 0x10000 + ((high & 0x3FF) << 10) + (low & 0x3FF); }

unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }

std::uint32_t state_code(std::uint32_t mode_encoding)
{
    switch (mode_encoding) {
    case utf8: return state_utf8;
    case utf16: return state_utf16;
    case utf32: return state_utf32;
    case ansi: return state_ansi;
    default: return 0;
    }
}

} // namespace

// One step of the decoder: a number of bytes consumed and at most one character, or the news
// that more bytes are needed.
struct codecvt<wchar_t>::decoded {
    bool need_more = false;
    std::size_t size = 0;
    bool has_char = false;
    char32_t c = 0;

    static decoded more() { return {true, 0, false, 0}; }
    static decoded skip(std::size_t size) { return {false, size, false, 0}; }
    static decoded one(std::size_t size, char32_t c) { return {false, size, true, c}; }
};

namespace {

struct decoded_char {
    bool need_more;
    std::size_t size;
    char32_t c;
    bool valid = true;
};

// Strict UTF-8: shortest forms of scalar values only. An invalid sequence gives U+FFFD for the
// bytes up to the first one that cannot continue it.
decoded_char decode_utf8_strict(const char* p, const char* end)
{
    const unsigned b0 = byte_at(p);
    if (b0 < 0x80)
        return {false, 1, b0};
    std::size_t n;
    if (b0 < 0xC2)
        return {false, 1, replacement_char, false};
    else if (b0 < 0xE0)
        n = 2;
    else if (b0 < 0xF0)
        n = 3;
    else if (b0 < 0xF5)
        n = 4;
    else
        return {false, 1, replacement_char, false};
    char32_t c = b0 & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if (p + i >= end)
            return {true, 0, 0};
        const unsigned b = byte_at(p + i);
        unsigned low = 0x80, high = 0xBF;
        if (i == 1) {
            if (b0 == 0xE0)
                low = 0xA0; // overlong
            else if (b0 == 0xED)
                high = 0x9F; // surrogates
            else if (b0 == 0xF0)
                low = 0x90; // overlong
            else if (b0 == 0xF4)
                high = 0x8F; // above U+10FFFF
        }
        if (b < low || b > high)
            return {false, i, replacement_char, false};
        c = (c << 6) | (b & 0x3F);
    }
    return {false, n, c};
}

// Lenient UTF-8, once the file is known to be UTF-8: 5- and 6-byte forms are taken whole, and a
// surrogate pair encoded as two 3-byte forms gives its scalar. Forms longer than needed,
// surrogates and values above U+10FFFF give U+FFFD.
decoded_char decode_utf8_lenient(const char* p, const char* end)
{
    const unsigned b0 = byte_at(p);
    if (b0 < 0x80)
        return {false, 1, b0};
    if (b0 < 0xC0)
        return {false, 1, replacement_char};
    const std::size_t n = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : b0 < 0xF8 ? 4 : b0 < 0xFC ? 5 : 6;
    std::uint32_t c = b0 & (0x7Fu >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if (p + i >= end)
            return {true, 0, 0};
        const unsigned b = byte_at(p + i);
        if ((b & 0xC0) != 0x80)
            return {false, i, replacement_char};
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr std::uint32_t shortest[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    if (c < shortest[n])
        return {false, n, replacement_char};
    if (n == 3 && is_high_surrogate(c)) {
        // A low surrogate in the next three bytes completes the pair.
        if (p + 3 >= end)
            return {true, 0, 0};
        if (byte_at(p + 3) != 0xED)
            return {false, 3, replacement_char};
        if (p + 4 >= end)
            return {true, 0, 0};
        const unsigned b4 = byte_at(p + 4);
        if (b4 < 0xB0 || b4 > 0xBF)
            return {false, 3, replacement_char};
        if (p + 5 >= end)
            return {true, 0, 0};
        const unsigned b5 = byte_at(p + 5);
        if ((b5 & 0xC0) != 0x80)
            return {false, 3, replacement_char};
        return {false, 6, combine(c, 0xDC00 | ((b4 & 0x0F) << 6) | (b5 & 0x3F))};
    }
    if (is_surrogate(c) || c > 0x10FFFF)
        return {false, n, replacement_char};
    return {false, n, c};
}

std::uint32_t read_unit(const char* p, std::size_t size, std::uint32_t order)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = order == order_big ? i : size - 1 - i;
        v = (v << 8) | byte_at(p + at);
    }
    return v;
}

void write_unit(char* out, std::uint32_t v, std::size_t size, std::uint32_t order)
{
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t shift = 8 * (order == order_big ? size - 1 - i : i);
        out[i] = static_cast<char>((v >> shift) & 0xFF);
    }
}

decoded_char decode_utf16(const char* p, const char* end, std::uint32_t order)
{
    if (end - p < 2)
        return {true, 0, 0};
    const char32_t u = read_unit(p, 2, order);
    if (is_high_surrogate(u)) {
        if (end - p < 4)
            return {true, 0, 0};
        const char32_t u2 = read_unit(p + 2, 2, order);
        if (is_low_surrogate(u2))
            return {false, 4, combine(u, u2)};
        return {false, 2, replacement_char};
    }
    if (is_low_surrogate(u))
        return {false, 2, replacement_char};
    return {false, 2, u};
}

decoded_char decode_utf32(const char* p, const char* end, std::uint32_t order)
{
    if (end - p < 4)
        return {true, 0, 0};
    const std::uint32_t v = read_unit(p, 4, order);
    if (is_surrogate(v) || v > 0x10FFFF)
        return {false, 4, replacement_char};
    return {false, 4, v};
}

// The byte-order marks recognised in automatic mode, longest first where one starts another.
struct mark {
    const char* bytes;
    std::size_t size;
    std::uint32_t encoding;
    std::uint32_t order;
};
constexpr mark marks[] = {
    {"\x00\x00\xFE\xFF", 4, state_utf32, order_big},
    {"\xEF\xBB\xBF", 3, state_utf8, 0},
    {"\xFE\xFF", 2, state_utf16, order_big},
    {"\xFF\xFE\x00\x00", 4, state_utf32, order_little},
    {"\xFF\xFE", 2, state_utf16, order_little},
};

} // namespace

codecvt<wchar_t>::codecvt(const std::locale& base, std::uint32_t mode, std::size_t refs)
    : base_facet(refs), mode_(normalise_mode(mode)), base_locale_(base)
{
    if (std::has_facet<codecvt<wchar_t>>(base)) {
        // Rest on what that facet rests on: ANSI through a UTF-16 facet would not be ANSI.
        base_locale_ = std::use_facet<codecvt<wchar_t>>(base).base_locale_;
    }
    base_ = &std::use_facet<base_facet>(base_locale_);
}

codecvt<wchar_t>::~codecvt() = default;

bool codecvt<wchar_t>::do_always_noconv() const noexcept
{
    return false;
}

int codecvt<wchar_t>::do_max_length() const noexcept
{
    const bool with_bom = (mode_ & bom_mask) != no_bom;
    const std::uint32_t eol = mode_ & eol_mask;
    const bool single_eol = eol == eol_lf || eol == eol_cr;
    const int base_max = base_->max_length();
    switch (mode_ & encoding_mask) {
    case utf8: return with_bom ? 9 : 6;
    case utf16: return with_bom ? 6 : 4;
    case utf32: return single_eol ? (with_bom ? 8 : 4) : (with_bom ? 12 : 8);
    case ansi: return base_max * (single_eol ? 1 : 2);
    default: return std::max(base_max * 2, single_eol ? (with_bom ? 9 : 6) : (with_bom ? 12 : 8));
    }
}

int codecvt<wchar_t>::do_encoding() const noexcept
{
    if ((mode_ & bom_mask) != no_bom)
        return -1;
    const std::uint32_t eol = mode_ & eol_mask;
    if (eol == eol_crlf)
        return 0;
    if (eol == eol_lf || eol == eol_cr) {
        switch (mode_ & encoding_mask) {
        case utf32: return 4;
        case ansi: return base_->encoding();
        default: return 0;
        }
    }
    return -1;
}

std::uint32_t codecvt<wchar_t>::byte_order(std::uint32_t& state) const noexcept
{
    std::uint32_t order = order_of(state);
    if (order == 0) {
        order = (mode_ & order_mask) == big_endian ? order_big : order_little;
        set_order(state, order);
    }
    return order;
}

codecvt<wchar_t>::decoded codecvt<wchar_t>::decode_ansi(const char* from, const char* from_end) const
{
    std::mbstate_t base_state{};
    wchar_t w[1];
    const char* next = from;
    wchar_t* w_next = w;
    const result r = base_->in(base_state, from, from_end, next, w, w + 1, w_next);
    if (w_next > w)
        return decoded::one(std::max<std::size_t>(next - from, 1), w[0]);
    if (r == partial && next == from)
        return decoded::more();
    return decoded::one(1, replacement_char);
}

// Reads one character from [from, from_end) with the state in `state`. The state is updated
// only when a result is returned, not when more bytes are needed.
codecvt<wchar_t>::decoded codecvt<wchar_t>::decode(std::uint32_t& state, const char* from, const char* from_end) const
{
    std::uint32_t s = state;
    const std::size_t available = from_end - from;
    const std::uint32_t mode_encoding = mode_ & encoding_mask;

    if (bom_of(s) == 0 && (mode_ & bom_mask) == no_bom)
        set_bom(s, state_bom_absent);

    if (split_of(s) == state_split_utf32_mark) {
        if (byte_at(from) == 0 && available < 2)
            return decoded::more();
        clear_split(s);
        if (byte_at(from) == 0 && byte_at(from + 1) == 0) {
            set_encoding(s, state_utf32);
            state = s;
            return decoded::skip(2);
        }
    }

    if (encoding_of(s) == 0 && mode_encoding != automatic)
        set_encoding(s, state_code(mode_encoding));

    if (encoding_of(s) == 0 && bom_of(s) == 0) {
        // The start of a file in automatic mode: look for a byte-order mark.
        for (const mark& m : marks) {
            const std::size_t n = std::min(available, m.size);
            if (std::memcmp(from, m.bytes, n) != 0)
                continue;
            if (n < m.size) {
                // FF FE alone, or FF FE 00, is taken for the UTF-16 mark until 00 00 shows
                // it is the UTF-32 one, so that a file holding only the mark ends cleanly.
                if (m.order == order_little && m.encoding == state_utf32 && available >= 2)
                    continue;
                return decoded::more();
            }
            set_encoding(s, m.encoding);
            if (m.order != 0)
                set_order(s, m.order);
            set_bom(s, state_bom_present);
            if (m.encoding == state_utf16 && m.order == order_little && available < 4
                && (available < 3 || byte_at(from + 2) == 0))
                set_split(s, state_split_utf32_mark, 0);
            state = s;
            return decoded::skip(m.size);
        }
        set_bom(s, state_bom_absent);
    }

    decoded d;
    switch (encoding_of(s)) {
    case 0: {
        // No mark: UTF-8 or ANSI, decided by the first character that tells them apart.
        const decoded_char u = decode_utf8_strict(from, from_end);
        if (u.need_more)
            return decoded::more();
        if (!u.valid) {
            set_encoding(s, state_ansi);
            d = decode_ansi(from, from_end);
        }
        else if (u.size == 1) {
            d = decode_ansi(from, from_end);
            if (d.need_more)
                return d;
            if (d.c != u.c) {
                if (d.c != replacement_char)
                    set_encoding(s, state_ansi);
                else {
                    set_encoding(s, state_utf8);
                    d = decoded::one(u.size, u.c);
                }
            }
        }
        else {
            set_encoding(s, state_utf8);
            d = decoded::one(u.size, u.c);
        }
        break;
    }
    case state_ansi: d = decode_ansi(from, from_end); break;
    case state_utf8: {
        const decoded_char u = decode_utf8_lenient(from, from_end);
        d = u.need_more ? decoded::more() : decoded::one(u.size, u.c);
        break;
    }
    case state_utf16: {
        const decoded_char u = decode_utf16(from, from_end, byte_order(s));
        d = u.need_more ? decoded::more() : decoded::one(u.size, u.c);
        break;
    }
    default: {
        const decoded_char u = decode_utf32(from, from_end, byte_order(s));
        d = u.need_more ? decoded::more() : decoded::one(u.size, u.c);
        break;
    }
    }
    if (d.need_more)
        return d;

    char32_t c = d.c;
    if (bom_of(s) == 0) {
        set_bom(s, c == byte_order_mark && encoding_of(s) != state_ansi ? state_bom_present : state_bom_absent);
        if (bom_of(s) == state_bom_present) {
            state = s;
            return decoded::skip(d.size);
        }
    }

    const std::uint32_t eol = mode_ & eol_mask;
    const bool single_eol = eol == eol_lf || eol == eol_cr;
    if (c == cr) {
        if (after_cr(s))
            meet_eol(s, state_eol_cr);
        set_after_cr(s, true);
        c = lf;
    }
    else if (c == lf) {
        const bool pair = after_cr(s);
        meet_eol(s, pair ? state_eol_crlf : state_eol_lf);
        set_after_cr(s, false);
        if (pair && !single_eol) {
            state = s;
            return decoded::skip(d.size);
        }
    }
    else {
        if (after_cr(s))
            meet_eol(s, state_eol_cr);
        set_after_cr(s, false);
    }

    if ((c & 0xFFFE) == 0xFFFE)
        c = replacement_char;
    state = s;
    return decoded::one(d.size, c);
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_in(state_type& state, const extern_type* from,
                                                 const extern_type* from_end, const extern_type*& from_next,
                                                 intern_type* to, intern_type* to_end, intern_type*& to_next) const
{
    std::uint32_t s = state_word(state);
    const char* p = from;
    wchar_t* q = to;
    result r = ok;
    for (;;) {
        if (split_of(s) == state_split_char) {
            // The high surrogate of the character at `p` is out; its bytes come again.
            const std::size_t size = split_bits(s) >> 10;
            if (q >= to_end || static_cast<std::size_t>(from_end - p) < size) {
                r = partial;
                break;
            }
            *q++ = static_cast<wchar_t>(0xDC00 | (split_bits(s) & 0x3FF));
            p += size;
            clear_split(s);
            continue;
        }
        if (p >= from_end)
            break;
        if (q >= to_end) {
            r = partial;
            break;
        }
        const decoded d = decode(s, p, from_end);
        if (d.need_more) {
            r = partial;
            break;
        }
        if (!d.has_char)
            p += d.size;
        else if (d.c <= 0xFFFF) {
            *q++ = static_cast<wchar_t>(d.c);
            p += d.size;
        }
        else {
            const char32_t v = d.c - 0x10000;
            *q++ = static_cast<wchar_t>(0xD800 | (v >> 10));
            // Without room for the low surrogate the bytes stay unconsumed: a file buffer
            // calls again only while bytes remain, so a character consumed whole here could
            // lose its second half at the end of a file.
            set_split(s, state_split_char, (v & 0x3FF) | (d.size << 10));
        }
    }
    set_state_word(state, s);
    from_next = p;
    to_next = q;
    return r;
}

std::size_t codecvt<wchar_t>::encode_scalar(std::uint32_t encoding, std::uint32_t& state, char32_t c, char* out) const
{
    switch (encoding) {
    case state_utf8:
        if (c < 0x80) {
            out[0] = static_cast<char>(c);
            return 1;
        }
        if (c < 0x800) {
            out[0] = static_cast<char>(0xC0 | (c >> 6));
            out[1] = static_cast<char>(0x80 | (c & 0x3F));
            return 2;
        }
        if (c < 0x10000) {
            out[0] = static_cast<char>(0xE0 | (c >> 12));
            out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[2] = static_cast<char>(0x80 | (c & 0x3F));
            return 3;
        }
        out[0] = static_cast<char>(0xF0 | (c >> 18));
        out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[3] = static_cast<char>(0x80 | (c & 0x3F));
        return 4;
    case state_utf16: {
        const std::uint32_t order = byte_order(state);
        if (c < 0x10000) {
            write_unit(out, c, 2, order);
            return 2;
        }
        const char32_t v = c - 0x10000;
        write_unit(out, 0xD800 | (v >> 10), 2, order);
        write_unit(out + 2, 0xDC00 | (v & 0x3FF), 2, order);
        return 4;
    }
    case state_utf32:
        write_unit(out, c, 4, byte_order(state));
        return 4;
    default: {
        if (c <= 0xFFFF) {
            std::mbstate_t base_state{};
            const wchar_t w = static_cast<wchar_t>(c);
            const wchar_t* w_next = &w;
            char* next = out;
            // Room enough for any code page: the caller's buffer holds 32 bytes.
            if (base_->out(base_state, &w, &w + 1, w_next, out, out + 16, next) == ok && next > out)
                return next - out;
        }
        out[0] = replacement_;
        return 1;
    }
    }
}

// Writes the bytes of one scalar value (with the mark before the first one and the line-end
// conversion) into `out`, 32 bytes at least, and updates the state.
std::size_t codecvt<wchar_t>::encode(std::uint32_t& state, char32_t c, char* out) const
{
    std::uint32_t encoding = state_code(mode_ & encoding_mask);
    if (encoding == 0) {
        encoding = encoding_of(state) ? encoding_of(state) : state_ansi;
    }
    set_encoding(state, encoding);

    std::size_t n = 0;
    if (encoding != state_ansi && bom_of(state) == 0) {
        if ((mode_ & bom_mask) == no_bom)
            set_bom(state, state_bom_absent);
        else {
            n += encode_scalar(encoding, state, byte_order_mark, out);
            set_bom(state, state_bom_present);
        }
    }

    if ((c & 0xFFFE) == 0xFFFE)
        c = replacement_char;

    const bool line_end = c == cr || (c == lf && !after_cr(state));
    const bool swallowed = c == lf && after_cr(state);
    set_after_cr(state, c == cr);
    if (line_end) {
        switch (mode_ & eol_mask) {
        case eol_lf:
            n += encode_scalar(encoding, state, lf, out + n);
            meet_eol(state, state_eol_lf);
            break;
        case eol_cr:
            n += encode_scalar(encoding, state, cr, out + n);
            meet_eol(state, state_eol_cr);
            break;
        default:
            n += encode_scalar(encoding, state, cr, out + n);
            n += encode_scalar(encoding, state, lf, out + n);
            meet_eol(state, state_eol_crlf);
            break;
        }
    }
    else if (!swallowed)
        n += encode_scalar(encoding, state, c, out + n);
    return n;
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_out(state_type& state, const intern_type* from,
                                                  const intern_type* from_end, const intern_type*& from_next,
                                                  extern_type* to, extern_type* to_end, extern_type*& to_next) const
{
    std::uint32_t s = state_word(state);
    const wchar_t* p = from;
    char* q = to;
    bool full = false;
    // Loops compare with `<`: a caller may pass an empty range as from_end < from.
    while (p < from_end) {
        char32_t c;
        const wchar_t* next;
        const char32_t unit = static_cast<std::uint16_t>(*p);
        if (split_of(s) == state_split_char) {
            if (is_low_surrogate(unit)) {
                c = combine(split_bits(s), unit);
                next = p + 1;
            }
            else {
                c = replacement_char; // the waiting high surrogate; this unit comes next
                next = p;
            }
        }
        else if (is_high_surrogate(unit)) {
            if (p + 1 >= from_end) {
                set_split(s, state_split_char, unit);
                ++p;
                break;
            }
            const char32_t unit2 = static_cast<std::uint16_t>(p[1]);
            if (is_low_surrogate(unit2)) {
                c = combine(unit, unit2);
                next = p + 2;
            }
            else {
                c = replacement_char;
                next = p + 1;
            }
        }
        else {
            c = is_low_surrogate(unit) ? replacement_char : unit;
            next = p + 1;
        }

        std::uint32_t t = s;
        clear_split(t);
        char bytes[32];
        const std::size_t n = encode(t, c, bytes);
        if (static_cast<std::size_t>(to_end - q) < n) {
            full = true;
            break;
        }
        std::memcpy(q, bytes, n);
        q += n;
        p = next;
        s = t;
    }
    set_state_word(state, s);
    from_next = p;
    to_next = q;
    return full || split_of(s) == state_split_char ? partial : ok;
}

codecvt<wchar_t>::result codecvt<wchar_t>::do_unshift(state_type& state, extern_type* to, extern_type*,
                                                      extern_type*& to_next) const
{
    to_next = to;
    return split_of(state_word(state)) == state_split_char ? error : ok;
}

int codecvt<wchar_t>::do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                                std::size_t max) const
{
    const char* p = from;
    wchar_t buffer[64];
    while (max > 0) {
        const std::size_t room = std::min<std::size_t>(max, std::size(buffer));
        const char* next = p;
        wchar_t* to_next = buffer;
        const result r = do_in(state, p, from_end, next, buffer, buffer + room, to_next);
        const std::size_t produced = to_next - buffer;
        max -= produced;
        p = next;
        // Stop when the input is used up or ends inside a character.
        if (r != partial || produced < room)
            break;
    }
    return static_cast<int>(p - from);
}

} // namespace mw::txtf
