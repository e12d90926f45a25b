#include "support/uninstall_log.hpp"

#include "support/paths.hpp"
#include "support/unique_handle.hpp"
#include "tests/links.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using mw::log_record;
using mw::uninstall_log;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;

const mw::log_identity identity{L"Tilewright 1.22a", L"Tilewright"};

using testing_support::running_under_wine;
std::vector<std::wstring> lines_of(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::wistringstream in{text};
    for (std::wstring line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::wstring written(uninstall_log& log, const std::wstring& install = L"C:\\Program Files\\Marrowind Works\\Tilewright",
                     const std::wstring& programs = L"C:\\ProgramData\\Start Menu\\Programs")
{
    std::wostringstream out;
    log.write_lines(out, install, programs);
    return out.str();
}

uninstall_log read_text(const std::wstring& text)
{
    uninstall_log log{identity};
    std::wistringstream in{text};
    log.read(in);
    return log;
}

const std::wstring header = L"// Uninstall Log File v1\n"
                            L"// ############ WARNING: Do not delete or modify this file. ############\n"
                            L"// Install Tilewright 1.22a\n"
                            L"// Install Path : C:\\Program Files\\Marrowind Works\\Tilewright\n"
                            L"// Shortcut Path : C:\\ProgramData\\Start Menu\\Programs\n"
                            L"// " + std::wstring(100, L'-') + L"\n";

TEST(uninstall_log_format, a_log_without_records_is_the_six_header_lines)
{
    uninstall_log log{identity};
    EXPECT_EQ(written(log), header);
}

TEST(uninstall_log_format, record_lines_carry_index_code_done_and_text)
{
    uninstall_log log{identity};
    log.current = {
        {mw::folder, L"C:\\Program Files\\Marrowind Works", {}, true, -1},
        {mw::file, L"C:\\Program Files\\Marrowind Works\\Tilewright\\Tilewright.exe", {}, true, 1},
        {mw::file, L"C:\\ProgramData\\Marrowind Works\\Modules\\Tilewright\\a.lbm", {}, false, 3},
        {mw::menu_link, L"", {}, false, -1},
        {mw::uninstall_key, L"ignored", {}, true, -1},
        {mw::class_registration, L"", {}, true, -1},
    };
    const auto lines = lines_of(written(log));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[6], L"0000:00ff:1 -- C:\\Program Files\\Marrowind Works");
    EXPECT_EQ(lines[7], L"0001:0101:1 -- C:\\Program Files\\Marrowind Works\\Tilewright\\Tilewright.exe");
    EXPECT_EQ(lines[8], L"0002:0103:0 -- C:\\ProgramData\\Marrowind Works\\Modules\\Tilewright\\a.lbm");
    EXPECT_EQ(lines[9], L"0003:02ff:0 -- ");
    EXPECT_EQ(lines[10],
              L"0004:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright");
    EXPECT_EQ(lines[11], L"0005:06ff:1 -- HKEY_CLASSES_ROOT\\...");
}

TEST(uninstall_log_format, the_index_width_is_a_minimum)
{
    uninstall_log log{identity};
    log.current.assign(10001, {mw::file, L"C:\\f", {}, true, 0});
    const auto lines = lines_of(written(log));
    EXPECT_EQ(lines[6 + 9999], L"9999:0100:1 -- C:\\f");
    EXPECT_EQ(lines.back(), L"10000:0100:1 -- C:\\f");
}

TEST(uninstall_log_format, an_update_names_the_previous_title)
{
    auto log = read_text(L"// Uninstall Log File v1\n//\n// Install Tilewright 1.22a -- Update (Tilewright 1.20)\n");
    EXPECT_EQ(log.previous_title, L"Tilewright 1.22a");
    EXPECT_EQ(lines_of(written(log))[2], L"// Install Tilewright 1.22a -- Update (Tilewright 1.22a)");
}

TEST(uninstall_log_reading, reads_back_what_was_written)
{
    scratch_folder dir;
    uninstall_log log{identity};
    log.current = {
        {mw::folder, dir.path().wstring(), {}, true, -1},
        {mw::file, dir / L"Tilewright.exe", {}, true, 1},
        {mw::desktop_link, dir / L"Tilewright 1.22a.lnk", {}, true, -1},
        {mw::uninstall_key, L"", {}, true, -1},
        {mw::class_registration, L"", {}, false, -1},
    };
    const auto expected = log.current;
    auto back = read_text(written(log, dir.path().wstring(), dir.path().wstring()));
    EXPECT_EQ(back.previous, expected);
    EXPECT_TRUE(mw::same_path(back.install_path, dir.path().wstring()));
    EXPECT_TRUE(mw::same_path(back.shortcut_path, dir.path().wstring()));
    EXPECT_TRUE(back.has_desktop_link);
    EXPECT_EQ(back.previous_title, L"Tilewright 1.22a");
}

TEST(uninstall_log_reading, header_and_record_cases)
{
    const std::wstring records = L"0000:00ff:1 -- C:\\A\n0001:0100:1 -- C:\\A\\f.txt\n";
    struct read_case {
        const char* name;
        std::wstring text;
        std::size_t records;
        bool desktop;
        std::wstring title;
        bool whole; // the whole log was read
    };
    const read_case cases[] = {
        {"plain", header + records, 2, false, L"Tilewright 1.22a", true},
        {"empty", L"", 0, false, L"", false},
        {"blank lines only", L"\n\n\n", 0, false, L"", false},
        {"blank lines do not shift the header",
         L"\n\n" + header.substr(0, 25) + L"\n\n" + header.substr(25) + L"\n" + records, 2, false,
         L"Tilewright 1.22a", true},
        {"white-space-only line is malformed", header + L"   \t\n" + records, 0, true, L"Tilewright 1.22a", false},
        {"wrong version", L"// Uninstall Log File v2\n" + header.substr(25) + records, 0, true, L"", false},
        {"no header", records, 0, true, L"", false},
        {"code 0700 stops", header + records + L"0002:0700:1 -- C:\\x\n0003:0100:1 -- C:\\y\n", 2, true,
         L"Tilewright 1.22a", false},
        {"done digit 2 stops", header + records + L"0002:0100:2 -- C:\\x\n0003:0100:1 -- C:\\y\n", 2, true,
         L"Tilewright 1.22a", false},
        {"negative index stops", header + L"-001:0100:1 -- C:\\x\n", 0, true, L"Tilewright 1.22a", false},
        {"huge index stops", header + L"99999999999999999999999:0100:1 -- C:\\x\n", 0, true, L"Tilewright 1.22a", false},
        {"missing dashes stops", header + L"0000:0100:1 C:\\x\n", 0, true, L"Tilewright 1.22a", false},
        {"desktop link", header + records + L"0002:04ff:1 -- C:\\d.lnk\n", 3, true, L"Tilewright 1.22a", true},
        {"missing install keyword", L"// Uninstall Log File v1\n//\n// Setup of something\n" + records, 0, true, L"", false},
    };
    for (const auto& c : cases) {
        uninstall_log log{identity};
        std::wistringstream in{c.text};
        EXPECT_EQ(log.read(in), c.whole) << c.name;
        EXPECT_EQ(log.previous.size(), c.records) << c.name;
        EXPECT_EQ(log.has_desktop_link, c.desktop) << c.name;
        EXPECT_EQ(log.previous_title, c.title) << c.name;
    }
}

TEST(uninstall_log_reading, tolerates_white_space_in_record_lines_and_drops_paths_of_key_records)
{
    auto log = read_text(header + L"  0000 : 0103 : 1   --   C:\\dir with blanks\\a b.lbm   \n"
                                  L"0001:05ff:1 -- HKEY_LOCAL_MACHINE\\whatever\n"
                                  L"0002:06ff:0 -- anything at all\n"
                                  L"0003:02ff:0 --\n"
                                  L"0004:0100:1 -- C:\\after\n");
    ASSERT_EQ(log.previous.size(), 5u);
    EXPECT_EQ(log.previous[0], (log_record{mw::file, L"C:\\dir with blanks\\a b.lbm", {}, true, 3}));
    EXPECT_EQ(log.previous[1], (log_record{mw::uninstall_key, L"", {}, true, -1}));
    EXPECT_EQ(log.previous[2], (log_record{mw::class_registration, L"", {}, false, -1}));
    // A record completed without a path (a failed shortcut) reads back with none.
    EXPECT_EQ(log.previous[3], (log_record{mw::menu_link, L"", {}, false, -1}));
    EXPECT_EQ(log.previous[4].path, L"C:\\after");
}

TEST(uninstall_log_reading, a_vanished_install_folder_is_left_empty)
{
    auto log = read_text(L"// Uninstall Log File v1\n//\n// Install T\n// Install Path : C:\\no\\such\\folder\n"
                         L"// Shortcut Path : C:\\windows\n");
    EXPECT_TRUE(log.install_path.empty());
    EXPECT_TRUE(mw::same_path(log.shortcut_path, L"C:\\windows"));
}

TEST(uninstall_log_reading, survives_mutated_logs)
{
    uninstall_log source{identity};
    for (int i = 0; i < 40; ++i)
        source.current.push_back({i % 7, L"C:\\Folder\\file" + std::to_wstring(i), {}, i % 2 == 0, i % 6});
    const std::wstring valid = written(source);
    std::mt19937 rng{12345};
    const std::wstring inserts[] = {L"\n", L"//", L"--", L":", L"99999999999999999999", L"0x7ff", L"\xFFFD",
                                    L"\r", L" -- ", L"-1", L"\xD800", L"ffffffffffffffffff"};
    for (int round = 0; round < 3000; ++round) {
        std::wstring text = valid;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 4) {
            case 0: text.resize(at); break;
            case 1: text[at] = static_cast<wchar_t>(rng() % 0x10000); break;
            case 2: text.insert(at, inserts[rng() % std::size(inserts)]); break;
            case 3: text.erase(at, rng() % 200); break;
            }
        }
        uninstall_log log{identity};
        std::wistringstream in{text};
        EXPECT_NO_THROW(log.read(in));
        EXPECT_LE(log.previous.size(), 60u);
        for (const auto& r : log.previous) {
            EXPECT_GE(r.kind, 0);
            EXPECT_LE(r.kind, 6);
        }
    }
}

TEST(uninstall_log_merge, previous_records_not_recreated_follow_this_runs)
{
    uninstall_log log{identity};
    log.previous = {
        {mw::folder, L"C:\\Dir", {}, true, -1},
        {mw::file, L"C:\\Dir\\File.txt", {}, true, 0},
        {mw::file, L"C:\\Dir\\Old.txt", {}, true, 0},
        {mw::menu_link, L"C:\\Menu\\T 1.20.lnk", {}, true, -1},
        {mw::desktop_link, L"C:\\Desk\\T 1.20.lnk", {}, true, -1},
        {mw::uninstall_key, L"", {}, true, -1},
        {mw::uninstall_key, L"", {}, true, -1},
        {mw::class_registration, L"", {}, true, -1},
        {mw::class_registration, L"", {}, false, -1},
    };
    log.current = {
        {mw::file, L"c:\\dir\\.\\FILE.TXT", {}, true, 0}, // same path, neither exists
        {mw::desktop_link, L"C:\\Desk\\T 1.22a.lnk", {}, true, -1},
    };
    log.merge_previous();
    EXPECT_TRUE(log.previous.empty());
    const std::vector<log_record> expected{
        {mw::file, L"c:\\dir\\.\\FILE.TXT", {}, true, 0},
        {mw::desktop_link, L"C:\\Desk\\T 1.22a.lnk", {}, true, -1},
        {mw::folder, L"C:\\Dir", {}, true, -1},
        {mw::file, L"C:\\Dir\\Old.txt", {}, true, 0},
        {mw::menu_link, L"C:\\Menu\\T 1.20.lnk", {}, true, -1},
        {mw::uninstall_key, L"", {}, true, -1},
        {mw::class_registration, L"", {}, true, -1},
    };
    EXPECT_EQ(log.current, expected);
    const auto lines = lines_of(written(log));
    EXPECT_EQ(lines[8], L"0002:00ff:1 -- C:\\Dir");
}

TEST(uninstall_log_recording, ensure_folder_records_each_folder_it_creates_parents_first)
{
    scratch_folder dir;
    uninstall_log log{identity};
    EXPECT_TRUE(log.ensure_folder(dir / L"a\\b\\c"));
    ASSERT_EQ(log.current.size(), 3u);
    EXPECT_EQ(log.current[0].path, dir / L"a");
    EXPECT_EQ(log.current[2].path, dir / L"a\\b\\c");
    EXPECT_TRUE(log.ensure_folder(dir / L"a\\b"));
    EXPECT_EQ(log.current.size(), 3u);
    write_bytes(dir / L"file", "x");
    EXPECT_FALSE(log.ensure_folder(dir / L"file"));
    EXPECT_FALSE(log.ensure_folder(dir / L"file\\sub"));
    EXPECT_EQ(log.current.size(), 3u);
    EXPECT_FALSE(log.pending);
}

TEST(uninstall_log_recording, complete_finishes_only_a_pending_record)
{
    scratch_folder dir;
    uninstall_log log{identity};
    log.complete(true, L"ignored");
    EXPECT_TRUE(log.current.empty());
    log.add_link(false, dir / L"Menu");
    ASSERT_EQ(log.current.size(), 2u); // the folder, then the link
    log.complete(true, dir / L"Menu\\T.lnk");
    EXPECT_EQ(log.current[1], (log_record{mw::menu_link, dir / L"Menu\\T.lnk", {}, true, -1}));
    log.complete(false, L"");
    EXPECT_TRUE(log.current[1].done);
    log.add_class_registration();
    log.complete(false, L"");
    EXPECT_EQ(log.current[2], (log_record{mw::class_registration, L"", {}, false, -1}));
}

TEST(uninstall_log_rollback, restores_replaced_files_and_removes_new_ones)
{
    scratch_folder dir;
    write_bytes(dir / L"App\\old.dll", "previous content");
    uninstall_log log{identity};
    log.add_file(dir / L"App\\old.dll", 0, false);
    EXPECT_FALSE(log.current.back().backup.empty());
    EXPECT_FALSE(fs::exists(dir / L"App\\old.dll")); // moved aside
    write_bytes(dir / L"App\\old.dll", "new content");
    log.complete(true, L"");
    log.add_file(dir / L"App\\Sub\\new.exe", 1, false);
    write_bytes(dir / L"App\\Sub\\new.exe", "new file");
    log.complete(true, L"");
    write_bytes(dir / L"App\\module.lbm", "user edited");
    log.add_file(dir / L"App\\module.lbm", 3, true); // kept by copy
    EXPECT_EQ(read_bytes(dir / L"App\\module.lbm"), "user edited");
    write_bytes(dir / L"App\\module.lbm", "replaced");

    log.rollback();
    EXPECT_TRUE(log.current.empty());
    EXPECT_EQ(read_bytes(dir / L"App\\old.dll"), "previous content");
    EXPECT_EQ(read_bytes(dir / L"App\\module.lbm"), "user edited");
    EXPECT_FALSE(fs::exists(dir / L"App\\Sub")); // the new file and the folder created for it
    EXPECT_TRUE(fs::exists(dir / L"App"));
}

TEST(uninstall_log_rollback, reports_nothing_when_everything_was_undone)
{
    scratch_folder dir;
    uninstall_log log{identity};
    log.ensure_folder(dir / L"New\\Deeper");
    log.add_file(dir / L"New\\Deeper\\a.txt", 0, false);
    write_bytes(dir / L"New\\Deeper\\a.txt", "new");
    log.complete(true, L"");
    EXPECT_TRUE(log.rollback().empty());
    EXPECT_FALSE(fs::exists(dir / L"New"));
}

TEST(uninstall_log_previous, knows_the_files_the_previous_installation_installed)
{
    uninstall_log log{identity};
    log.previous = {
        {mw::file, L"C:\\Program Files\\Maker\\App\\Modules\\a.lbm", {}, true, 3},
        {mw::file, L"C:\\Program Files\\Maker\\App\\failed.lbm", {}, false, 3},
        {mw::folder, L"C:\\Program Files\\Maker\\App\\Folder", {}, true, -1},
        {mw::menu_link, L"C:\\Links\\App.lnk", {}, true, -1},
    };
    struct query_case {
        std::wstring path;
        bool installed;
    };
    const query_case cases[] = {
        {L"C:\\Program Files\\Maker\\App\\Modules\\a.lbm", true},
        {L"c:\\program files\\maker\\app\\modules\\A.LBM", true},
        {L"C:\\Program Files\\Maker\\App\\.\\Modules\\..\\Modules\\a.lbm", true},
        {L"C:\\Program Files\\Maker\\App\\Modules\\b.lbm", false},
        {L"C:\\Program Files\\Maker\\App\\failed.lbm", false}, // recorded, not done
        {L"C:\\Program Files\\Maker\\App\\Folder", false},     // a folder record
        {L"C:\\Links\\App.lnk", false},                             // a shortcut record
    };
    for (const auto& c : cases)
        EXPECT_EQ(log.previous_file_installed(c.path), c.installed) << fs::path(c.path);
}

TEST(uninstall_log_rollback, keeps_going_when_one_record_fails)
{
    scratch_folder dir;
    uninstall_log log{identity};
    log.ensure_folder(dir / L"Made");
    write_bytes(dir / L"Made\\user.txt", "a file the setup did not record");
    write_bytes(dir / L"Made\\locked.txt", "before");
    log.add_file(dir / L"Made\\locked.txt", 0, false);
    const std::wstring backup = log.current.back().backup;
    write_bytes(dir / L"Made\\locked.txt", "after");
    log.add_file(dir / L"Made\\free.txt", 0, false);
    write_bytes(dir / L"Made\\free.txt", "new");
    std::vector<mw::rollback_failure> left;
    {
        // Held open without delete sharing: it cannot be removed.
        HANDLE h = CreateFileW((dir / L"Made\\locked.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        left = log.rollback();
        CloseHandle(h);
    }
    // What stays is reported, in the order the walk met it: the held file, then its folder.
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].record.path, dir / L"Made\\locked.txt");
    EXPECT_EQ(left[0].error, std::error_code(ERROR_SHARING_VIOLATION, std::system_category())) << left[0].error.message();
    EXPECT_EQ(left[1].record.kind, mw::folder);
    EXPECT_EQ(left[1].error, std::error_code(ERROR_DIR_NOT_EMPTY, std::system_category())) << left[1].error.message();
    EXPECT_FALSE(fs::exists(dir / L"Made\\free.txt"));            // the later record was undone
    EXPECT_EQ(read_bytes(dir / L"Made\\locked.txt"), "after");    // the failing one stays
    EXPECT_EQ(read_bytes(backup), "before");                       // and keeps its backup
    EXPECT_TRUE(fs::exists(dir / L"Made\\user.txt"));             // a folder that is not empty stays
    fs::remove(backup);
    fs::remove(fs::path(backup).parent_path()); // the log's work folder, kept for the backup
}

TEST(uninstall_log_backup, make_backup_moves_or_copies_into_a_work_folder_of_the_logs_own)
{
    scratch_folder dir;
    write_bytes(dir / L"f.txt", "content");
    std::wstring work;
    {
        uninstall_log log{identity};
        log.add_file(dir / L"f.txt", 3, true); // a module, kept by copy
        log.complete(true, {});
        const std::wstring copied = log.current.back().backup;
        EXPECT_EQ(read_bytes(copied), "content");
        EXPECT_TRUE(fs::exists(dir / L"f.txt"));
        log.add_file(dir / L"f.txt", 0, false);
        log.complete(true, {});
        const std::wstring moved = log.current.back().backup;
        EXPECT_EQ(read_bytes(moved), "content");
        EXPECT_FALSE(fs::exists(dir / L"f.txt"));
        EXPECT_NE(copied, moved);
        EXPECT_TRUE(log.make_backup(dir / L"missing.txt", false).empty());
        const std::wstring name = log.make_backup(L"", false);
        EXPECT_FALSE(fs::exists(name));
        // All in one folder of the log's own in the temporary folder, not in the temporary folder.
        work = fs::path(name).parent_path().wstring();
        EXPECT_EQ(fs::path(copied).parent_path(), work);
        EXPECT_EQ(fs::path(moved).parent_path(), work);
        EXPECT_TRUE(mw::same_path(fs::path(work).parent_path().wstring(), fs::temp_directory_path().wstring()));
        EXPECT_TRUE(fs::path(work).filename().wstring().starts_with(L"mw-")) << fs::path(work);
        // Held: nobody can rename it away and put another in its place meanwhile.
        EXPECT_FALSE(MoveFileW(work.c_str(), (work + L"-moved").c_str()));
        // Written, the log deletes its backups, and the empty folder goes with the log.
        EXPECT_TRUE(log.write(dir / L"Uninstall.ulog", dir.path().wstring(), dir / L"Menu"));
        EXPECT_FALSE(fs::exists(copied));
        EXPECT_FALSE(fs::exists(moved));
    }
    EXPECT_FALSE(fs::exists(work));
}

TEST(uninstall_log_backup, a_file_reached_through_a_link_is_neither_moved_nor_copied)
{
    scratch_folder dir, victim;
    write_bytes(victim / L"f.txt", "victim");
    if (!testing_support::can_make_links())
        GTEST_SKIP() << testing_support::no_links_here;
    testing_support::make_link(victim.path().wstring(), dir / L"linked");
    uninstall_log log{identity};
    EXPECT_TRUE(log.make_backup(dir / L"linked\\f.txt", true).empty());
    EXPECT_TRUE(log.make_backup(dir / L"linked\\f.txt", false).empty());
    EXPECT_EQ(read_bytes(victim / L"f.txt"), "victim");
    testing_support::remove_link(dir / L"linked");
}

TEST(uninstall_log_recording, add_link_moves_aside_only_a_shortcut_in_the_folder_of_the_new_one)
{
    // A log is rewritten by whoever can write its folder: its shortcut records may name anything.
    scratch_folder dir;
    struct named_case {
        const wchar_t* what;
        std::wstring named;
    };
    const named_case cases[] = {
        {L"a file that is no shortcut", dir / L"Links\\victim.txt"},
        {L"a shortcut in another folder", dir / L"Elsewhere\\Tilewright.lnk"},
        {L"a folder", dir / L"Links\\Folder.lnk"},
        {L"a relative name", L"Tilewright.lnk"},
    };
    write_bytes(dir / L"Links\\victim.txt", "victim");
    write_bytes(dir / L"Elsewhere\\Tilewright.lnk", "victim");
    fs::create_directories(dir / L"Links\\Folder.lnk");
    for (const named_case& c : cases) {
        uninstall_log log{identity};
        log.previous = {{mw::menu_link, c.named, {}, true, -1}};
        log.add_link(false, dir / L"Links");
        EXPECT_TRUE(log.current.back().backup.empty()) << fs::path(c.what);
    }
    EXPECT_EQ(read_bytes(dir / L"Links\\victim.txt"), "victim");
    EXPECT_EQ(read_bytes(dir / L"Elsewhere\\Tilewright.lnk"), "victim");
    EXPECT_TRUE(fs::is_directory(dir / L"Links\\Folder.lnk"));
}

} // namespace

namespace {

// Drive T: of the test prefix is a folder on another file system (see scripts/wine-run.sh).
bool on_other_volume(const std::wstring& a, const std::wstring& b)
{
    DWORD sa = 0, sb = 0;
    const std::wstring ra = fs::path(a).root_path().wstring(), rb = fs::path(b).root_path().wstring();
    if (!GetVolumeInformationW(ra.c_str(), nullptr, 0, &sa, nullptr, nullptr, nullptr, 0) ||
        !GetVolumeInformationW(rb.c_str(), nullptr, 0, &sb, nullptr, nullptr, nullptr, 0))
        return false;
    return GetDriveTypeW(rb.c_str()) != DRIVE_NO_ROOT_DIR && sa != sb;
}

// Points the temporary folder elsewhere for the life of the object.
class temp_folder_override {
public:
    explicit temp_folder_override(const std::wstring& folder)
    {
        wchar_t old[MAX_PATH] = {};
        GetEnvironmentVariableW(L"TMP", old, MAX_PATH);
        old_ = old;
        SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~temp_folder_override() { SetEnvironmentVariableW(L"TMP", old_.empty() ? nullptr : old_.c_str()); }

private:
    std::wstring old_;
};

TEST(uninstall_log_rollback, restores_a_replaced_file_from_another_volume)
{
    scratch_folder dir;
    std::optional<scratch_folder> other_folder;
    try {
        other_folder.emplace(fs::path(L"T:\\"));
    } catch (const fs::filesystem_error&) {
    }
    if (!other_folder || !on_other_volume(dir.path().wstring(), other_folder->path().wstring()))
        GTEST_SKIP() << "no second volume: drive T: is not mapped to another file system";
    const std::wstring other = other_folder->path().wstring();
    temp_folder_override temp{other};
    write_bytes(dir / L"App\\Tilewright.exe", "installed before");
    SetFileAttributesW((dir / L"App\\Tilewright.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    uninstall_log log{identity};
    log.add_file(dir / L"App\\Tilewright.exe", 1, false);
    const std::wstring backup = log.current.back().backup;
    ASSERT_FALSE(backup.empty());
    EXPECT_TRUE(mw::same_path(fs::path(backup).parent_path().parent_path().wstring(), other));
    EXPECT_FALSE(fs::exists(dir / L"App\\Tilewright.exe"));
    write_bytes(dir / L"App\\Tilewright.exe", "new version");

    log.rollback();
    EXPECT_EQ(read_bytes(dir / L"App\\Tilewright.exe"), "installed before");
    EXPECT_TRUE(GetFileAttributesW((dir / L"App\\Tilewright.exe").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(fs::exists(backup));
}

// A product of the tests' own under the system's Uninstall key, removed first and last.
class test_uninstall_key : public ::testing::Test {
protected:
    static constexpr wchar_t parent[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    const std::wstring name = L"MwTestProduct-" + std::to_wstring(GetCurrentProcessId());
    const mw::log_identity test_identity{L"Test Product 1.0", name};

    void SetUp() override { remove(); }
    void TearDown() override { remove(); }
    void remove()
    {
        HKEY uninstall = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS, &uninstall) == ERROR_SUCCESS) {
            RegDeleteTreeW(uninstall, name.c_str());
            RegCloseKey(uninstall);
        }
    }
    HKEY create()
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(parent) + L"\\" + name).c_str(), 0, nullptr, 0,
                                  MAXIMUM_ALLOWED, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    bool exists()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(parent) + L"\\" + name).c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    std::wstring value(const wchar_t* value_name)
    {
        wchar_t data[256] = {};
        DWORD size = sizeof data;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, (std::wstring(parent) + L"\\" + name).c_str(), value_name, RRF_RT_REG_SZ,
                         nullptr, data, &size) != ERROR_SUCCESS)
            return L"<none>";
        return data;
    }
};

TEST_F(test_uninstall_key, a_new_key_has_no_backup_and_rollback_deletes_it)
{
    HKEY key = create();
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    HKEY sub = nullptr;
    RegCreateKeyExW(key, L"Nested", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);
    RegCloseKey(key);
    uninstall_log log{test_identity};
    log.add_uninstall_key(nullptr);
    ASSERT_EQ(log.current.size(), 1u);
    EXPECT_EQ(log.current[0], (log_record{mw::uninstall_key, L"", {}, false, -1}));
    EXPECT_TRUE(log.pending);
    log.complete(true, L"");
    log.rollback();
    EXPECT_FALSE(exists());
}

// A hive file loaded as a key under HKEY_USERS for the life of the object, with the backup and
// restore privileges that loading and unloading need.
class loaded_hive {
public:
    explicit loaded_hive(const std::wstring& file)
    {
        mw::set_privilege(L"SeRestorePrivilege", true);
        mw::set_privilege(L"SeBackupPrivilege", true);
        status_ = RegLoadKeyW(HKEY_USERS, name_.c_str(), file.c_str());
    }
    ~loaded_hive()
    {
        if (status_ == ERROR_SUCCESS)
            RegUnLoadKeyW(HKEY_USERS, name_.c_str());
        mw::set_privilege(L"SeBackupPrivilege", false);
        mw::set_privilege(L"SeRestorePrivilege", false);
    }
    loaded_hive(const loaded_hive&) = delete;
    loaded_hive& operator=(const loaded_hive&) = delete;

    LSTATUS status() const { return status_; }
    // A value of the loaded key or of its subkey `sub`: its type and bytes; type REG_NONE and
    // no bytes when there is none.
    std::pair<DWORD, std::string> value(const wchar_t* sub, const wchar_t* value_name) const
    {
        const std::wstring key = sub ? name_ + L"\\" + sub : name_;
        DWORD type = REG_NONE, size = 0;
        if (RegGetValueW(HKEY_USERS, key.c_str(), value_name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            return {REG_NONE, {}};
        std::string data(size, '\0');
        if (RegGetValueW(HKEY_USERS, key.c_str(), value_name, RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            return {REG_NONE, {}};
        data.resize(size);
        return {type, data};
    }

private:
    const std::wstring name_ = L"MwTestHive-" + std::to_wstring(GetCurrentProcessId());
    LSTATUS status_ = ERROR_INVALID_FUNCTION;
};

std::string bytes_of(const void* data, std::size_t size)
{
    return {static_cast<const char*>(data), size};
}

TEST_F(test_uninstall_key, an_existing_key_is_saved_to_a_hive_file_that_writing_the_log_deletes)
{
    HKEY key = create();
    const DWORD estimated = 7;
    const BYTE binary[] = {0, 1, 0xFE, 0xFF};
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"old"), 8);
    RegSetValueExW(key, L"EstimatedSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&estimated), 4);
    RegSetValueExW(key, L"Blob", 0, REG_BINARY, binary, sizeof binary);
    HKEY nested = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, L"Nested", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &nested, nullptr), ERROR_SUCCESS);
    RegSetValueExW(nested, L"Inner", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"in"), 6);
    RegCloseKey(nested);
    uninstall_log log{test_identity};
    log.add_uninstall_key(key);
    // What the setup then writes must not reach the saved copy.
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"new"), 8);
    RegSetValueExW(key, L"Added", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(key);
    const std::wstring hive = log.current.at(0).backup;
    ASSERT_FALSE(hive.empty());
    {
        const loaded_hive saved{hive};
        ASSERT_EQ(saved.status(), ERROR_SUCCESS) << "the saved file does not load as a hive";
        struct value_case {
            const wchar_t* sub;
            const wchar_t* name;
            DWORD type;
            std::string data;
        };
        const value_case cases[] = {
            {nullptr, L"DisplayName", REG_SZ, bytes_of(L"old", 8)},
            {nullptr, L"EstimatedSize", REG_DWORD, bytes_of(&estimated, 4)},
            {nullptr, L"Blob", REG_BINARY, bytes_of(binary, sizeof binary)},
            {L"Nested", L"Inner", REG_SZ, bytes_of(L"in", 6)},
            {nullptr, L"Added", REG_NONE, {}},
        };
        for (const auto& c : cases) {
            const auto [type, data] = saved.value(c.sub, c.name);
            EXPECT_EQ(type, c.type) << fs::path(c.name);
            EXPECT_EQ(data, c.data) << fs::path(c.name);
        }
    }
    scratch_folder dir;
    log.complete(true, L"");
    log.write(dir / L"Uninstall.ulog", dir.path().wstring(), dir.path().wstring());
    EXPECT_FALSE(fs::exists(hive));
    EXPECT_TRUE(log.current.at(0).backup.empty());
}

TEST_F(test_uninstall_key, a_failed_save_leaves_no_backup_and_no_file)
{
    // The backup goes to a temporary folder of this test's own, which must stay empty. The "key"
    // is a handle of another kind (an event): this system's save creates its file first and then
    // fails on the handle, so the clean-up of a half-made file is what is tested.
    scratch_folder temp;
    const temp_folder_override temporary{temp.path().wstring() + L"\\"};
    const mw::unique_handle not_a_key{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_TRUE(not_a_key);
    const HKEY key = static_cast<HKEY>(not_a_key.get());
    {
        scratch_folder probe;
        mw::set_privilege(L"SeBackupPrivilege", true);
        const LSTATUS status = RegSaveKeyW(key, (probe / L"probe.hiv").c_str(), nullptr);
        mw::set_privilege(L"SeBackupPrivilege", false);
        ASSERT_NE(status, ERROR_SUCCESS);
        if (!fs::exists(probe / L"probe.hiv"))
            GTEST_SKIP() << "this system's save fails before it creates its file: nothing half-made to clean up";
    }
    {
        uninstall_log log{test_identity};
        log.add_uninstall_key(key);
        ASSERT_EQ(log.current.size(), 1u);
        EXPECT_TRUE(log.current[0].backup.empty());
    }
    // The log's work folder, empty, goes with the log.
    std::vector<std::wstring> left;
    for (const auto& entry : fs::directory_iterator(temp.path()))
        left.push_back(entry.path().filename().wstring());
    EXPECT_EQ(left, std::vector<std::wstring>{});
}

TEST_F(test_uninstall_key, rollback_puts_the_saved_values_back)
{
    if (running_under_wine())
        GTEST_SKIP() << "RegRestoreKeyW is a stub under Wine: it reports success and changes nothing";
    HKEY key = create();
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"old"), 8);
    uninstall_log log{test_identity};
    log.add_uninstall_key(key);
    RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"new"), 8);
    RegSetValueExW(key, L"Added", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(key);
    log.complete(true, L"");
    log.rollback();
    EXPECT_EQ(value(L"DisplayName"), L"old");
    EXPECT_EQ(value(L"Added"), L"<none>");
}

TEST(set_privilege, switches_a_privilege_and_refuses_unknown_names)
{
    EXPECT_TRUE(mw::set_privilege(L"SeBackupPrivilege", true));
    EXPECT_TRUE(mw::set_privilege(L"SeBackupPrivilege", false));
    DWORD before = 0, after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &before);
    EXPECT_FALSE(mw::set_privilege(L"SeNoSuchPrivilege", true));
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_EQ(after, before); // no token left open
}

} // namespace

namespace {

std::string utf16le(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

TEST(uninstall_log_file, is_utf16le_with_bom_and_crlf_and_read_only_afterwards)
{
    scratch_folder dir;
    uninstall_log log{identity};
    log.current = {{mw::folder, L"C:\\Dossier été", {}, true, -1}};
    const std::wstring file = dir / L"Uninstall.ulog";
    ASSERT_TRUE(log.write(file, L"C:\\Program Files\\Marrowind Works\\Tilewright", L"C:\\ProgramData\\Start Menu\\Programs"));
    std::wstring expected = header + L"0000:00ff:1 -- C:\\Dossier été\n";
    std::wstring crlf;
    for (wchar_t c : expected)
        crlf += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    EXPECT_EQ(read_bytes(file), "\xFF\xFE" + utf16le(crlf));
    const DWORD attributes = GetFileAttributesW(file.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    if (!running_under_wine()) { // Wine keeps no "not content indexed" attribute
        EXPECT_EQ(attributes, 0x2021u);
    }

    // Written again over the read-only file.
    log.current.clear();
    ASSERT_TRUE(log.write(file, L"C:\\Program Files\\Marrowind Works\\Tilewright", L"C:\\ProgramData\\Start Menu\\Programs"));
    EXPECT_EQ(read_bytes(file).size(), 2 + 2 * (header.size() + 6));
}

TEST(uninstall_log_file, a_file_that_cannot_be_written_fails_and_still_deletes_the_backups)
{
    scratch_folder dir;
    write_bytes(dir / L"old.txt", "x");
    uninstall_log log{identity};
    log.add_file(dir / L"old.txt", 0, true);
    const std::wstring backup = log.current.back().backup;
    ASSERT_TRUE(fs::exists(backup));
    EXPECT_FALSE(log.write(dir / L"no\\such\\folder\\Uninstall.ulog", L"C:\\", L"C:\\"));
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_TRUE(log.current.back().backup.empty());
}

TEST(uninstall_log_file, reads_every_encoding_and_line_end)
{
    scratch_folder dir;
    const std::wstring text = L"// Uninstall Log File v1\n//\n// Install Tilewright 1.20\n// Install Path : " +
                              dir.path().wstring() + L"\n// Shortcut Path : C:\\none\n//\n0000:0100:1 -- C:\\Fichier é\n"
                              L"0001:04ff:1 -- C:\\Bureau\\T.lnk\n";
    auto convert = [&](const std::wstring& eol) {
        std::wstring out;
        for (wchar_t c : text)
            out += c == L'\n' ? eol : std::wstring(1, c);
        return out;
    };
    auto utf8 = [](const std::wstring& t) {
        std::string out;
        for (wchar_t c : t) {
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return out;
    };
    auto utf16be = [](const std::wstring& t) {
        std::string out;
        for (wchar_t c : t) {
            out.push_back(static_cast<char>(c >> 8));
            out.push_back(static_cast<char>(c & 0xFF));
        }
        return out;
    };
    const std::pair<const char*, std::string> files[] = {
        {"UTF-16LE CR LF", "\xFF\xFE" + utf16le(convert(L"\r\n"))},
        {"UTF-16BE LF", "\xFE\xFF" + utf16be(convert(L"\n"))},
        {"UTF-8 with BOM, CR", "\xEF\xBB\xBF" + utf8(convert(L"\r"))},
        {"UTF-8 without BOM, LF", utf8(convert(L"\n"))},
    };
    for (const auto& [name, bytes] : files) {
        write_bytes(dir / L"Uninstall.ulog", bytes);
        uninstall_log log{identity};
        log.read(dir / L"Uninstall.ulog");
        ASSERT_EQ(log.previous.size(), 2u) << name;
        EXPECT_EQ(log.previous[0].path, L"C:\\Fichier é") << name;
        EXPECT_EQ(log.previous_title, L"Tilewright 1.20") << name;
        EXPECT_TRUE(mw::same_path(log.install_path, dir.path().wstring())) << name;
        EXPECT_TRUE(log.shortcut_path.empty()) << name;
        EXPECT_TRUE(log.has_desktop_link) << name;
    }
    uninstall_log missing{identity};
    missing.read(dir / L"missing.ulog");
    EXPECT_TRUE(missing.previous.empty());
    EXPECT_TRUE(missing.has_desktop_link);
}

} // namespace

namespace {

TEST(uninstall_log_file, survives_mutated_bytes)
{
    scratch_folder dir;
    uninstall_log source{identity};
    for (int i = 0; i < 30; ++i)
        source.current.push_back({i % 7, L"C:\\Dossier\\fichier é " + std::to_wstring(i), {}, i % 3 == 0, i % 6});
    const std::wstring file = dir / L"Uninstall.ulog";
    ASSERT_TRUE(source.write(file, dir.path().wstring(), dir.path().wstring()));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    const std::string valid = read_bytes(file);
    std::mt19937 rng{777};
    for (int round = 0; round < 600; ++round) {
        std::string bytes = valid;
        for (int e = 1 + static_cast<int>(rng() % 3); e > 0 && !bytes.empty(); --e) {
            const std::size_t at = rng() % bytes.size();
            switch (rng() % 4) {
            case 0: bytes.resize(at); break;                                      // truncated, maybe mid-character
            case 1: bytes[at] = static_cast<char>(rng()); break;                  // flipped byte
            case 2: bytes.insert(at, std::string(1 + rng() % 3, '\0')); break;    // shifted code units
            case 3: bytes.insert(at, "\xEF\xBB\xBF\r\n"); break;                  // stray mark and line end
            }
        }
        write_bytes(file, bytes);
        uninstall_log log{identity};
        EXPECT_NO_THROW(log.read(file));
        EXPECT_LE(log.previous.size(), 40u);
    }
}


// A log file as an earlier installation left it: UTF-16LE with its mark, CR LF, read-only.
void write_previous_log(const std::wstring& file, const std::wstring& text)
{
    std::wstring crlf;
    for (wchar_t c : text)
        crlf += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    write_bytes(file, "\xFF\xFE" + utf16le(crlf));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
}

// The lines of a UTF-16LE file with its mark and CR LF line ends.
std::vector<std::wstring> file_lines(const std::wstring& file)
{
    const std::string bytes = read_bytes(file);
    std::wstring text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    std::vector<std::wstring> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find(L"\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::wstring::npos ? text.size() : end + 2;
    }
    return lines;
}

TEST(uninstall_log_file, writing_over_the_previous_log_keeps_what_this_run_did_not_recreate)
{
    scratch_folder dir;
    const std::wstring app = dir / L"App";
    fs::create_directories(app);
    const std::wstring file = app + L"\\Uninstall.ulog";
    write_previous_log(file, L"// Uninstall Log File v1\n"
                             L"// ############ WARNING: Do not delete or modify this file. ############\n"
                             L"// Install Tilewright 1.20\n"
                             L"// Install Path : " + app + L"\n"
                             L"// Shortcut Path : " + dir.path().wstring() + L"\n"
                             L"// " + std::wstring(100, L'-') + L"\n"
                             L"0000:00ff:1 -- " + app + L"\n"
                             L"0001:0100:1 -- " + app + L"\\Kept.txt\n"
                             L"0002:0100:1 -- " + app + L"\\Old.txt\n"
                             L"0003:02ff:1 -- " + dir / L"Menu\\T 1.20.lnk" + L"\n"
                             L"0004:04ff:1 -- " + dir / L"Desk\\T 1.20.lnk" + L"\n"
                             L"0005:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright\n");
    uninstall_log log{identity};
    log.read(file);
    ASSERT_EQ(log.previous.size(), 6u);
    log.current = {
        {mw::file, app + L"\\KEPT.TXT", {}, true, 0},
        {mw::desktop_link, dir / L"Desk\\T 1.22a.lnk", {}, true, -1},
    };
    ASSERT_TRUE(log.write(file, app, dir.path().wstring()));

    const std::vector<std::wstring> expected{
        L"// Uninstall Log File v1",
        L"// ############ WARNING: Do not delete or modify this file. ############",
        L"// Install Tilewright 1.22a -- Update (Tilewright 1.20)",
        L"// Install Path : " + app,
        L"// Shortcut Path : " + dir.path().wstring(),
        L"// " + std::wstring(100, L'-'),
        L"0000:0100:1 -- " + app + L"\\KEPT.TXT",
        L"0001:04ff:1 -- " + dir / L"Desk\\T 1.22a.lnk",
        L"0002:00ff:1 -- " + app,
        L"0003:0100:1 -- " + app + L"\\Old.txt",
        L"0004:02ff:1 -- " + dir / L"Menu\\T 1.20.lnk",
        L"0005:05ff:1 -- HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tilewright",
    };
    EXPECT_EQ(file_lines(file), expected);
    EXPECT_TRUE(log.previous.empty());
    EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST(uninstall_log_recording, add_link_moves_the_previous_shortcut_aside_and_rollback_puts_it_back)
{
    struct link_case {
        bool desktop;
        std::int32_t kind;
        std::int32_t other_kind;
    };
    for (const link_case c : {link_case{false, mw::menu_link, mw::desktop_link},
                              link_case{true, mw::desktop_link, mw::menu_link}}) {
        scratch_folder dir;
        const std::wstring link = dir / L"Links\\Tilewright.lnk";
        const std::wstring other = dir / L"Other\\Tilewright.lnk";
        write_bytes(link, "previous shortcut");
        write_bytes(other, "the other kind's shortcut");
        uninstall_log log{identity};
        log.previous = {
            {c.other_kind, other, {}, true, -1},
            {c.kind, link, {}, true, -1},
            {c.kind, dir / L"Links\\Second.lnk", {}, true, -1},
        };
        log.add_link(c.desktop, dir / L"Links");
        ASSERT_FALSE(log.current.empty()) << c.desktop;
        const std::wstring backup = log.current.back().backup;
        EXPECT_EQ(log.current.back().kind, c.kind) << c.desktop;
        EXPECT_EQ(read_bytes(backup), "previous shortcut") << c.desktop;
        EXPECT_FALSE(fs::exists(link)) << c.desktop;
        EXPECT_EQ(read_bytes(other), "the other kind's shortcut") << c.desktop;

        write_bytes(link, "new shortcut");
        log.complete(true, link);
        log.rollback();
        EXPECT_EQ(read_bytes(link), "previous shortcut") << c.desktop;
        EXPECT_FALSE(fs::exists(backup)) << c.desktop;
        EXPECT_EQ(read_bytes(other), "the other kind's shortcut") << c.desktop;
    }
}

} // namespace
