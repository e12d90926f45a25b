#include "engine/payload.hpp"
#include "engine/security.hpp"

#include "engine/install_variables.hpp"
#include "resources/resource_ids.h"
#include "support/hresult.hpp"
#include "support/image_file.hpp"
#include "support/own_executable.hpp"
#include "support/paths.hpp"

#include "support/memstream.hpp"
#include "support/guarded_files.hpp"
#include "tests/engine/grant_recorder.hpp"
#include "tests/links.hpp"
#include "tests/scratch.hpp"
#include "tests/ui_driver/ui_driver.hpp"
#include "tools/payload_pack.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>
#include <utility>

namespace {

namespace fs = std::filesystem;
using setup::compress_error;
using setup::notification;
using setup::pack_item;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;
using testing_support::grant_recorder;
using testing_support::record_grant;
using testing_support::stored_grant;
using testing_support::stored_grants;

std::string pattern(std::size_t n, unsigned seed)
{
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// Everything the callback saw, in order.
struct recorder {
    struct event {
        std::size_t index;
        std::wstring path;
        std::uint64_t a = 0, b = 0;
        std::error_code code;
    };
    std::vector<event> events;
    std::function<notification::result(const notification&)> answer;

    setup::extract_callback callback()
    {
        return [this](const notification& n) {
            event e{n.index(), {}, 0, 0, {}};
            if (auto* p = n.get_if<notification::progress>())
                e.a = p->position, e.b = p->total;
            if (auto* f = n.get_if<notification::finished>())
                e.a = f->moved, e.b = f->total;
            if (auto* b = n.get_if<notification::file_begin>())
                e.path = b->entry.destination, e.a = b->entry.kind;
            if (auto* d = n.get_if<notification::file_end>())
                e.path = d->entry.destination;
            if (auto* f = n.get_if<notification::failed>())
                e.path = f->path, e.code = f->code;
            events.push_back(e);
            return answer ? answer(n) : notification::proceed;
        };
    }
    std::vector<std::size_t> indices(bool with_progress = false) const
    {
        std::vector<std::size_t> out;
        for (const auto& e : events)
            if (with_progress || e.index != 4)
                out.push_back(e.index);
        return out;
    }
    const event* failure() const
    {
        for (const auto& e : events)
            if (e.index == 5)
                return &e;
        return nullptr;
    }
};

// Every file below `root` with its bytes, sorted.
std::vector<std::pair<std::wstring, std::string>> tree_snapshot(const fs::path& root)
{
    std::vector<std::pair<std::wstring, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        files.emplace_back(entry.path().wstring(), entry.is_regular_file() ? read_bytes(entry.path()) : std::string{});
    std::sort(files.begin(), files.end());
    return files;
}

constexpr std::size_t started = 0, finished = 1, file_begin = 2, file_end = 3, progress = 4, failed = 5;

bool extract(const std::string& compressed, const scratch_folder& dir, recorder& rec)
{
    mw::imemstream in{compressed.data(), compressed.size()};
    return setup::extract_payload(in, dir / L"Install", L"", dir / L"Temp", rec.callback());
}

bool extract_archive(const std::string& archive, const scratch_folder& dir, recorder& rec)
{
    return extract(setup::bzip2_compress(archive), dir, rec);
}

std::vector<pack_item> sample_items()
{
    return {
        {L"build\\textures\\stone.jpg", L"<InstallPath>", 0, pattern(10000, 1)},
        {L"lang/French.dll", L"<InstallPath>\\Lang", 0, pattern(5000, 2)},
        {L"notes.txt", L"<Temporary>", 5, "temporary notes"},
    };
}

TEST(extract_payload, writes_every_file_to_its_destination_and_reports_each_step)
{
    scratch_folder dir;
    const auto items = sample_items();
    const std::string archive = setup::build_archive(items);
    const std::string compressed = setup::bzip2_compress(archive);
    recorder rec;
    ASSERT_TRUE(extract(compressed, dir, rec));

    EXPECT_EQ(read_bytes(dir / L"Install\\stone.jpg"), items[0].bytes);
    EXPECT_EQ(read_bytes(dir / L"Install\\Lang\\French.dll"), items[1].bytes);
    EXPECT_EQ(read_bytes(dir / L"Temp\\notes.txt"), items[2].bytes);

    const std::vector<std::size_t> expected{started, file_begin, file_end, file_begin, file_end, file_begin,
                                            file_end, finished};
    EXPECT_EQ(rec.indices(), expected);
    EXPECT_EQ(rec.events[1].index, progress);
    const std::uint64_t table_size = archive.size() - 10000 - 5000 - 15;
    EXPECT_EQ(rec.events[1].a, table_size); // cumulative over the decompressed stream, table included
    EXPECT_EQ(rec.events[1].b, archive.size());

    std::uint64_t last = 0;
    for (const auto& e : rec.events)
        if (e.index == progress) {
            EXPECT_GE(e.a, last);
            EXPECT_LE(e.a - last, 4096u);
            last = e.a;
        }
    EXPECT_EQ(last, archive.size());
    EXPECT_EQ(rec.events.back().a, compressed.size()); // bytes the copy moved
    EXPECT_EQ(rec.events.back().b, archive.size());
    std::vector<recorder::event> begins;
    for (const auto& e : rec.events)
        if (e.index == file_begin)
            begins.push_back(e);
    ASSERT_EQ(begins.size(), 3u);
    EXPECT_TRUE(mw::same_path(begins[0].path, dir / L"Install\\stone.jpg"));
    EXPECT_EQ(begins[0].a, 0u); // kinds reach the callback
    EXPECT_EQ(begins[2].a, 5u);
}

// Little-endian integers and UTF-16LE strings, written out here byte by byte so that the reader
// is checked against the layout itself, not against the writer it shares its code with.
std::string le(std::uint64_t value, int width)
{
    std::string bytes;
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

std::string counted_utf16(const std::wstring& text)
{
    std::string bytes = le(text.size(), 4);
    for (wchar_t c : text)
        bytes += le(static_cast<std::uint16_t>(c), 2);
    return bytes;
}

// Two entries, then `slack` bytes that the table size still counts.
std::string table_by_hand(const std::string& slack)
{
    std::string entries = counted_utf16(L"build\\docs\\check.txt") + counted_utf16(L"<InstallPath>\\Docs") +
                          le(1, 4) + le(9, 8) + le(0xCBF43926, 4);
    entries += counted_utf16(L"caf\u00e9.txt") + counted_utf16(L"<Temporary>") + le(5, 4) + le(3, 8) +
               le(0x352441C2, 4);
    const std::string body = le(2, 4) + entries + slack;
    return le(8 + body.size(), 8) + body;
}

TEST(payload_table, a_table_written_by_hand_reads_field_by_field)
{
    for (const std::string& slack : {std::string{}, std::string("\x7F\x00\xFF junk", 9)}) {
        const std::string table = table_by_hand(slack);
        ASSERT_EQ(table.size(), 8u + 4 + (4 + 40 + 4 + 36 + 4 + 8 + 4) + (4 + 16 + 4 + 22 + 4 + 8 + 4) + slack.size());
        const auto entries = setup::read_table(table);
        ASSERT_TRUE(entries) << slack.size() << " bytes after the last entry";
        ASSERT_EQ(entries->size(), 2u);
        const setup::payload_entry expected[] = {
            {L"build\\docs\\check.txt", L"<InstallPath>\\Docs", 1, 9, 0xCBF43926},
            {L"caf\u00e9.txt", L"<Temporary>", 5, 3, 0x352441C2},
        };
        for (std::size_t i = 0; i < 2; ++i) {
            const setup::payload_entry& e = (*entries)[i];
            EXPECT_EQ(e.source, expected[i].source) << i;
            EXPECT_EQ(e.destination, expected[i].destination) << i;
            EXPECT_EQ(e.kind, expected[i].kind) << i;
            EXPECT_EQ(e.size, expected[i].size) << i;
            EXPECT_EQ(e.crc, expected[i].crc) << i;
        }
    }
}

TEST(payload_table, a_hand_written_archive_extracts_and_its_slack_is_skipped)
{
    scratch_folder dir;
    recorder rec;
    const std::string table = table_by_hand("slack");
    ASSERT_TRUE(extract_archive(table + "123456789" + "abc", dir, rec));
    EXPECT_EQ(read_bytes(dir / L"Install\\Docs\\check.txt"), "123456789");
    EXPECT_EQ(read_bytes(dir / L"Temp\\caf\u00e9.txt"), "abc");
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[1].index, progress);
    EXPECT_EQ(rec.events[1].a, table.size()); // the data starts after the slack
}

TEST(extract_payload, an_archive_of_no_entries_succeeds)
{
    scratch_folder dir;
    recorder rec;
    ASSERT_TRUE(extract_archive(setup::build_archive({}), dir, rec));
    EXPECT_EQ(rec.indices(true), (std::vector<std::size_t>{started, progress, finished}));
    EXPECT_EQ(rec.events[2].b, setup::table_header_size);
}

TEST(extract_payload, empty_entries_are_written_wherever_they_stand)
{
    scratch_folder dir;
    const std::vector<pack_item> items{
        {L"first.txt", L"<InstallPath>", 0, ""},
        {L"middle.txt", L"<InstallPath>", 0, "abc"},
        {L"empty.txt", L"<InstallPath>", 0, ""},
        {L"last.txt", L"<InstallPath>", 0, ""},
    };
    recorder rec;
    ASSERT_TRUE(extract_archive(setup::build_archive(items), dir, rec));
    for (const auto* name : {L"first.txt", L"empty.txt", L"last.txt"}) {
        ASSERT_TRUE(fs::exists(dir / (std::wstring(L"Install\\") + name))) << fs::path(name);
        EXPECT_EQ(fs::file_size(dir / (std::wstring(L"Install\\") + name)), 0u);
    }
    EXPECT_EQ(read_bytes(dir / L"Install\\middle.txt"), "abc");
    EXPECT_EQ(rec.indices(), (std::vector<std::size_t>{started, file_begin, file_end, file_begin, file_end,
                                                       file_begin, file_end, file_begin, file_end, finished}));
}

TEST(extract_payload, data_that_does_not_end_with_the_last_entry_fails_with_code_7)
{
    const std::string archive = setup::build_archive(sample_items());
    struct damage_case {
        const char* name;
        std::string data;
        const wchar_t* path; // the entry whose bytes were arriving, below the scratch folder; none outside entries
    };
    const damage_case cases[] = {
        {"one byte after the last entry", archive + "x", nullptr},
        {"ends inside the last entry", archive.substr(0, archive.size() - 3), L"Temp\\notes.txt"},
        {"ends inside the first entry", archive.substr(0, archive.size() - 5020), L"Install\\stone.jpg"},
        {"ends inside the table", archive.substr(0, 20), nullptr},
        {"table size below the header", std::string("\x08\0\0\0\0\0\0\0", 8) + archive.substr(8), nullptr},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        recorder rec;
        EXPECT_FALSE(extract_archive(c.data, dir, rec)) << c.name;
        const auto* f = rec.failure();
        ASSERT_NE(f, nullptr) << c.name;
        EXPECT_EQ(f->code, make_error_code(compress_error::unexpected_error)) << c.name;
        EXPECT_EQ(rec.indices().back(), failed) << c.name;
        if (c.path) {
            EXPECT_TRUE(mw::same_path(f->path, dir / c.path)) << c.name << ": " << fs::path(f->path);
        } else {
            EXPECT_EQ(f->path, L"") << c.name;
        }
    }
}

TEST(extract_payload, a_table_of_4_gib_or_more_never_completes)
{
    std::string archive = setup::build_archive(sample_items());
    archive[4] = 1; // table size + 4 GiB
    scratch_folder dir;
    recorder rec;
    EXPECT_FALSE(extract_archive(archive, dir, rec));
    ASSERT_NE(rec.failure(), nullptr);
    EXPECT_EQ(rec.failure()->code, make_error_code(compress_error::unexpected_error));
    EXPECT_EQ(rec.indices(), (std::vector<std::size_t>{started, failed}));
}

TEST(extract_payload, a_wrong_stored_crc_fails_with_code_3_after_the_file_is_complete)
{
    std::string archive = setup::build_archive(sample_items());
    auto entries = setup::read_table(std::string_view(archive).substr(0, archive.size() - 15015));
    ASSERT_TRUE(entries);
    (*entries)[1].crc ^= 1;
    const std::string table = setup::write_table(*entries);
    archive.replace(0, table.size(), table);

    scratch_folder dir;
    recorder rec;
    EXPECT_FALSE(extract_archive(archive, dir, rec));
    const auto* f = rec.failure();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->code, make_error_code(compress_error::invalid_checksum));
    EXPECT_TRUE(mw::same_path(f->path, dir / L"Install\\Lang\\French.dll"));
    EXPECT_EQ(rec.indices(), (std::vector<std::size_t>{started, file_begin, file_end, file_begin, failed}));
    EXPECT_EQ(read_bytes(dir / L"Install\\Lang\\French.dll"), sample_items()[1].bytes);
    EXPECT_FALSE(fs::exists(dir / L"Temp\\notes.txt"));
}

TEST(extract_payload, a_skipped_entry_consumes_its_bytes_and_writes_nothing)
{
    scratch_folder dir;
    recorder rec;
    rec.answer = [](const notification& n) {
        auto* b = n.get_if<notification::file_begin>();
        return b && b->entry.destination.ends_with(L"stone.jpg") ? notification::skip : notification::proceed;
    };
    ASSERT_TRUE(extract_archive(setup::build_archive(sample_items()), dir, rec));
    EXPECT_FALSE(fs::exists(dir / L"Install\\stone.jpg"));
    EXPECT_EQ(read_bytes(dir / L"Install\\Lang\\French.dll"), sample_items()[1].bytes);
    EXPECT_EQ(rec.indices(),
              (std::vector<std::size_t>{started, file_begin, file_begin, file_end, file_begin, file_end, finished}));
}

TEST(extract_payload, abort_from_the_callback_fails_with_code_5)
{
    struct abort_case {
        std::size_t at;
        int nth;
    };
    for (const auto& c : std::vector<abort_case>{{file_begin, 2}, {file_end, 1}, {progress, 1}, {progress, 4}}) {
        scratch_folder dir;
        recorder rec;
        int seen = 0;
        rec.answer = [&](const notification& n) {
            return n.index() == c.at && ++seen == c.nth ? notification::abort : notification::proceed;
        };
        EXPECT_FALSE(extract_archive(setup::build_archive(sample_items()), dir, rec));
        ASSERT_NE(rec.failure(), nullptr);
        EXPECT_EQ(rec.failure()->code, make_error_code(compress_error::interrupted)) << c.at << "/" << c.nth;
        EXPECT_EQ(rec.events.back().index, failed);
    }
}

TEST(extract_payload, a_failure_carries_system_and_runtime_codes_and_any_other_kind_as_code_7)
{
    // What a step inside the extraction may raise: a refused access grant raises an HRESULT,
    // which is of no kind the failure reports, so it becomes the unexpected error.
    struct raised_case {
        std::error_code raised;
        std::error_code reported;
    };
    const std::error_code denied{ERROR_ACCESS_DENIED, std::system_category()};
    const std::error_code no_space{ENOSPC, std::generic_category()};
    const raised_case cases[] = {
        {denied, denied},
        {no_space, no_space},
        {make_error_code(compress_error::invalid_checksum), make_error_code(compress_error::invalid_checksum)},
        {mw::make_hresult_code(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), make_error_code(compress_error::unexpected_error)},
        {mw::make_hresult_code(E_OUTOFMEMORY), make_error_code(compress_error::unexpected_error)},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        recorder rec;
        rec.answer = [&](const notification& n) -> notification::result {
            if (n.index() == file_end)
                throw std::system_error(c.raised);
            return notification::proceed;
        };
        EXPECT_FALSE(extract_archive(setup::build_archive(sample_items()), dir, rec)) << c.raised;
        ASSERT_NE(rec.failure(), nullptr) << c.raised;
        EXPECT_EQ(rec.failure()->code, c.reported) << c.raised;
    }
}

TEST(extract_payload, unsafe_entries_fail_with_code_7_before_any_file_is_written)
{
    struct unsafe_case {
        std::wstring source;
        std::wstring destination;
    };
    const unsafe_case cases[] = {
        {L"folder\\", L"<InstallPath>"},          {L".", L"<InstallPath>"},
        {L"..", L"<InstallPath>"},                {L"a:b.txt", L"<InstallPath>"},
        {L"a*b.txt", L"<InstallPath>"},           {L"ok.txt", L"<InstallPath>\\..\\Elsewhere"},
        {L"ok.txt", L"<InstallPath>\\Lang\\.."},  {L"ok.txt", L"<Unknown>\\Folder"},
        {L"ok.txt", L"<installpath>"},            {std::wstring(L"a\x01.txt"), L"<InstallPath>"},
    };
    for (const auto& c : cases) {
        auto items = sample_items();
        items.push_back({c.source, c.destination, 0, "bad"});
        scratch_folder dir;
        recorder rec;
        EXPECT_FALSE(extract_archive(setup::build_archive(items), dir, rec)) << fs::path(c.source);
        ASSERT_NE(rec.failure(), nullptr);
        EXPECT_EQ(rec.failure()->code, make_error_code(compress_error::unexpected_error));
        EXPECT_TRUE(rec.failure()->path.empty());
        EXPECT_EQ(rec.indices(), (std::vector<std::size_t>{started, failed}));
        EXPECT_FALSE(fs::exists(dir / L"Install"));
    }
}

TEST(extract_payload, replaces_a_read_only_file)
{
    scratch_folder dir;
    write_bytes(dir / L"Install\\stone.jpg", "old");
    SetFileAttributesW((dir / L"Install\\stone.jpg").c_str(), FILE_ATTRIBUTE_READONLY);
    recorder rec;
    ASSERT_TRUE(extract_archive(setup::build_archive(sample_items()), dir, rec));
    EXPECT_EQ(read_bytes(dir / L"Install\\stone.jpg"), sample_items()[0].bytes);
}

TEST(extract_payload, a_file_that_cannot_be_opened_fails_with_its_system_error_and_path)
{
    scratch_folder dir;
    fs::create_directories(dir / L"Install\\Lang\\French.dll"); // a folder where the file goes
    recorder rec;
    EXPECT_FALSE(extract_archive(setup::build_archive(sample_items()), dir, rec));
    ASSERT_NE(rec.failure(), nullptr);
    EXPECT_EQ(rec.failure()->code.category(), std::system_category());
    EXPECT_EQ(rec.failure()->code.value(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(mw::same_path(rec.failure()->path, dir / L"Install\\Lang\\French.dll"));
}

TEST(extract_payload, opens_shared_folders_when_first_written_into)
{
    scratch_folder dir;
    // A shared variable's sub-folders below a real system folder: the test's own.
    const scratch_folder root{fs::path(_wgetenv(L"ALLUSERSPROFILE"))};
    const std::wstring maker = root.path().filename().wstring();
    const std::vector<pack_item> items{
        {L"a.txt", L"<CommonData>\\" + maker + L"\\Textures\\One", 0, "a"},
        {L"b.txt", L"<CommonData>\\" + maker + L"\\Textures\\One", 0, "b"},
        {L"c.txt", L"<CommonData>\\" + maker + L"\\Textures", 0, "c"},
    };
    grant_recorder grants;
    recorder rec;
    ASSERT_TRUE(extract_archive(setup::build_archive(items), dir, rec));
    EXPECT_EQ(read_bytes(root / L"Textures\\One\\b.txt"), "b");

    // Each folder below the system folder once, full access inherited by sub-folders and files.
    std::vector<std::wstring> expected{root.path().wstring(), root / L"Textures", root / L"Textures\\One"};
    ASSERT_EQ(stored_grants().size(), expected.size());
    for (const stored_grant& grant : stored_grants()) {
        const auto match = std::find_if(expected.begin(), expected.end(),
                                        [&](const std::wstring& folder) { return mw::same_path(folder, grant.path); });
        EXPECT_NE(match, expected.end()) << fs::path(grant.path);
        if (match != expected.end())
            expected.erase(match);
        EXPECT_EQ(grant.users_entries, 1) << fs::path(grant.path);
        EXPECT_EQ(grant.mask, 0x1F01FFu) << fs::path(grant.path);
        EXPECT_EQ(grant.flags, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE) << fs::path(grant.path);
    }
}

// A user who may write the shared folders replaces one of them, the maker's folder before a
// first installation, or a file, by a link to a place of theirs holding files of the same names.
// The extraction writes, backs up and opens up nothing there: it fails with the link's own code.
TEST(extract_payload, fails_on_a_destination_reached_through_a_link_and_touches_nothing_there)
{
    if (!testing_support::can_make_links())
        GTEST_SKIP() << testing_support::no_links_here;
    struct link_case {
        const char* name;
        std::wstring replaced; // below the maker's folder; empty: the maker's folder itself
        std::wstring victim;   // what the link leads to, below the victim folder
    };
    const link_case cases[] = {
        {"the maker's folder, before a first installation", L"", L""},
        {"a folder above the destination", L"Textures", L"Textures"},
        {"the destination folder", L"Textures\\One", L"Textures\\One"},
        {"a file", L"Textures\\One\\a.txt", L"Textures\\One\\a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_folder dir;
        scratch_folder victims;
        const scratch_folder root{fs::path(_wgetenv(L"ALLUSERSPROFILE"))};
        const std::wstring maker = root.path().filename().wstring();
        write_bytes(victims.path() / L"Textures\\One\\a.txt", "victim's");
        if (!c.replaced.empty())
            write_bytes(root.path() / L"Textures\\One\\a.txt", "installed before");
        const std::wstring link = c.replaced.empty() ? root.path().wstring() : root / c.replaced;
        const std::wstring moved = link + L".away";
        ASSERT_TRUE(MoveFileW(link.c_str(), moved.c_str()));
        testing_support::make_link(c.victim.empty() ? victims.path().wstring() : victims / c.victim, link);
        const auto victims_before = tree_snapshot(victims.path());

        const std::vector<pack_item> items{{L"a.txt", L"<CommonData>\\" + maker + L"\\Textures\\One", 0, "a"}};
        grant_recorder grants;
        recorder rec;
        EXPECT_FALSE(extract_archive(setup::build_archive(items), dir, rec));
        ASSERT_NE(rec.failure(), nullptr);
        EXPECT_EQ(rec.failure()->code, std::error_code(static_cast<int>(mw::link_refused), std::system_category()));
        EXPECT_EQ(tree_snapshot(victims.path()), victims_before);
        EXPECT_EQ(read_bytes(victims.path() / L"Textures\\One\\a.txt"), "victim's");
        EXPECT_TRUE(stored_grants().empty());
        for (const auto& e : rec.events)
            EXPECT_NE(e.index, file_begin) << "nothing is decided for such a destination";

        testing_support::remove_link(link);
        ASSERT_TRUE(MoveFileW(moved.c_str(), link.c_str()));
    }
}

TEST(grant_users_access, builds_one_users_entry_and_keeps_the_others)
{
    scratch_folder dir;
    write_bytes(dir / L"module.lbm", "m");
    grant_recorder grants;
    setup::grant_users_access(dir / L"module.lbm", 0x13019F, 0);
    setup::grant_users_access(dir.path().wstring(), 0x1F01FF, 3);
    ASSERT_EQ(stored_grants().size(), 2u);
    EXPECT_EQ(stored_grants()[0].path, dir / L"module.lbm");
    EXPECT_EQ(stored_grants()[0].users_entries, 1);
    EXPECT_EQ(stored_grants()[0].mask, 0x13019Fu);
    EXPECT_EQ(stored_grants()[0].flags, 0u);
    EXPECT_EQ(stored_grants()[1].users_entries, 1);
    EXPECT_EQ(stored_grants()[1].mask, 0x1F01FFu);
    EXPECT_EQ(stored_grants()[1].flags, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE);

    // The entries the file had, other than the Users group's, are all in the list built for it.
    DWORD needed = 0;
    GetFileSecurityW((dir / L"module.lbm").c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> sd(needed);
    ASSERT_TRUE(GetFileSecurityW((dir / L"module.lbm").c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed,
                                 &needed));
    record_grant(L"as read", DACL_SECURITY_INFORMATION, sd.data());
    EXPECT_EQ(stored_grants()[0].others, stored_grants()[2].others);
}

TEST(test_payload, accepts_an_intact_stream_read_to_its_end)
{
    const std::string compressed = setup::bzip2_compress(setup::build_archive(sample_items()));
    mw::imemstream in{compressed.data(), compressed.size()};
    EXPECT_TRUE(setup::test_payload(in));
    in.clear();
    in.seekg(0);
    scratch_folder dir;
    EXPECT_TRUE(setup::extract_payload(in, dir / L"Install", L"", dir / L"Temp", {}));
}

TEST(test_payload, refuses_damaged_streams)
{
    const std::string good = setup::bzip2_compress(setup::build_archive(sample_items()));
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    const std::string cases[] = {flipped, good.substr(0, good.size() - 10), "", "not bzip2 at all",
                                 good + good.substr(0, 10)};
    for (const auto& c : cases) {
        mw::imemstream in{c.data(), c.size()};
        EXPECT_FALSE(setup::test_payload(in)) << c.size();
    }
    // The same flipped byte reaches the extraction as a bzip2 error.
    scratch_folder dir;
    recorder rec;
    EXPECT_FALSE(extract(flipped, dir, rec));
    ASSERT_NE(rec.failure(), nullptr);
    EXPECT_EQ(rec.failure()->code, make_error_code(compress_error::bzip2_error));
}

TEST(open_payload_resource, reads_the_embedded_archive_from_the_program_file)
{
    auto stream = setup::open_payload_resource(IDR_PAYLOAD_TYPE, IDR_PAYLOAD);
    // Byte for byte the resource, from the file; then from a position within it.
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(IDR_PAYLOAD), MAKEINTRESOURCEW(IDR_PAYLOAD_TYPE));
    ASSERT_NE(info, nullptr);
    const std::string_view resource(static_cast<const char*>(LockResource(LoadResource(module, info))),
                                    SizeofResource(module, info));
    ASSERT_GT(resource.size(), 1000u);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(*stream), {}), resource);
    stream->clear();
    stream->seekg(static_cast<std::streamoff>(resource.size() - 1000));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(*stream), {}), resource.substr(resource.size() - 1000));
    stream->clear();
    stream->seekg(0);
    ASSERT_TRUE(setup::test_payload(*stream));
    stream->clear();
    stream->seekg(0);
    // The whole archive streams through; every entry is skipped, so nothing is written.
    scratch_folder dir;
    recorder rec;
    rec.answer = [](const notification& n) {
        return n.index() == file_begin ? notification::skip : notification::proceed;
    };
    ASSERT_TRUE(setup::extract_payload(*stream, dir / L"Install", L"", L"", rec.callback()));
    std::size_t begins = 0;
    for (const auto& e : rec.events)
        begins += e.index == file_begin;
    EXPECT_GT(begins, 0u);
    EXPECT_EQ(rec.events.back().index, finished);
    EXPECT_FALSE(fs::exists(dir / L"Install"));

    auto missing = setup::open_payload_resource(IDR_PAYLOAD_TYPE, 999);
    EXPECT_EQ(missing->get(), std::char_traits<char>::eof());
    missing->clear();
    missing->seekg(0);
    EXPECT_FALSE(setup::test_payload(*missing));
}

TEST(open_payload_resource, streams_read_the_held_image_file_side_by_side_and_leave_it_held)
{
    // The program's own file as the setup holds it from its start.
    const HANDLE held = mw::own_image_file();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(IDR_PAYLOAD), MAKEINTRESOURCEW(IDR_PAYLOAD_TYPE));
    ASSERT_NE(info, nullptr);
    const std::string_view resource(static_cast<const char*>(LockResource(LoadResource(module, info))),
                                    SizeofResource(module, info));
    {
        // Two streams read the one handle in turns, each from where it stands.
        auto first = setup::open_payload_resource(IDR_PAYLOAD_TYPE, IDR_PAYLOAD);
        auto second = setup::open_payload_resource(IDR_PAYLOAD_TYPE, IDR_PAYLOAD);
        second->seekg(static_cast<std::streamoff>(resource.size() / 2));
        const std::size_t block = 100000;
        ASSERT_GT(resource.size(), 8 * block);
        std::string from_first, from_second;
        for (std::size_t i = 0; i < 4; ++i) {
            std::string chunk(block, '\0');
            first->read(chunk.data(), static_cast<std::streamsize>(block));
            from_first.append(chunk, 0, static_cast<std::size_t>(first->gcount()));
            second->read(chunk.data(), static_cast<std::streamsize>(block));
            from_second.append(chunk, 0, static_cast<std::size_t>(second->gcount()));
        }
        EXPECT_TRUE(from_first == resource.substr(0, 4 * block));
        EXPECT_TRUE(from_second == resource.substr(resource.size() / 2, 4 * block));
    }
    // The streams are gone; the file is still held, still the image's.
    EXPECT_EQ(mw::own_image_file(), held);
    EXPECT_TRUE(mw::is_image_file(held, module));
    auto again = setup::open_payload_resource(IDR_PAYLOAD_TYPE, IDR_PAYLOAD);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(*again), {}) == resource);
}

// In a copy of this program started by the case below (MW_REPLACED_COPY set): its file is
// renamed away and another put in its place before the program first holds it, as one who
// can write the program's folder might do while it starts. The other file is this program
// with other bytes where the payload lies. The program then holds no file and reads its image.
void replace_own_file_and_read_the_payload()
{
    const std::wstring own = mw::own_executable_path();
    const std::wstring aside = own + L".old";
    ASSERT_TRUE(MoveFileExW(own.c_str(), aside.c_str(), 0)) << GetLastError();
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(IDR_PAYLOAD), MAKEINTRESOURCEW(IDR_PAYLOAD_TYPE));
    ASSERT_NE(info, nullptr);
    const std::string_view resource(static_cast<const char*>(LockResource(LoadResource(module, info))),
                                    SizeofResource(module, info));
    std::string other = read_bytes(aside);
    const std::size_t offset = other.find(resource);
    ASSERT_NE(offset, std::string::npos);
    for (std::size_t i = offset; i < offset + resource.size(); ++i)
        other[i] = static_cast<char>(other[i] ^ 0x55);
    write_bytes(own, other);

    EXPECT_EQ(mw::own_image_file(), INVALID_HANDLE_VALUE) << "the file at the program's path is not its image";
    auto stream = setup::open_payload_resource(IDR_PAYLOAD_TYPE, IDR_PAYLOAD);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(*stream), {}) == resource) << "the image's own bytes";
}

TEST(open_payload_resource, reads_the_image_in_place_when_another_file_took_the_programs_place_before_it_was_held)
{
    wchar_t flag[2]{};
    if (GetEnvironmentVariableW(L"MW_REPLACED_COPY", flag, 2) == 1) {
        replace_own_file_and_read_the_payload();
        return;
    }
    scratch_folder scratch;
    const std::wstring copy = scratch / L"engine_tests.exe";
    ASSERT_TRUE(CopyFileW(mw::own_executable_path().c_str(), copy.c_str(), FALSE));
    testing_support::child_process run(L"\"" + copy + L"\" --gtest_filter=" +
                                           L"open_payload_resource.reads_the_image_in_place_when_another_file_took_the_programs_place_before_it_was_held",
                                       {{L"MW_REPLACED_COPY", L"1"}});
    EXPECT_EQ(run.wait_for_exit(std::chrono::milliseconds(60000)), std::optional<DWORD>(0))
        << "the copy's checks (its output above) passed";
}

TEST(compress_category, names_its_codes)
{
    EXPECT_STREQ(setup::compress_category().name(), "compress");
    const std::pair<int, const char*> cases[] = {{3, "invalid checksum"}, {4, "unknown error"},
                                                 {5, "interrupted"},      {6, "bzip2 error"},
                                                 {7, "unexpected error"}, {42, "unknown error"}};
    for (const auto& [code, text] : cases)
        EXPECT_EQ(setup::compress_category().message(code), text) << code;
}

// Holds a file open without read sharing until the object ends, or until `release_after` lets
// another thread close it.
class file_lock {
public:
    explicit file_lock(const std::wstring& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~file_lock()
    {
        if (releaser_.joinable())
            releaser_.join();
        close();
    }
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;

    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void release_after(std::chrono::milliseconds delay)
    {
        releaser_ = std::thread([this, delay] {
            std::this_thread::sleep_for(delay);
            close();
        });
    }

private:
    void close()
    {
        const HANDLE held = handle_.exchange(INVALID_HANDLE_VALUE);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
    }

    std::atomic<HANDLE> handle_;
    std::thread releaser_;
};

TEST(file_crc32, waits_out_a_short_sharing_violation)
{
    scratch_folder dir;
    const std::string content = pattern(100000, 7);
    write_bytes(dir / L"f.bin", content);
    file_lock lock{dir / L"f.bin"};
    ASSERT_TRUE(lock.held());
    // Attempts come at 0, 1, 2 and 3 s: the file is free from 1.5 s, half-way between the first
    // attempt, which must fail, and the last, which must succeed.
    const auto start = std::chrono::steady_clock::now();
    lock.release_after(std::chrono::milliseconds(1500));
    EXPECT_EQ(setup::file_crc32(dir / L"f.bin"), setup::crc32_of(content));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400)); // it waited
}

TEST(file_crc32, gives_up_after_three_retries)
{
    scratch_folder dir;
    write_bytes(dir / L"f.bin", "x");
    file_lock lock{dir / L"f.bin"}; // held until the call has returned
    ASSERT_TRUE(lock.held());
    const auto start = std::chrono::steady_clock::now();
    try {
        setup::file_crc32(dir / L"f.bin");
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(2900)); // three waits of a second
    EXPECT_LT(waited, std::chrono::milliseconds(3900)); // and no fourth
}

TEST(file_crc32, matches_zlib_on_known_values)
{
    scratch_folder dir;
    write_bytes(dir / L"check.txt", "123456789");
    EXPECT_EQ(setup::file_crc32(dir / L"check.txt"), 0xCBF43926u); // the CRC-32 check value
    write_bytes(dir / L"empty.txt", "");
    EXPECT_EQ(setup::file_crc32(dir / L"empty.txt"), 0u);
    EXPECT_THROW(setup::file_crc32(dir / L"missing.txt"), std::system_error);
}

using testing_support::running_under_wine;
TEST(grant_users_access, succeeds_on_files_and_folders_and_reports_missing_ones)
{
    scratch_folder dir;
    write_bytes(dir / L"module.lbm", "m");
    EXPECT_NO_THROW(setup::grant_users_access(dir / L"module.lbm", 0x13019F, 0));
    EXPECT_NO_THROW(setup::grant_users_access(dir.path().wstring(), 0x1F01FF, 3));
    EXPECT_NO_THROW(setup::grant_users_access(dir.path().wstring(), 0x1F01FF, 3)); // replaces, no duplicate
    try {
        setup::grant_users_access(dir / L"missing.lbm", 0x13019F, 0);
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), mw::make_hresult_code(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)));
    }
}

TEST(grant_users_access, gives_the_users_group_one_entry)
{
    if (running_under_wine())
        GTEST_SKIP() << "Wine stores no file DACLs: reading one back gives a synthesised list";
    scratch_folder dir;
    write_bytes(dir / L"module.lbm", "m");
    setup::grant_users_access(dir / L"module.lbm", 0x13019F, 0);
    setup::grant_users_access(dir / L"module.lbm", 0x13019F, 0);
    DWORD needed = 0;
    GetFileSecurityW((dir / L"module.lbm").c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> sd(needed);
    ASSERT_TRUE(GetFileSecurityW((dir / L"module.lbm").c_str(), DACL_SECURITY_INFORMATION, sd.data(), needed,
                                 &needed));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted));
    BYTE users[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof users;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));
    int found = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        GetAce(dacl, i, &ace);
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&allowed->SidStart, users)) {
            ++found;
            EXPECT_EQ(allowed->Mask, 0x13019Fu);
        }
    }
    EXPECT_EQ(found, 1);
}

} // namespace
