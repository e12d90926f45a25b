#pragma once
// Conversion between UTF-16 and the calling thread's ANSI code page through the system's
// conversion functions, for whole strings, as a facet for the standard streams and
// std::wstring_convert. Part of the foundation library; the programs themselves do not use
// it today.

#include <cstddef>
#include <cwchar>
#include <locale>

namespace mw::details {

class w2a_codecvt : public std::codecvt<wchar_t, char, std::mbstate_t> {
public:
    explicit w2a_codecvt(std::size_t refs = 0);
    // Public so that an owner such as std::wstring_convert can delete it.
    ~w2a_codecvt() override;

    unsigned code_page() const noexcept { return code_page_; }

protected:
    // Converts the whole input in one call: `ok` with everything used, `partial` when there is
    // no room at all, `error` when the system converts nothing (an output range too small for
    // the whole input included). Characters the code page lacks become its default character.
    result do_in(state_type& state, const extern_type* from, const extern_type* from_end,
                 const extern_type*& from_next, intern_type* to, intern_type* to_end,
                 intern_type*& to_next) const override;
    result do_out(state_type& state, const intern_type* from, const intern_type* from_end,
                  const intern_type*& from_next, extern_type* to, extern_type* to_end,
                  extern_type*& to_next) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* to_end,
                      extern_type*& to_next) const override;
    // The code page's largest character in bytes; 5 when the system does not say.
    int do_max_length() const noexcept override;
    // 1 for a single-byte code page, else 0 (variable width).
    int do_encoding() const noexcept override;
    // The bytes of the whole characters at the start of the input that give at most `max`
    // wide characters.
    int do_length(state_type& state, const extern_type* from, const extern_type* from_end,
                  std::size_t max) const override;

private:
    unsigned code_page_ = 3; // CP_THREAD_ACP
};

} // namespace mw::details
