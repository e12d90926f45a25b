#include "support/paths.hpp"

#include "support/unique_handle.hpp"

#include <windows.h>

#include <filesystem>
#include <optional>
#include <vector>

namespace mw {
namespace {

std::vector<std::wstring> normalised_elements(const std::wstring& path)
{
    std::vector<std::wstring> out;
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec || path.empty())
        absolute = path;
    for (const auto& element : absolute.lexically_normal())
        if (!element.empty())
            out.push_back(element.wstring());
    return out;
}

bool equal_ignoring_case(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace

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
    const auto p = normalised_elements(a);
    const auto q = normalised_elements(b);
    if (p.size() != q.size())
        return false;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (!equal_ignoring_case(p[i], q[i]))
            return false;
    return true;
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
