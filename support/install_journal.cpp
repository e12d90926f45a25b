#include "support/install_journal.hpp"

#include "support/guarded_files.hpp"
#include "support/paths.hpp"
#include "support/unique_handle.hpp"
#include "support/work_folder.hpp"

#include <windows.h>

#include <cwchar>
#include <utility>

namespace mw {
namespace {

constexpr wchar_t records_value[] = L"Records";
constexpr wchar_t temporary_value[] = L"Temporary";
constexpr wchar_t work_value[] = L"Work";
constexpr wchar_t field_separator = L'|'; // no path holds it

std::wstring encoded(const log_record& r)
{
    return std::to_wstring(r.kind) + field_separator + std::to_wstring(r.tag) + field_separator +
           (r.done ? L"1" : L"0") + field_separator + r.path + field_separator + r.backup;
}

std::optional<log_record> decoded(const std::wstring& text)
{
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(field_separator, start);
        fields.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    if (fields.size() != 5 || fields[2].size() != 1 || (fields[2][0] != L'0' && fields[2][0] != L'1'))
        return std::nullopt;
    const auto number = [](const std::wstring& field) -> std::optional<std::int32_t> {
        if (field.empty() || field.size() > 10)
            return std::nullopt;
        wchar_t* end = nullptr;
        const long value = std::wcstol(field.c_str(), &end, 10);
        if (*end != L'\0')
            return std::nullopt;
        return static_cast<std::int32_t>(value);
    };
    const auto kind = number(fields[0]);
    const auto tag = number(fields[1]);
    if (!kind || !tag || *kind < folder || *kind > class_registration)
        return std::nullopt;
    return log_record{*kind, fields[3], fields[4], fields[2][0] == L'1', *tag};
}

unique_hkey open_journal(const std::wstring& product, REGSAM access, bool create)
{
    HKEY key = nullptr;
    const std::wstring path = journal_key_path(product);
    const LSTATUS status = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access, nullptr,
                                                    &key, nullptr)
                                  : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key);
    return unique_hkey{status == ERROR_SUCCESS ? key : nullptr};
}

std::wstring read_text(HKEY key, const wchar_t* name, DWORD expected_type)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != expected_type)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

// Deletes what the ended run left in its temporary folder (files and empty folders, each
// checked to be reached without a link), then the folder.
void remove_temporary_folder(const std::wstring& folder)
{
    const std::optional<std::wstring> canonical = canonical_path(folder);
    if (!canonical)
        return;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW((*canonical + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            try {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    remove_folder_guarded(*canonical + L"\\" + name);
                else
                    delete_guarded(*canonical + L"\\" + name);
            } catch (const std::exception&) {
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    try {
        remove_folder_guarded(*canonical);
    } catch (const std::exception&) {
    }
}

} // namespace

std::wstring journal_key_path(const std::wstring& product)
{
    return std::wstring(maker_key_path) + L"\\" + product + L" Setup Journal";
}

bool save_journal(const std::wstring& product, const install_journal& journal) noexcept
{
    try {
        if (product.empty())
            return false;
        const unique_hkey key = open_journal(product, KEY_SET_VALUE, true);
        if (!key)
            return false;
        std::wstring list;
        for (const log_record& r : journal.records) {
            list += encoded(r);
            list += L'\0';
        }
        list += L'\0';
        const auto bytes = [](const std::wstring& text) { return static_cast<DWORD>(text.size() * sizeof(wchar_t)); };
        const std::wstring temporary = journal.temporary_folder + L'\0';
        const std::wstring work = journal.work_folder + L'\0';
        return RegSetValueExW(key.get(), work_value, 0, REG_SZ, reinterpret_cast<const BYTE*>(work.data()),
                              bytes(work)) == ERROR_SUCCESS &&
               RegSetValueExW(key.get(), records_value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                              bytes(list)) == ERROR_SUCCESS &&
               RegSetValueExW(key.get(), temporary_value, 0, REG_SZ, reinterpret_cast<const BYTE*>(temporary.data()),
                              bytes(temporary)) == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

std::optional<install_journal> load_journal(const std::wstring& product)
{
    if (product.empty())
        return std::nullopt;
    const unique_hkey key = open_journal(product, KEY_QUERY_VALUE, false);
    if (!key)
        return std::nullopt;
    install_journal journal;
    const std::wstring list = read_text(key.get(), records_value, REG_MULTI_SZ);
    std::size_t start = 0;
    while (start < list.size() && list[start] != L'\0') {
        const std::size_t end = std::min(list.find(L'\0', start), list.size());
        const std::optional<log_record> record = decoded(list.substr(start, end - start));
        if (!record)
            break;
        journal.records.push_back(*record);
        start = end + 1;
    }
    for (auto [name, text] : {std::pair{temporary_value, &journal.temporary_folder}, std::pair{work_value, &journal.work_folder}}) {
        *text = read_text(key.get(), name, REG_SZ);
        while (!text->empty() && text->back() == L'\0')
            text->pop_back();
    }
    return journal;
}

void clear_journal(const std::wstring& product) noexcept
{
    if (product.empty())
        return;
    try {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, journal_key_path(product).c_str());
    } catch (...) {
        return;
    }
    // RegDeleteKeyW removes a key without subkeys only; its values go with it. The maker's key
    // is kept while it holds anything.
    HKEY maker = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, maker_key_path, 0, KEY_QUERY_VALUE, &maker) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0, values = 0;
    const bool empty = RegQueryInfoKeyW(maker, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                        nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(maker);
    if (empty)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, maker_key_path);
}

bool begin_journal(uninstall_log& log, const std::wstring& temporary_folder)
{
    const std::wstring product = log.identity().uninstall_key_name;
    log.journal = [product, temporary_folder](const uninstall_log& changed) {
        save_journal(product, {changed.current, temporary_folder, changed.work_folder_mark()});
    };
    return save_journal(product, {log.current, temporary_folder, log.work_folder_mark()});
}

void end_journal(uninstall_log& log) noexcept
{
    log.journal = nullptr;
    clear_journal(log.identity().uninstall_key_name);
}

std::vector<rollback_failure> roll_back_ended_installation(const log_identity& identity)
{
    const std::optional<install_journal> journal = load_journal(identity.uninstall_key_name);
    if (!journal)
        return {};
    uninstall_log ended{identity};
    std::vector<rollback_failure> left;
    // Held from here on: nobody can rename it away while the backups go back.
    const unique_hfile work = open_marked_folder(journal->work_folder);
    const std::wstring work_path = journal->work_folder.substr(0, journal->work_folder.find(L'|'));
    for (const log_record& r : journal->records) {
        const bool own_backup = r.backup.empty() || (work && equal_ignoring_case(parent_of(r.backup), work_path));
        if (own_backup)
            ended.current.push_back(r);
        else
            left.push_back({r, std::error_code(static_cast<int>(link_refused), std::system_category())});
    }
    const std::vector<rollback_failure> undone = ended.rollback();
    left.insert(left.end(), undone.begin(), undone.end());
    if (work) {
        // Removed through the held handle once empty; with a backup left in it, it stays.
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(work.get(), FileDispositionInfo, &disposition, sizeof disposition);
    }
    if (!journal->temporary_folder.empty())
        remove_temporary_folder(journal->temporary_folder);
    clear_journal(identity.uninstall_key_name);
    return left;
}

} // namespace mw
