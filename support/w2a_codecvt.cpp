#include "support/w2a_codecvt.hpp"

#include <windows.h>

#include <climits>

namespace mw::details {

static_assert(CP_THREAD_ACP == 3);

namespace {

int clamp_int(std::ptrdiff_t n)
{
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

} // namespace

w2a_codecvt::w2a_codecvt(std::size_t refs) : std::codecvt<wchar_t, char, std::mbstate_t>(refs) {}

w2a_codecvt::~w2a_codecvt() = default;

w2a_codecvt::result w2a_codecvt::do_in(state_type&, const extern_type* from, const extern_type* from_end,
                                       const extern_type*& from_next, intern_type* to, intern_type* to_end,
                                       intern_type*& to_next) const
{
    from_next = from;
    to_next = to;
    if (from >= from_end)
        return ok;
    // With no room the system call would only measure.
    if (to >= to_end)
        return partial;
    const int n = MultiByteToWideChar(code_page_, MB_PRECOMPOSED, from, clamp_int(from_end - from), to,
                                      clamp_int(to_end - to));
    if (n == 0)
        return error;
    from_next = from_end;
    to_next = to + n;
    return ok;
}

w2a_codecvt::result w2a_codecvt::do_out(state_type&, const intern_type* from, const intern_type* from_end,
                                        const intern_type*& from_next, extern_type* to, extern_type* to_end,
                                        extern_type*& to_next) const
{
    from_next = from;
    to_next = to;
    if (from >= from_end)
        return ok;
    if (to >= to_end)
        return partial;
    const int n = WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, from, clamp_int(from_end - from), to,
                                      clamp_int(to_end - to), nullptr, nullptr);
    if (n == 0)
        return error;
    from_next = from_end;
    to_next = to + n;
    return ok;
}

w2a_codecvt::result w2a_codecvt::do_unshift(state_type&, extern_type* to, extern_type*, extern_type*& to_next) const
{
    to_next = to;
    return ok;
}

int w2a_codecvt::do_max_length() const noexcept
{
    CPINFO info{};
    if (!GetCPInfo(code_page_, &info) || info.MaxCharSize == 0)
        return 5;
    return static_cast<int>(info.MaxCharSize);
}

int w2a_codecvt::do_encoding() const noexcept
{
    return do_max_length() == 1 ? 1 : 0;
}

int w2a_codecvt::do_length(state_type&, const extern_type* from, const extern_type* from_end, std::size_t max) const
{
    const int max_char = do_max_length();
    const char* p = from;
    std::size_t produced = 0;
    while (p < from_end) {
        // The shortest prefix that is a whole character; a byte that starts none is taken alone
        // (the conversion turns it into one default character).
        int size = 1;
        int count = 1;
        for (int k = 1; k <= max_char && k <= from_end - p; ++k) {
            wchar_t w[2];
            const int n = MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, p, k, w, 2);
            if (n > 0) {
                size = k;
                count = n;
                break;
            }
        }
        if (produced + count > max)
            break;
        produced += count;
        p += size;
    }
    return static_cast<int>(p - from);
}

} // namespace mw::details
