#include "support/uninstall_log.hpp"

#include "support/guarded_files.hpp"
#include "support/paths.hpp"
#include "support/temp_names.hpp"
#include "support/txtf.hpp"
#include "support/work_folder.hpp"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <filesystem>
#include <sstream>

namespace mw {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t white_space[] = L" \t\r\n\v\f";
constexpr wchar_t class_registration_text[] = L"HKEY_CLASSES_ROOT\\...";

std::wstring trim_right(std::wstring s)
{
    s.erase(s.find_last_not_of(white_space) + 1);
    return s;
}

std::wstring trim_left(std::wstring s)
{
    s.erase(0, std::min(s.find_first_not_of(white_space), s.size()));
    return s;
}

std::wstring trim(std::wstring s) { return trim_left(trim_right(std::move(s))); }

// Reading stops at the first malformed line; what was read before stays.
struct malformed {};

// The text after `keyword` in `line`, or malformed.
std::wstring after(const std::wstring& line, const std::wstring& keyword)
{
    const auto at = line.find(keyword);
    if (at == std::wstring::npos)
        throw malformed{};
    return line.substr(at + keyword.size());
}

std::wstring existing_folder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? path : std::wstring{};
}

// A record line: "index:code:done -- text".
log_record parse_record(const std::wstring& line)
{
    std::wistringstream in{line};
    long long index = -1;
    long long code = -1;
    wchar_t colon1 = 0, colon2 = 0, digit = 0;
    std::wstring dashes;
    in >> std::dec >> index >> colon1 >> std::hex >> code >> colon2 >> digit >> dashes;
    if (in.fail() || index < 0 || colon1 != L':' || colon2 != L':' || code < 0 || code > 0x6FF ||
        (digit != L'0' && digit != L'1') || dashes != L"--")
        throw malformed{};
    log_record record;
    record.kind = static_cast<std::int32_t>(code / 256);
    record.tag = (code & 0xFF) == 0xFF ? -1 : static_cast<std::int32_t>(code & 0xFF);
    record.done = digit == L'1';
    if (record.kind != uninstall_key && record.kind != class_registration) {
        // The rest of the line after the position reached; a record completed without a path
        // (a failed shortcut) is written with nothing after "--" and reads back with none.
        const auto position = in.eof() ? line.size() : static_cast<std::size_t>(in.tellg());
        record.path = trim_left(line.substr(std::min(position, line.size())));
    }
    return record;
}

bool is_file_kind(std::int32_t kind) { return kind >= 1 && kind <= 4; }

// Removes a file the installation made, through a handle checked to be at its place: by now
// a folder users may write can have been replaced by a link.
void remove_file(const std::wstring& path) { delete_guarded(path); }

constexpr wchar_t backup_pattern[] = L"mw-%%%%%.tmp";

// Whether `path` names a shortcut (".lnk") right in `folder`.
bool is_shortcut_in(const std::wstring& path, const std::wstring& folder)
{
    const std::optional<std::wstring> link = canonical_path(path);
    const std::optional<std::wstring> place = canonical_path(folder);
    if (!link || !place)
        return false;
    const std::wstring_view name = name_of(*link);
    return name.size() > 4 && equal_ignoring_case(name.substr(name.size() - 4), L".lnk") &&
           equal_ignoring_case(parent_of(*link), *place);
}

// Moves the open file `source` (opened with DELETE, GENERIC_READ and FILE_WRITE_ATTRIBUTES
// access) to `to`, where nothing may be: renamed on one volume; across volumes, its data
// copied into the new file `make_target` creates there, then `source` deleted.
template <class MakeTarget>
void move_open_file(HANDLE source, const std::wstring& to, MakeTarget make_target)
{
    try {
        rename_open_file(source, to, false);
        return;
    } catch (const std::system_error& e) {
        if (e.code().value() != ERROR_NOT_SAME_DEVICE)
            throw;
    }
    const unique_hfile target = make_target();
    try {
        copy_file_data(source, target.get());
        delete_open_file(source);
    } catch (...) {
        delete_open_file(target.get()); // a copy that is not a move is not left behind
        throw;
    }
}

constexpr DWORD moved_access = DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES;
constexpr DWORD made_access = DELETE | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES;

// Puts the backup back at the canonical `path`, below its held, checked folders.
void restore_backup(const std::wstring& backup, const std::wstring& path)
{
    const held_folders folders(parent_of(path));
    if (!folders.complete())
        throw std::system_error(ERROR_PATH_NOT_FOUND, std::system_category());
    const unique_hfile saved{CreateFileW(backup.c_str(), moved_access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (!saved)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    move_open_file(saved.get(), path, [&] { return open_guarded(path, made_access, 0, CREATE_NEW); });
}

// The log's lines as the file holds them: UTF-16LE after a byte-order mark, CR LF line ends.
std::string file_bytes(const std::wstring& lines)
{
    std::string bytes{"\xFF\xFE"};
    bytes.reserve(2 + 2 * lines.size() + lines.size() / 8);
    auto put = [&](wchar_t c) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    };
    for (const wchar_t c : lines) {
        if (c == L'\n')
            put(L'\r');
        put(c);
    }
    return bytes;
}

} // namespace

uninstall_log::uninstall_log(log_identity identity) : identity_(std::move(identity)) {}

bool uninstall_log::read(const std::wstring& file)
{
    install_path.clear();
    shortcut_path.clear();
    has_desktop_link = true;
    if (file.empty())
        return false;
    try {
        txtf::wifstream in{file}; // automatic: the byte-order mark decides
        if (!in)
            return false;
        in.exceptions(std::ios::badbit);
        return read(in);
    } catch (...) {
        // A file that cannot be read is an empty log; what was read before stays, and the
        // result says the file was not read whole.
        return false;
    }
}

bool uninstall_log::read(std::wistream& lines)
{
    install_path.clear();
    shortcut_path.clear();
    has_desktop_link = true;
    int version = 0;
    int counter = 0;
    try {
        std::wstring line;
        while (std::getline(lines, line, L'\n')) {
            if (line.empty())
                continue;
            line = trim_right(std::move(line));
            if (line.starts_with(L"//")) {
                const auto slashes = line.find_first_not_of(L'/');
                std::wstring text = slashes == std::wstring::npos ? std::wstring{} : trim_left(line.substr(slashes));
                switch (counter) {
                case 0: {
                    std::wistringstream number{after(text, L"Uninstall Log File v")};
                    if (!(number >> version) || version != 1)
                        throw malformed{};
                    break;
                }
                case 2: {
                    std::wstring title = after(text, L"Install");
                    const auto dashes = title.find(L"--");
                    if (dashes != std::wstring::npos)
                        title.erase(dashes);
                    previous_title = trim(std::move(title));
                    break;
                }
                case 3:
                    install_path = existing_folder(trim(after(text, L"Install Path : ")));
                    break;
                case 4:
                    shortcut_path = existing_folder(trim(after(text, L"Shortcut Path : ")));
                    break;
                default:
                    break;
                }
            } else {
                if (version != 1)
                    throw malformed{};
                previous.push_back(parse_record(line));
            }
            ++counter;
        }
        if (lines.bad() || !lines.eof())
            return false;
        has_desktop_link = false;
        for (const log_record& r : previous)
            if (r.kind == desktop_link)
                has_desktop_link = true;
        return version == 1;
    } catch (...) {
        // Malformed line or read error: stop here, keeping what was read; the result says so.
        return false;
    }
}

void uninstall_log::merge_previous()
{
    for (const log_record& old : previous) {
        bool recreated = false;
        for (const log_record& now : current) {
            if (now.kind != old.kind)
                continue;
            if ((old.kind == folder || old.kind == file) && !same_path(now.path, old.path))
                continue;
            recreated = true;
            break;
        }
        if (!recreated)
            current.push_back(old);
    }
    previous.clear();
}

void uninstall_log::write_lines(std::wostream& out, const std::wstring& install_folder,
                                const std::wstring& programs_folder)
{
    out << L"// Uninstall Log File v1\n";
    out << L"// ############ WARNING: Do not delete or modify this file. ############\n";
    out << L"// Install " << identity_.product_title;
    if (!previous_title.empty())
        out << L" -- Update (" << previous_title << L")";
    out << L"\n";
    out << L"// Install Path : " << install_folder << L"\n";
    out << L"// Shortcut Path : " << programs_folder << L"\n";
    out << L"// " << std::wstring(100, L'-') << L"\n";
    std::size_t index = 0;
    for (const log_record& r : current) {
        const unsigned code = static_cast<unsigned>(r.kind) * 256 + (static_cast<unsigned>(r.tag) & 0xFF);
        out << fmt::format(L"{:04}:{:04x}:{}", index++, code, r.done ? 1 : 0) << L" -- ";
        if (r.kind == uninstall_key)
            out << L"HKEY_LOCAL_MACHINE\\" << uninstall_key_path << L'\\' << identity_.uninstall_key_name;
        else if (r.kind == class_registration)
            out << class_registration_text;
        else
            out << r.path;
        out << L"\n";
    }
}

bool uninstall_log::write(const std::wstring& file, const std::wstring& install_folder,
                          const std::wstring& programs_folder)
{
    merge_previous();
    bool written = false;
    try {
        std::wostringstream lines;
        write_lines(lines, install_folder, programs_folder);
        const std::string bytes = file_bytes(lines.str());
        // Written through a checked handle: a link in the log's place leads nowhere.
        {
            const unique_hfile existing = open_guarded(file, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       OPEN_ALWAYS);
            FILE_BASIC_INFO writable{}; // times of zero stay as they are
            writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            SetFileInformationByHandle(existing.get(), FileBasicInfo, &writable, sizeof writable);
        }
        const unique_hfile out = open_guarded(file, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING);
        DWORD done = 0;
        FILE_BASIC_INFO kept{};
        kept.FileAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        written = SetEndOfFile(out.get()) && WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                                                       nullptr) &&
                  done == bytes.size() && SetFileInformationByHandle(out.get(), FileBasicInfo, &kept, sizeof kept);
    } catch (const std::exception&) {
        written = false;
    }
    for (log_record& r : current) {
        if (r.backup.empty())
            continue;
        SetFileAttributesW(r.backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(r.backup.c_str());
        r.backup.clear();
    }
    work_.reset();
    return written;
}

void uninstall_log::append(log_record record)
{
    current.push_back(std::move(record));
    keep_journal();
}

void uninstall_log::keep_journal() const
{
    if (journal)
        journal(*this);
}

std::wstring uninstall_log::work_folder_mark() const { return work_ ? work_->mark() : std::wstring{}; }

bool uninstall_log::ensure_folder(const std::wstring& path)
{
    try {
        create_folders(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::wstring> uninstall_log::create_folders(const std::wstring& path)
{
    std::vector<std::wstring> made = create_folders_guarded(path);
    for (const std::wstring& folder_made : made)
        append({folder, folder_made, {}, true, -1});
    return made;
}

void uninstall_log::add_file(const std::wstring& path, std::int32_t tag, bool copy)
{
    pending = true;
    ensure_folder(fs::path(path).parent_path().wstring());
    log_record record{file, path, {}, false, tag};
    // The backup's name is journaled before the file is moved there.
    const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (exists)
        record.backup = make_backup({}, copy);
    append(std::move(record));
    if (exists && !current.back().backup.empty() && !back_up(path, current.back().backup, copy)) {
        current.back().backup.clear();
        keep_journal();
    }
}

void uninstall_log::add_link(bool desktop, const std::wstring& link_folder, const std::wstring& planned)
{
    pending = true;
    ensure_folder(link_folder);
    const std::int32_t kind = desktop ? desktop_link : menu_link;
    std::wstring previous_link;
    for (const log_record& old : previous) {
        if (old.kind != kind)
            continue;
        // Only a shortcut where this run puts its own is moved aside: whatever else a record
        // may name (a log can be changed by whoever can write its folder) stays where it is.
        if (is_shortcut_in(old.path, link_folder) && GetFileAttributesW(old.path.c_str()) != INVALID_FILE_ATTRIBUTES)
            previous_link = old.path;
        break;
    }
    append({kind, planned, previous_link.empty() ? std::wstring{} : make_backup({}, false), false, -1});
    if (!current.back().backup.empty() && !back_up(previous_link, current.back().backup, false)) {
        current.back().backup.clear();
        keep_journal();
    }
}

void uninstall_log::add_class_registration()
{
    pending = true;
    append({class_registration, {}, {}, false, -1});
}

void uninstall_log::complete(bool done, const std::wstring& path)
{
    if (!pending || current.empty())
        return;
    pending = false;
    log_record& last = current.back();
    last.done = done;
    if (!path.empty())
        last.path = path;
    else if (!done && (last.kind == menu_link || last.kind == desktop_link))
        last.path.clear(); // the shortcut planned was not made
    keep_journal();
}

std::wstring uninstall_log::make_backup(const std::wstring& path, bool copy)
{
    try {
        if (!work_)
            work_ = std::make_shared<work_folder>();
        const std::wstring backup = work_->new_name(backup_pattern);
        if (path.empty() || back_up(path, backup, copy))
            return backup;
    } catch (const std::exception&) {
    }
    return {};
}

bool uninstall_log::back_up(const std::wstring& path, const std::wstring& backup, bool copy)
{
    const auto make_target = [&] {
        unique_hfile target{CreateFileW(backup.c_str(), made_access, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
        if (!target)
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
        return target;
    };
    try {
        if (copy) {
            const unique_hfile source = open_guarded(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
            const unique_hfile target = make_target();
            try {
                copy_file_data(source.get(), target.get());
            } catch (...) {
                delete_open_file(target.get());
                throw;
            }
            return true;
        }
        const unique_hfile source = open_guarded(path, moved_access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                 OPEN_EXISTING);
        move_open_file(source.get(), backup, make_target);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<rollback_failure> uninstall_log::rollback()
{
    std::vector<rollback_failure> left;
    for (auto r = current.rbegin(); r != current.rend(); ++r) {
        // A record that fails stays as it is; the walk goes on with the earlier ones.
        try {
            std::error_code error;
            if (r->kind == folder) {
                if (!remove_folder_guarded(r->path))
                    error = std::error_code(ERROR_DIR_NOT_EMPTY, std::system_category());
            } else if (is_file_kind(r->kind)) {
                if (!r->backup.empty() && GetFileAttributesW(r->backup.c_str()) == INVALID_FILE_ATTRIBUTES &&
                    GetLastError() == ERROR_FILE_NOT_FOUND)
                    continue; // ended before the file was moved aside: it is still the one there before
                if (!r->path.empty())
                    remove_file(r->path);
                if (!r->backup.empty() && !r->path.empty()) {
                    // Back to its place, not through a link.
                    const std::optional<std::wstring> place = canonical_path(r->path);
                    if (!place)
                        throw std::system_error(ERROR_BAD_PATHNAME, std::system_category());
                    restore_backup(r->backup, *place);
                }
            } else if (r->kind == uninstall_key) {
                error = restore_uninstall_key(*r);
            }
            if (error)
                left.push_back({*r, error});
        } catch (const std::system_error& e) {
            left.push_back({*r, e.code()});
        } catch (...) {
            left.push_back({*r, std::make_error_code(std::errc::not_enough_memory)});
        }
    }
    current.clear();
    pending = false;
    // Emptied, the work folder goes; with a backup that could not be put back, it stays.
    work_.reset();
    return left;
}

bool uninstall_log::previous_file_installed(const std::wstring& path) const
{
    for (const log_record& r : previous)
        if (r.kind == file && r.done && same_path_lexically(r.path, path))
            return true;
    return false;
}

} // namespace mw
