#pragma once
// A thin layer over the Win32 registry. Every key is opened or created with MAXIMUM_ALLOWED
// and without a registry-view flag.
//
// Error convention: a missing key or value is a normal result (an empty key, or false); a
// value of the wrong type or size is false and leaves the output unchanged; every other
// failure throws std::system_error holding the Win32 result code in std::system_category().

#include "support/unique_handle.hpp"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace setup {

// Owns one open key handle, or none. Movable, not copyable; an empty key tests false. Built
// from an open handle it takes ownership (never of a predefined root such as HKEY_CURRENT_USER).
using registry_key = mw::unique_hkey;

// A key borrowed for one call: a predefined root (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) or
// an open registry_key.
class key_handle {
public:
    key_handle(HKEY handle) noexcept : handle_(handle) {}
    key_handle(const registry_key& key) noexcept : handle_(key.get()) {}
    HKEY get() const noexcept { return handle_; }

private:
    HKEY handle_;
};

// Opens an existing key; an empty key when it does not exist (ERROR_FILE_NOT_FOUND).
registry_key open_key(key_handle parent, const std::wstring& subkey);

// Opens the key, creating it (non-volatile) when it does not exist.
registry_key create_key(key_handle parent, const std::wstring& subkey);

// Value names: nullptr or an empty name is the key's default value.
// The writers return true or throw.

// REG_SZ with its terminating NUL: 2 × (length + 1) bytes.
bool write_string(key_handle key, const wchar_t* name, const std::wstring& text);
// REG_SZ; a null text stores a value of 0 bytes.
bool write_string(key_handle key, const wchar_t* name, const wchar_t* text);
bool write_dword(key_handle key, const wchar_t* name, std::uint32_t value);
bool write_binary(key_handle key, const wchar_t* name, const void* bytes, std::size_t size);

// True when the value is REG_SZ or REG_EXPAND_SZ (returned unexpanded) of an even byte size
// whose last UTF-16 unit is NUL; `text` receives it without that NUL (a value of 0 bytes
// gives an empty text). False, `text` unchanged, when the value is missing or malformed.
bool read_string(key_handle key, const wchar_t* name, std::wstring& text);
// True when the value is REG_DWORD of exactly 4 bytes; `value` is unchanged otherwise.
bool read_dword(key_handle key, const wchar_t* name, std::uint32_t& value);
// True when the value is REG_BINARY of exactly `size` bytes, copied into `buffer`; the buffer
// is unchanged otherwise.
bool read_binary(key_handle key, const wchar_t* name, void* buffer, std::size_t size);

} // namespace setup
