#pragma once
// Tilewright's texts: English built in, French, German and Spanish from the language
// libraries in the "Lang" folder next to the program.

#include "support/unique_handle.hpp"

#include <windows.h>

#include <fmt/xchar.h>

#include <optional>
#include <string>

namespace tilewright {

// Language indices as the setup stores them in "MwLanguage".
inline constexpr int language_french = 0;
inline constexpr int language_english = 1;
inline constexpr int language_german = 2;
inline constexpr int language_spanish = 3;

// The language index the setup stored in the product's uninstall entry under
// HKEY_LOCAL_MACHINE; nothing when there is none or it cannot be read.
std::optional<int> stored_language();

// The language library of a language index ("Tilewright_fr.dll", ...); empty for English and
// for every index this program has no translation for.
std::wstring language_library(int index);

// The string `id` of the string table of language `language` in `module`; nothing when the
// module has no such string (an empty string counts as missing).
std::optional<std::wstring> load_string_in(HMODULE module, LANGID language, unsigned id);

class texts {
public:
    // English only.
    texts() = default;
    // The language `index`: its library is loaded from `library_folder` as a data file; any
    // index without translation, or a library that cannot be loaded, gives English.
    texts(int index, const std::wstring& library_folder);
    texts(const texts&) = delete;
    texts& operator=(const texts&) = delete;

    // The language whose texts are shown.
    int language() const { return language_; }

    // The text of `id`: from the language library, else the program's English table.
    std::wstring get(unsigned id) const;

    // The text of `id` with "{0}", "{1}", ... replaced by the arguments.
    template <class... Args>
    std::wstring format(unsigned id, const Args&... args) const
    {
        const std::wstring pattern = get(id);
        try {
            return fmt::format(fmt::runtime(pattern), args...);
        } catch (const fmt::format_error&) {
            return pattern;
        }
    }

private:
    mw::unique_hmodule library_;
    LANGID langid_ = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    int language_ = language_english;
};

} // namespace tilewright
