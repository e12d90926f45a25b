#include "product/tilewright/registration.hpp"

#include "product/tilewright/texts.hpp"
#include "engine/registry.hpp"
#include "pages/product.hpp"
#include "product/tilewright/resource_ids.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <system_error>
#include <utility>

namespace tilewright {
namespace {

[[noreturn]] void fail(LSTATUS status, const char* what)
{
    throw std::system_error(static_cast<int>(status), std::system_category(), what);
}

bool same_text(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The REG_SZ value `name` of `path` under `root`; nothing when the key or the value is missing.
std::optional<std::wstring> string_value(HKEY root, const std::wstring& path, const wchar_t* name)
{
    std::wstring text;
    if (const setup::registry_key k = setup::open_key(root, path); k && setup::read_string(k, name, text))
        return text;
    return std::nullopt;
}

// Deletes the value `name` of `path` under `root`, if both exist.
void remove_value(HKEY root, const std::wstring& path, const wchar_t* name)
{
    if (const setup::registry_key k = setup::open_key(root, path)) {
        const LSTATUS status = RegDeleteValueW(k.get(), name);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            fail(status, "RegDeleteValueW");
    }
}

// Deletes `path` under `root` when it exists and holds nothing.
void remove_if_empty(HKEY root, const std::wstring& path)
{
    bool empty = false;
    if (const setup::registry_key k = setup::open_key(root, path)) {
        DWORD subkeys = 0, values = 0;
        empty = RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                subkeys == 0 && values == 0;
    }
    if (!empty)
        return;
    const LSTATUS status = RegDeleteKeyW(root, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        fail(status, "RegDeleteKeyW");
}

std::wstring open_command(const std::wstring& program)
{
    return L"\"" + program + L"\" \"%1\"";
}

bool parse_hex16(const std::wstring& text, std::uint64_t& value)
{
    if (text.size() != 16)
        return false;
    value = 0;
    for (wchar_t c : text) {
        const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                          : c >= L'a' && c <= L'f' ? c - L'a' + 10
                          : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                   : -1;
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return true;
}

bool starts_with_switch(const std::wstring& argument, const wchar_t* name, std::size_t length)
{
    return argument.size() >= length &&
           CompareStringOrdinal(argument.c_str(), static_cast<int>(length), name, static_cast<int>(length), TRUE) ==
               CSTR_EQUAL;
}

} // namespace

std::wstring company_key()
{
    return setup::maker_key();
}

std::wstring product_key()
{
    return company_key() + L"\\" + setup::product_key_name();
}

command_line parse_command_line(const std::vector<std::wstring>& arguments)
{
    command_line line;
    bool register_switch = false, unregister_switch = false;
    auto bad = [&line](const std::wstring& argument) {
        command_line result;
        result.mode = run_mode::bad_arguments;
        result.background = line.background;
        result.bad_argument = argument;
        return result;
    };
    // Known before anything else: a bad line is then reported without a window too.
    for (const std::wstring& argument : arguments)
        if (same_text(argument, L"/Background"))
            line.background = true;
    bool background_switch = false;
    for (const std::wstring& argument : arguments) {
        if (same_text(argument, L"/Register") && !register_switch) {
            register_switch = true;
        } else if (same_text(argument, L"/Unregister") && !unregister_switch) {
            unregister_switch = true;
        } else if (same_text(argument, L"/Background") && !background_switch) {
            background_switch = true;
        } else if (starts_with_switch(argument, L"/update=", 8) && !line.replaced_version) {
            std::uint64_t version = 0;
            if (!parse_hex16(argument.substr(8), version))
                return bad(argument);
            line.replaced_version = version;
        } else if (!argument.empty() && argument[0] != L'/' && line.document.empty()) {
            line.document = argument;
        } else {
            return bad(argument);
        }
    }
    if (register_switch && unregister_switch)
        return bad(L"/Unregister");
    if (register_switch || unregister_switch) {
        if (!line.document.empty())
            return bad(line.document);
        if (unregister_switch && line.replaced_version)
            return bad(L"/update=");
        line.mode = register_switch ? run_mode::register_types : run_mode::unregister_types;
    } else if (line.background || line.replaced_version) {
        return bad(line.background ? L"/Background" : L"/update=");
    }
    return line;
}

void register_program(const std::wstring& program, const std::optional<std::uint64_t>& replaced_version,
                      const texts& strings)
{
    try {
        using setup::create_key;
        using setup::write_string;
        write_string(create_key(HKEY_LOCAL_MACHINE, company_key()), path_value, program);
        if (replaced_version)
            write_string(create_key(HKEY_LOCAL_MACHINE, product_key()), replaced_version_value,
                         setup::version_text(*replaced_version));
        const std::wstring prog_id = layout_prog_id;
        write_string(create_key(HKEY_CLASSES_ROOT, prog_id), nullptr, strings.get(IDS_LAYOUT_TYPE));
        write_string(create_key(HKEY_CLASSES_ROOT, prog_id + L"\\DefaultIcon"), nullptr, program + L",1");
        write_string(create_key(HKEY_CLASSES_ROOT, prog_id + L"\\shell\\open\\command"), nullptr,
                     open_command(program));
        write_string(create_key(HKEY_CLASSES_ROOT, layout_extension), nullptr, prog_id);
    } catch (const std::system_error&) {
        try {
            unregister_program(program);
        } catch (const std::system_error&) {
        }
        throw;
    }
}

void unregister_program(const std::wstring& program)
{
    const auto path = string_value(HKEY_LOCAL_MACHINE, company_key(), path_value);
    const bool path_ours = !path || same_text(*path, program);
    if (path && path_ours)
        remove_value(HKEY_LOCAL_MACHINE, company_key(), path_value);
    if (path_ours)
        remove_value(HKEY_LOCAL_MACHINE, product_key(), replaced_version_value);
    remove_if_empty(HKEY_LOCAL_MACHINE, product_key());
    remove_if_empty(HKEY_LOCAL_MACHINE, company_key());

    // The class is ours when its open command starts this program.
    const std::wstring prog_id = layout_prog_id;
    bool class_left = false;
    if (setup::open_key(HKEY_CLASSES_ROOT, prog_id)) {
        const auto text = string_value(HKEY_CLASSES_ROOT, prog_id + L"\\shell\\open\\command", nullptr);
        class_left = !(text && same_text(*text, open_command(program)));
    }
    if (!class_left) {
        LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, prog_id.c_str());
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyW(HKEY_CLASSES_ROOT, prog_id.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            fail(status, "RegDeleteKeyW");
    }
    // The extension keeps naming the class only while another program's class is there.
    const auto target = string_value(HKEY_CLASSES_ROOT, layout_extension, nullptr);
    if (!class_left && target && same_text(*target, prog_id))
        remove_value(HKEY_CLASSES_ROOT, layout_extension, nullptr);
    remove_if_empty(HKEY_CLASSES_ROOT, layout_extension);
}

} // namespace tilewright
