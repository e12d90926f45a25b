#include "engine/payload.hpp"
#include "engine/security.hpp"

#include "engine/install_variables.hpp"
#include "support/hresult.hpp"
#include "support/paths.hpp"

#include "support/memstream.hpp"
#include "tests/scratch.hpp"
#include "tools/payload_pack.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using setup::compress_error;
using setup::notification;
using setup::pack_item;
using testing_support::read_bytes;
using testing_support::scratch_folder;
using testing_support::write_bytes;

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
        bool path_known; // the failure happened inside an entry
    };
    const damage_case cases[] = {
        {"one byte after the last entry", archive + "x", false},
        {"ends inside the last entry", archive.substr(0, archive.size() - 3), false},
        {"ends inside the first entry", archive.substr(0, archive.size() - 5020), false},
        {"ends inside the table", archive.substr(0, 20), false},
        {"table size below the header", std::string("\x08\0\0\0\0\0\0\0", 8) + archive.substr(8), false},
    };
    for (const auto& c : cases) {
        scratch_folder dir;
        recorder rec;
        EXPECT_FALSE(extract_archive(c.data, dir, rec)) << c.name;
        const auto* f = rec.failure();
        ASSERT_NE(f, nullptr) << c.name;
        EXPECT_EQ(f->code, make_error_code(compress_error::unexpected_error)) << c.name;
        EXPECT_EQ(rec.indices().back(), failed) << c.name;
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
    // A shared variable's sub-folders below a real system folder: the test's own, removed after.
    const std::wstring maker = L"mwtest-shared-" + fs::path(dir.path()).filename().wstring();
    const std::vector<pack_item> items{
        {L"a.txt", L"<CommonData>\\" + maker + L"\\Textures\\One", 0, "a"},
        {L"b.txt", L"<CommonData>\\" + maker + L"\\Textures\\One", 0, "b"},
    };
    recorder rec;
    const bool ok = extract_archive(setup::build_archive(items), dir, rec);
    const fs::path root = fs::path(_wgetenv(L"ALLUSERSPROFILE")) / maker;
    EXPECT_TRUE(ok);
    EXPECT_EQ(read_bytes(root / L"Textures\\One\\b.txt"), "b");
    std::error_code ec;
    fs::remove_all(root, ec);
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

TEST(open_payload_resource, reads_the_embedded_archive_in_place)
{
    auto stream = setup::open_payload_resource(260, 134);
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

    auto missing = setup::open_payload_resource(260, 999);
    EXPECT_EQ(missing->get(), std::char_traits<char>::eof());
    missing->clear();
    missing->seekg(0);
    EXPECT_FALSE(setup::test_payload(*missing));
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

// Holds a file open without read sharing for a while, from another thread.
class file_lock {
public:
    file_lock(const std::wstring& path, std::chrono::milliseconds hold)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        releaser_ = std::thread([this, hold] {
            std::this_thread::sleep_for(hold);
            CloseHandle(handle_);
        });
    }
    ~file_lock() { releaser_.join(); }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
    std::thread releaser_;
};

TEST(file_crc32, waits_out_a_short_sharing_violation)
{
    scratch_folder dir;
    const std::string content = pattern(100000, 7);
    write_bytes(dir / L"f.bin", content);
    const auto start = std::chrono::steady_clock::now();
    {
        file_lock lock{dir / L"f.bin", std::chrono::milliseconds(1500)};
        ASSERT_TRUE(lock.held());
        EXPECT_EQ(setup::file_crc32(dir / L"f.bin"), setup::crc32_of(content));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
}

TEST(file_crc32, gives_up_after_three_retries)
{
    scratch_folder dir;
    write_bytes(dir / L"f.bin", "x");
    file_lock lock{dir / L"f.bin", std::chrono::milliseconds(4500)};
    ASSERT_TRUE(lock.held());
    try {
        setup::file_crc32(dir / L"f.bin");
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::error_code(ERROR_SHARING_VIOLATION, std::system_category()));
    }
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
