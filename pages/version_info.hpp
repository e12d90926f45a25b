#pragma once
// Version resources: the setup's own block and the block of any file, with the answers the
// setup asks of them. Every failure reads as "no information": size 0, no fixed information,
// empty strings, file version 0.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace setup {

class version_info {
public:
    // No version information.
    version_info() noexcept = default;

    // The block of this program's own version resource (id 1), read in place. Located once
    // per process; empty when the program has none.
    static const version_info& load_own();
    // A copy of the version block of a file; empty when it has none or cannot be read.
    static version_info load_file(const std::wstring& path);

    version_info(version_info&& other) noexcept;
    version_info& operator=(version_info&& other) noexcept;
    version_info(const version_info&) = delete;
    version_info& operator=(const version_info&) = delete;

    // Size of the block in bytes; 0 when there is no version information.
    std::size_t size() const noexcept { return size_; }
    // The block's fixed information, or null.
    const VS_FIXEDFILEINFO* fixed() const noexcept { return fixed_; }
    // (dwFileVersionMS << 32) | dwFileVersionLS; 0 without fixed information.
    std::uint64_t file_version() const noexcept;
    // dwFileFlags & dwFileFlagsMask; 0 without fixed information.
    std::uint32_t file_flags() const noexcept;

    // The Unicode translations (code page 1200) in block order, as "llllcccc" in lower-case
    // hexadecimal (language id, code page), for example "040904b0".
    const std::vector<std::wstring>& translations() const noexcept { return translations_; }

    // The string value `name` of the first Unicode translation; empty when absent.
    std::wstring get_string(std::wstring_view name) const;
    std::wstring product_name() const { return get_string(L"ProductName"); }
    std::wstring product_version() const { return get_string(L"ProductVersion"); }
    std::wstring legal_copyright() const { return get_string(L"LegalCopyright"); }

    // The name to show for the product: ProductName. (The maker's other product families
    // swap in a per-language alternative name; none applies to this product.)
    std::wstring display_name() const;
    // The display name, a blank and ProductVersion, with the build remarks: on a prerelease
    // "bêta" becomes "beta" unless `language` (the interface language) is French; then
    // " – Private" for a private build and " – Debug" for a debug build.
    std::wstring display_version(LANGID language) const;

private:
    explicit version_info(std::vector<BYTE> buffer) noexcept;
    version_info(const void* block, std::size_t size) noexcept;
    void bind() noexcept;
    void clear() noexcept;

    std::vector<BYTE> buffer_; // a file's block; empty for the program's own resource
    const void* block_ = nullptr;
    std::size_t size_ = 0;
    const VS_FIXEDFILEINFO* fixed_ = nullptr;
    std::vector<std::wstring> translations_;
};

// Replaces the last occurrence of `find` in `text` (exact, case-sensitive) by `new_text`.
// Nothing happens when `find` is empty, longer than `text` or absent.
void replace_last(std::wstring& text, std::wstring_view find, std::wstring_view new_text);

} // namespace setup
