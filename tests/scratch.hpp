#pragma once
// A fresh folder for one test, in the temporary folder unless given another parent, removed
// with everything in it.

#include "support/temp_names.hpp"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

class scratch_folder {
public:
    scratch_folder() : path_(mw::unique_temp_path(L"mwtest-%%%%%%%%")) { std::filesystem::create_directories(path_); }
    // A fresh folder below `parent` (another volume, a system folder) instead of the temporary
    // folder. Throws std::filesystem::filesystem_error when it cannot be created.
    explicit scratch_folder(const std::filesystem::path& parent)
        : path_(parent / std::filesystem::path(mw::unique_temp_path(L"mwtest-%%%%%%%%")).filename())
    {
        std::filesystem::create_directories(path_);
    }
    ~scratch_folder()
    {
        std::error_code ec;
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ec))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(path_, ec);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return (path_ / name).wstring(); }

private:
    std::filesystem::path path_;
};

// Whether the tests run under Wine (its ntdll exports wine_get_version): some Win32 behaviour
// is missing there, and the tests of it skip.
inline bool running_under_wine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A kernel object name no other test process uses.
inline std::wstring fresh_name(const wchar_t* what)
{
    static int counter = 0;
    return L"mwtest." + std::wstring(what) + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(++counter);
}

inline std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace testing_support
