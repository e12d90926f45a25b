#include "product/tilewright/registration.hpp"

#include "product/tilewright/texts.hpp"
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

// An open registry key, closed by its destructor.
class key {
public:
    key() = default;
    ~key()
    {
        if (handle_)
            RegCloseKey(handle_);
    }
    key(key&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    key(const key&) = delete;
    key& operator=(const key&) = delete;

    // Creates (or opens) `path` under `root` for writing.
    static key create(HKEY root, const std::wstring& path)
    {
        key k;
        const LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_READ | KEY_WRITE, nullptr, &k.handle_, nullptr);
        if (status != ERROR_SUCCESS)
            fail(status, "RegCreateKeyExW");
        return k;
    }
    // Opens `path` under `root`; an empty key when it does not exist.
    static key open(HKEY root, const std::wstring& path, REGSAM access = KEY_READ | KEY_WRITE)
    {
        key k;
        const LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, access, &k.handle_);
        if (status == ERROR_FILE_NOT_FOUND)
            k.handle_ = nullptr;
        else if (status != ERROR_SUCCESS)
            fail(status, "RegOpenKeyExW");
        return k;
    }

    explicit operator bool() const { return handle_ != nullptr; }
    HKEY get() const { return handle_; }

    void set_string(const wchar_t* name, const std::wstring& text) const
    {
        const LSTATUS status = RegSetValueExW(handle_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            fail(status, "RegSetValueExW");
    }
    // The REG_SZ value `name`; nothing when missing or of another type.
    std::optional<std::wstring> string(const wchar_t* name) const
    {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(handle_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
            return std::nullopt;
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(handle_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            return std::nullopt;
        text.resize(size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return text;
    }
    void remove_value(const wchar_t* name) const
    {
        const LSTATUS status = RegDeleteValueW(handle_, name);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            fail(status, "RegDeleteValueW");
    }
    bool empty() const
    {
        DWORD subkeys = 0, values = 0;
        if (RegQueryInfoKeyW(handle_, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        return subkeys == 0 && values == 0;
    }

private:
    HKEY handle_ = nullptr;
};

// Deletes `path` under `root` when it exists and holds nothing.
void remove_if_empty(HKEY root, const std::wstring& path)
{
    bool empty = false;
    {
        const key k = key::open(root, path, KEY_READ);
        empty = k && k.empty();
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

std::wstring version_text(std::uint64_t version)
{
    return fmt::format(L"{}.{}.{}.{}", (version >> 48) & 0xFFFF, (version >> 32) & 0xFFFF, (version >> 16) & 0xFFFF,
                       version & 0xFFFF);
}

void register_program(const std::wstring& program, const std::optional<std::uint64_t>& replaced_version,
                      const texts& strings)
{
    try {
        key::create(HKEY_LOCAL_MACHINE, company_key).set_string(path_value, program);
        if (replaced_version)
            key::create(HKEY_LOCAL_MACHINE, product_key)
                .set_string(replaced_version_value, version_text(*replaced_version));
        const std::wstring prog_id = layout_prog_id;
        key::create(HKEY_CLASSES_ROOT, prog_id).set_string(nullptr, strings.get(IDS_LAYOUT_TYPE));
        key::create(HKEY_CLASSES_ROOT, prog_id + L"\\DefaultIcon").set_string(nullptr, program + L",1");
        key::create(HKEY_CLASSES_ROOT, prog_id + L"\\shell\\open\\command").set_string(nullptr, open_command(program));
        key::create(HKEY_CLASSES_ROOT, layout_extension).set_string(nullptr, prog_id);
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
    bool path_ours = true;
    if (const key company = key::open(HKEY_LOCAL_MACHINE, company_key)) {
        const auto path = company.string(path_value);
        path_ours = !path || same_text(*path, program);
        if (path && path_ours)
            company.remove_value(path_value);
    }
    if (path_ours)
        if (const key product = key::open(HKEY_LOCAL_MACHINE, product_key))
            product.remove_value(replaced_version_value);
    remove_if_empty(HKEY_LOCAL_MACHINE, product_key);
    remove_if_empty(HKEY_LOCAL_MACHINE, company_key);

    // The class is ours when its open command starts this program.
    const std::wstring prog_id = layout_prog_id;
    bool class_left = false;
    if (const key command = key::open(HKEY_CLASSES_ROOT, prog_id, KEY_READ)) {
        const key open = key::open(HKEY_CLASSES_ROOT, prog_id + L"\\shell\\open\\command", KEY_READ);
        const auto text = open ? open.string(nullptr) : std::nullopt;
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
    if (const key extension = key::open(HKEY_CLASSES_ROOT, layout_extension)) {
        const auto target = extension.string(nullptr);
        if (!class_left && target && same_text(*target, prog_id))
            extension.remove_value(nullptr);
    }
    remove_if_empty(HKEY_CLASSES_ROOT, layout_extension);
}

} // namespace tilewright
