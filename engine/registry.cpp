#include "engine/registry.hpp"

#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

namespace setup {
namespace {

[[noreturn]] void fail_with(LSTATUS status)
{
    throw std::system_error(static_cast<int>(status), std::system_category());
}

void check(LSTATUS status)
{
    if (status != ERROR_SUCCESS)
        fail_with(status);
}

bool set_value(HKEY key, const wchar_t* name, DWORD type, const void* bytes, std::size_t size)
{
    if (size > std::numeric_limits<DWORD>::max())
        fail_with(ERROR_INVALID_PARAMETER);
    check(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(bytes), static_cast<DWORD>(size)));
    return true;
}

struct value_info {
    bool found = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
};

// Type and byte size of a value; not found when it does not exist.
value_info query_value(HKEY key, const wchar_t* name)
{
    value_info info;
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &info.type, nullptr, &info.size);
    if (status == ERROR_FILE_NOT_FOUND)
        return info;
    check(status);
    info.found = true;
    return info;
}

// Reads a value of the expected type whose size `accept` approves into `data` (resized to
// the value's size). False when the value is missing or its type or size is refused. A value
// that grows between the size query and the read is queried again.
template <class Accept>
bool read_value(HKEY key, const wchar_t* name, DWORD expected_type, Accept accept, std::vector<BYTE>& data)
{
    for (;;) {
        const value_info info = query_value(key, name);
        const bool type_ok =
            info.type == expected_type || (expected_type == REG_SZ && info.type == REG_EXPAND_SZ);
        if (!info.found || !type_ok || !accept(info.size))
            return false;
        data.assign(info.size, 0);
        DWORD type = REG_NONE;
        DWORD size = info.size;
        const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status == ERROR_FILE_NOT_FOUND)
            return false;
        check(status);
        if (type != info.type || size != info.size)
            continue;
        return true;
    }
}

} // namespace

registry_key open_key(key_handle parent, const std::wstring& subkey)
{
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(parent.get(), subkey.c_str(), 0, MAXIMUM_ALLOWED, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    check(status);
    return registry_key{key};
}

registry_key create_key(key_handle parent, const std::wstring& subkey)
{
    HKEY key = nullptr;
    check(RegCreateKeyExW(parent.get(), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr,
                          &key, nullptr));
    return registry_key{key};
}

bool write_string(key_handle key, const wchar_t* name, const std::wstring& text)
{
    return set_value(key.get(), name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

bool write_string(key_handle key, const wchar_t* name, const wchar_t* text)
{
    if (!text)
        return set_value(key.get(), name, REG_SZ, nullptr, 0);
    return set_value(key.get(), name, REG_SZ, text, (std::wcslen(text) + 1) * sizeof(wchar_t));
}

bool write_dword(key_handle key, const wchar_t* name, std::uint32_t value)
{
    const DWORD data = value;
    return set_value(key.get(), name, REG_DWORD, &data, sizeof data);
}

bool write_binary(key_handle key, const wchar_t* name, const void* bytes, std::size_t size)
{
    return set_value(key.get(), name, REG_BINARY, bytes, size);
}

bool read_string(key_handle key, const wchar_t* name, std::wstring& text)
{
    std::vector<BYTE> data;
    if (!read_value(key.get(), name, REG_SZ, [](DWORD size) { return size % sizeof(wchar_t) == 0; }, data))
        return false;
    if (data.empty()) {
        text.clear();
        return true;
    }
    std::wstring value(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(value.data(), data.data(), data.size());
    if (value.back() != L'\0')
        return false;
    value.pop_back();
    text = std::move(value);
    return true;
}

bool read_dword(key_handle key, const wchar_t* name, std::uint32_t& value)
{
    std::vector<BYTE> data;
    if (!read_value(key.get(), name, REG_DWORD, [](DWORD size) { return size == sizeof(DWORD); }, data))
        return false;
    DWORD v = 0;
    std::memcpy(&v, data.data(), sizeof v);
    value = v;
    return true;
}

bool read_binary(key_handle key, const wchar_t* name, void* buffer, std::size_t size)
{
    std::vector<BYTE> data;
    if (!read_value(key.get(), name, REG_BINARY, [size](DWORD got) { return got == size; }, data))
        return false;
    if (size)
        std::memcpy(buffer, data.data(), size);
    return true;
}

} // namespace setup
