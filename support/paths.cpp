#include "support/paths.hpp"

#include "support/unique_handle.hpp"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <optional>
#include <vector>

namespace mw {
namespace {

bool is_drive_letter(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool same_root_name(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(is_separator(a[i]) && is_separator(b[i])) && !equal_ignoring_case(a.substr(i, 1), b.substr(i, 1)))
            return false;
    return true;
}

// The path as the system reads it to open it (GetFullPathNameW): absolute against the current
// folder, "." and ".." resolved. Nothing when the system cannot tell.
std::optional<std::wstring> full_path_name(const std::wstring& path)
{
    if (path.empty())
        return std::nullopt;
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::nullopt;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return std::nullopt;
    full.resize(length);
    return full;
}

// The absolute, lexically normalised form same_path_lexically compares; a path the system
// cannot make absolute is only normalised.
std::wstring absolute_normal_form(const std::wstring& path)
{
    return lexical_normal_form(full_path_name(path).value_or(path));
}

} // namespace

rooted_path split_root(std::wstring_view path) noexcept
{
    rooted_path parts;
    std::size_t i = 0;
    if (path.size() > 2 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
        i = 2;
        while (i < path.size() && !is_separator(path[i]))
            ++i;
    } else if (path.size() >= 2 && path[1] == L':' && is_drive_letter(path[0])) {
        i = 2;
    }
    parts.root_name = path.substr(0, i);
    if (i < path.size() && is_separator(path[i])) {
        parts.root_directory = true;
        while (i < path.size() && is_separator(path[i]))
            ++i;
    }
    parts.relative = path.substr(i);
    return parts;
}

bool is_absolute_path(std::wstring_view path) noexcept
{
    const rooted_path parts = split_root(path);
    return parts.share() || (parts.drive() && parts.root_directory);
}

std::wstring append_path(std::wstring_view base, std::wstring_view path)
{
    if (is_absolute_path(path))
        return std::wstring(path);
    const rooted_path added = split_root(path);
    const rooted_path start = split_root(base);
    if (!added.root_name.empty() && !same_root_name(added.root_name, start.root_name))
        return std::wstring(path);
    if (added.root_directory)
        return std::wstring(start.root_name) + L'\\' + std::wstring(added.relative);
    std::wstring joined(base);
    if (!added.relative.empty()) {
        const bool bare_root_name = start.relative.empty() && !start.root_directory;
        if (!joined.empty() && !is_separator(joined.back()) && !bare_root_name)
            joined += L'\\';
        joined += added.relative;
    }
    return joined;
}

std::wstring_view take_component(std::wstring_view& rest) noexcept
{
    std::size_t end = 0;
    while (end < rest.size() && !is_separator(rest[end]))
        ++end;
    const std::wstring_view component = rest.substr(0, end);
    while (end < rest.size() && is_separator(rest[end]))
        ++end;
    rest.remove_prefix(end);
    return component;
}

std::wstring lexical_normal_form(std::wstring_view path)
{
    const rooted_path parts = split_root(path);
    std::vector<std::wstring_view> kept;
    for (std::wstring_view rest = parts.relative; !rest.empty();) {
        const std::wstring_view component = take_component(rest);
        if (component == L".")
            continue;
        if (component == L"..") {
            if (!kept.empty() && kept.back() != L"..")
                kept.pop_back();
            else if (!parts.root_directory)
                kept.push_back(component);
            continue;
        }
        kept.push_back(component);
    }

    std::wstring normal(parts.root_name);
    std::replace(normal.begin(), normal.end(), L'/', L'\\');
    if (parts.root_directory)
        normal += L'\\';
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            normal += L'\\';
        normal += kept[i];
    }
    return normal.empty() ? std::wstring(L".") : normal;
}

named_path split_name(std::wstring_view path) noexcept
{
    const rooted_path parts = split_root(path);
    // The root with its root directory's first separator: "C:\", "\\server\".
    const std::size_t root = parts.root_name.size() + (parts.root_directory ? 1 : 0);
    std::size_t last = path.size();
    while (last > root && !is_separator(path[last - 1]))
        --last;
    if (last <= root)
        return {path.substr(0, root), path.substr(root)};
    std::size_t end = last - 1;
    while (end > root && is_separator(path[end - 1]))
        --end;
    return {path.substr(0, end), path.substr(last)};
}

bool equal_ignoring_case(std::wstring_view a, std::wstring_view b) noexcept
{
    return a.size() == b.size() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::optional<std::wstring> canonical_path(const std::wstring& path)
{
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.starts_with(L"\\\\?\\UNC\\") || text.starts_with(L"\\??\\UNC\\"))
        text = L"\\\\" + text.substr(8);
    else if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\??\\"))
        text.erase(0, 4);
    const rooted_path parts = split_root(text);
    if (!parts.root_directory)
        return std::nullopt;
    const bool on_drive = parts.drive();
    // A server's name, not a device prefix ("\\.\", "\\?\" once more).
    const bool on_share = parts.share() && parts.root_name[2] != L'?' && parts.root_name[2] != L'.';
    if (!on_drive && !on_share)
        return std::nullopt;
    // A stream name, a wildcard or a control character names no file of an installation.
    if (text.find_first_of(L":*?\"<>|", on_drive ? 2 : 0) != std::wstring::npos ||
        std::any_of(text.begin(), text.end(), [](wchar_t c) { return c < L' '; }))
        return std::nullopt;
    const std::optional<std::wstring> full = full_path_name(text);
    if (!full)
        return std::nullopt;
    std::wstring canonical = lexical_normal_form(*full);
    if (split_root(canonical).drive())
        canonical[0] = static_cast<wchar_t>(std::towupper(canonical[0]));
    return canonical;
}

bool path_within(const std::wstring& path, const std::wstring& folder) noexcept
{
    if (folder.empty() || path.size() < folder.size() ||
        !equal_ignoring_case(std::wstring_view(path).substr(0, folder.size()), folder))
        return false;
    return path.size() == folder.size() || folder.back() == L'\\' || path[folder.size()] == L'\\';
}

std::wstring parent_of(const std::wstring& path)
{
    const auto last = path.find_last_of(L'\\');
    if (last == std::wstring::npos || last + 1 == path.size() || is_root(path))
        return {};
    // "C:\x" lies in "C:\": a root keeps its separator.
    return path.substr(0, last == 2 && path[1] == L':' ? last + 1 : last);
}

std::wstring_view name_of(const std::wstring& path) noexcept
{
    if (is_root(path))
        return {};
    const auto last = path.find_last_of(L'\\');
    return std::wstring_view(path).substr(last == std::wstring::npos ? 0 : last + 1);
}

bool is_root(const std::wstring& path) noexcept
{
    if (path.size() == 3 && path[1] == L':')
        return true;
    // "\\\\server\\share": a share's root.
    return path.starts_with(L"\\\\") && std::count(path.begin() + 2, path.end(), L'\\') <= 1;
}

std::wstring root_of(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return path.substr(0, 3);
    if (!path.starts_with(L"\\\\"))
        return {};
    const auto share_end = path.find(L'\\', path.find(L'\\', 2) + 1);
    return path.substr(0, share_end);
}

std::optional<file_identity> identity_of(const std::wstring& path)
{
    const unique_hfile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return file_identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool same_path_lexically(const std::wstring& a, const std::wstring& b)
{
    return equal_ignoring_case(absolute_normal_form(a), absolute_normal_form(b));
}

bool same_file_object(const std::wstring& a, const std::wstring& b)
{
    const auto x = identity_of(a);
    if (!x)
        return false;
    const auto y = identity_of(b);
    return y && *x == *y;
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    // The cheap tests first: they touch no file.
    return a == b || same_path_lexically(a, b) || same_file_object(a, b);
}

} // namespace mw
