#pragma once
// Shared by the product's tests: where the built programs and the content are, a copy of the
// product in a scratch folder, and a text export of registry keys. Programs are started and
// their windows found with the UI driver (tests/ui_driver).

#include "tests/scratch.hpp"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace product_testing {

namespace fs = std::filesystem;

// The folder of the running test program, where the built programs are.
inline fs::path bin_folder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path();
}

inline fs::path built_program() { return bin_folder() / L"Tilewright.exe"; }

// The committed content (Textures, Modules, Samples).
inline fs::path content_folder() { return fs::path(L"" MW_PRODUCT_CONTENT); }

inline std::vector<fs::path> files_of(const fs::path& folder, const wchar_t* extension)
{
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == extension)
            out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

inline std::wstring quoted(const fs::path& path) { return L"\"" + path.wstring() + L"\""; }

inline constexpr DWORD exit_registered = 0xFFFFFFF6; // -10

// The product laid out in a scratch folder: the program, its language libraries and its
// content beside it.
class product_copy {
public:
    product_copy()
    {
        CopyFileW(built_program().c_str(), (folder_.path() / L"Tilewright.exe").c_str(), FALSE);
        fs::create_directories(folder_.path() / L"Lang");
        for (const auto& dll : files_of(bin_folder() / L"Lang", L".dll"))
            CopyFileW(dll.c_str(), (folder_.path() / L"Lang" / dll.filename()).c_str(), FALSE);
        for (const wchar_t* sub : {L"Textures", L"Modules", L"Samples"}) {
            fs::create_directories(folder_.path() / sub);
            for (const auto& entry : fs::directory_iterator(content_folder() / sub))
                CopyFileW(entry.path().c_str(), (folder_.path() / sub / entry.path().filename()).c_str(), FALSE);
        }
    }
    const fs::path& folder() const { return folder_.path(); }
    fs::path program() const { return folder_.path() / L"Tilewright.exe"; }
    fs::path sample(const wchar_t* name) const { return folder_.path() / L"Samples" / name; }

private:
    testing_support::scratch_folder folder_;
};

// A text export of a key and everything under it: each key's path, then its values (name,
// type, data in hexadecimal), sorted. "(missing)" when the key does not exist.
inline std::wstring export_key(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return path + L" (missing)\n";
    std::vector<std::wstring> values, subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD name_length = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 2);
        name_length = 16384;
        RegEnumValueW(key, i, name, &name_length, nullptr, &type, data.data(), &size);
        std::wstring line = L"  \"" + std::wstring(name) + L"\" " + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b) {
            wchar_t hex[4];
            swprintf(hex, 4, L"%02x", data[b]);
            line += hex;
        }
        values.push_back(line + L"\n");
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    std::sort(values.begin(), values.end());
    std::sort(subkeys.begin(), subkeys.end());
    std::wstring out = path + L"\n";
    for (const auto& v : values)
        out += v;
    for (const auto& k : subkeys)
        out += export_key(root, path + L"\\" + k);
    return out;
}

// Named values of a key, exported as export_key does; "(missing)" for each that is not there.
inline std::wstring export_values(HKEY root, const std::wstring& path, std::initializer_list<const wchar_t*> names)
{
    std::wstring out;
    for (const wchar_t* name : names) {
        BYTE data[4096];
        DWORD type = 0, size = sizeof data;
        out += path + L" \"" + name + L"\" ";
        if (RegGetValueW(root, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) != ERROR_SUCCESS) {
            out += L"(missing)\n";
            continue;
        }
        out += std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b) {
            wchar_t hex[4];
            swprintf(hex, 4, L"%02x", data[b]);
            out += hex;
        }
        out += L"\n";
    }
    return out;
}

// The product's names in the registry (and the value that the tests give another product),
// exported. Other values of the maker's key belong to others (other tests use it at the same
// time), so only these are compared.
inline std::wstring export_registration()
{
    return export_values(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works", {L"Tilewright Path", L"Other Path"}) +
           export_key(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works\\Tilewright") +
           export_key(HKEY_CLASSES_ROOT, L".cal") + export_key(HKEY_CLASSES_ROOT, L"Tilewright.Layout");
}

// Removes them, and the maker's key when nothing else is left in it.
inline void clear_registration()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works", 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"Tilewright Path");
        RegDeleteValueW(key, L"Other Path");
        RegDeleteTreeW(key, L"Tilewright");
        RegDeleteKeyW(key, L"Tilewright");
        RegCloseKey(key);
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Marrowind Works"); // fails while not empty
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".cal");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L".cal");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Tilewright.Layout");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Tilewright.Layout");
}

inline std::wstring read_string(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

} // namespace product_testing
