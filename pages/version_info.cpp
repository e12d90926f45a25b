#include "pages/version_info.hpp"

#include "support/system_library.hpp"

#include <fmt/xchar.h>

#include <utility>

namespace setup {
namespace {

constexpr WORD unicode_code_page = 1200;
constexpr WORD primary_french = 0x0C;

// The version functions of version.dll, which is not a known DLL: loaded at run time from the
// system folder, once per process, instead of imported (the loader would look for an import in
// the program's folder first). Without the library every call fails as for a file without
// version information.
struct version_library {
    mw::unique_hmodule module = mw::load_system_library(L"version.dll");
    decltype(&GetFileVersionInfoSizeW) info_size =
        mw::system_function<decltype(&GetFileVersionInfoSizeW)>(module.get(), "GetFileVersionInfoSizeW");
    decltype(&GetFileVersionInfoW) info =
        mw::system_function<decltype(&GetFileVersionInfoW)>(module.get(), "GetFileVersionInfoW");
    decltype(&VerQueryValueW) query = mw::system_function<decltype(&VerQueryValueW)>(module.get(), "VerQueryValueW");
};

const version_library& version_functions() noexcept
{
    static const version_library library;
    return library;
}

DWORD file_version_info_size(const wchar_t* path, DWORD* handle) noexcept
{
    if (const auto function = version_functions().info_size)
        return function(path, handle);
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

BOOL file_version_info(const wchar_t* path, DWORD size, void* data) noexcept
{
    if (const auto function = version_functions().info)
        return function(path, 0, size, data);
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

BOOL query_version_value(const void* block, const wchar_t* sub_block, void** value, UINT* length) noexcept
{
    if (const auto function = version_functions().query)
        return function(block, sub_block, value, length);
    return FALSE;
}

} // namespace

version_info::version_info(std::vector<BYTE> buffer) noexcept : buffer_(std::move(buffer))
{
    block_ = buffer_.empty() ? nullptr : buffer_.data();
    size_ = buffer_.size();
    bind();
}

version_info::version_info(const void* block, std::size_t size) noexcept : block_(block), size_(block ? size : 0)
{
    bind();
}

version_info::version_info(version_info&& other) noexcept
    : buffer_(std::move(other.buffer_)), block_(other.block_), size_(other.size_), fixed_(other.fixed_),
      translations_(std::move(other.translations_))
{
    other.clear();
}

version_info& version_info::operator=(version_info&& other) noexcept
{
    if (this != &other) {
        // A moved vector keeps its storage, so the pointers into it stay valid.
        buffer_ = std::move(other.buffer_);
        block_ = other.block_;
        size_ = other.size_;
        fixed_ = other.fixed_;
        translations_ = std::move(other.translations_);
        other.clear();
    }
    return *this;
}

void version_info::clear() noexcept
{
    buffer_.clear();
    block_ = nullptr;
    size_ = 0;
    fixed_ = nullptr;
    translations_.clear();
}

void version_info::bind() noexcept
{
    if (size_ == 0 || !block_)
        return;
    try {
        void* value = nullptr;
        UINT length = 0;
        if (!query_version_value(block_, L"\\", &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO))
            return;
        fixed_ = static_cast<const VS_FIXEDFILEINFO*>(value);

        if (!query_version_value(block_, L"\\VarFileInfo\\Translation", &value, &length) || !value || length < 4)
            return;
        const auto* pairs = static_cast<const WORD*>(value);
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
            if (pairs[i + 1] == unicode_code_page)
                translations_.push_back(fmt::format(L"{:04x}{:04x}", pairs[i], pairs[i + 1]));
        }
    } catch (...) {
        // Out of memory while collecting translations: the strings count as absent.
        translations_.clear();
    }
}

const version_info& version_info::load_own()
{
    static const version_info own = [] {
        HMODULE module = GetModuleHandleW(nullptr);
        HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_VERSION);
        if (!resource)
            return version_info{};
        HGLOBAL loaded = LoadResource(module, resource);
        const DWORD size = SizeofResource(module, resource);
        const void* block = loaded ? LockResource(loaded) : nullptr;
        if (!block || size == 0)
            return version_info{};
        return version_info{block, size};
    }();
    return own;
}

version_info version_info::load_file(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = file_version_info_size(path.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<BYTE> buffer(size);
    if (!file_version_info(path.c_str(), size, buffer.data()))
        return {};
    return version_info{std::move(buffer)};
}

std::uint64_t version_info::file_version() const noexcept
{
    if (!fixed_)
        return 0;
    return std::uint64_t{fixed_->dwFileVersionMS} << 32 | fixed_->dwFileVersionLS;
}

std::uint32_t version_info::file_flags() const noexcept
{
    return fixed_ ? fixed_->dwFileFlags & fixed_->dwFileFlagsMask : 0;
}

std::wstring version_info::get_string(std::wstring_view name) const
{
    if (size_ == 0 || translations_.empty())
        return {};
    std::wstring sub_block = L"\\StringFileInfo\\";
    sub_block += translations_.front();
    sub_block += L'\\';
    sub_block += name;
    void* value = nullptr;
    UINT length = 0;
    if (!query_version_value(block_, sub_block.c_str(), &value, &length) || !value || length == 0)
        return {};
    const auto* text = static_cast<const wchar_t*>(value);
    if (text[length - 1] == L'\0')
        --length;
    return {text, length};
}

std::wstring version_info::display_name() const
{
    return product_name();
}

std::wstring version_info::display_version(LANGID language) const
{
    std::wstring text = display_name();
    const std::wstring version = product_version();
    if (!version.empty()) {
        text += L' ';
        text += version;
    }
    const std::uint32_t flags = file_flags();
    if ((flags & VS_FF_PRERELEASE) && PRIMARYLANGID(language) != primary_french)
        replace_last(text, L"b\u00eata", L"beta");
    if (flags & VS_FF_PRIVATEBUILD)
        text += L" \u2013 Private";
    if (flags & VS_FF_DEBUG)
        text += L" \u2013 Debug";
    return text;
}

void replace_last(std::wstring& text, std::wstring_view find, std::wstring_view new_text)
{
    if (find.empty() || find.size() > text.size())
        return;
    const std::size_t at = std::wstring_view(text).rfind(find);
    if (at != std::wstring_view::npos)
        text.replace(at, find.size(), new_text);
}

} // namespace setup
