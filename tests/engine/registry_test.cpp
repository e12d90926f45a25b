#include "engine/registry.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace setup;

// A key of its own for one test process under the given root, removed before and after.
class test_key {
public:
    explicit test_key(HKEY root)
        : root_(root), path_(L"Software\\Marrowind Works Tests\\registry-" + std::to_wstring(GetCurrentProcessId()))
    {
        remove();
    }
    ~test_key()
    {
        remove();
        RegDeleteKeyW(root_, L"Software\\Marrowind Works Tests"); // only when no other test uses it
    }
    test_key(const test_key&) = delete;
    test_key& operator=(const test_key&) = delete;

    HKEY root() const { return root_; }
    const std::wstring& path() const { return path_; }

private:
    void remove() { RegDeleteTreeW(root_, path_.c_str()); }

    HKEY root_;
    std::wstring path_;
};

const char* root_name(HKEY root) { return root == HKEY_CURRENT_USER ? "HKCU" : "HKLM"; }

class registry_layer : public ::testing::TestWithParam<HKEY> {
protected:
    void SetUp() override { key_ = create_key(scope_.root(), scope_.path()); }

    // Stores a value exactly as given, bypassing the layer.
    // Stores exactly `bytes`. The system adds a missing terminator to a string value when the
    // character after the given bytes happens to be a NUL, so the bytes are followed by one
    // that is not; the stored size shows the value is the one meant.
    void put_raw(const wchar_t* name, DWORD type, const std::vector<BYTE>& bytes)
    {
        std::vector<BYTE> guarded = bytes;
        guarded.insert(guarded.end(), {0xFF, 0xFF, 0xFF, 0xFF});
        ASSERT_EQ(RegSetValueExW(key_.get(), name, 0, type, bytes.empty() ? nullptr : guarded.data(),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        ASSERT_EQ(stored(name), std::make_pair(type, static_cast<DWORD>(bytes.size())));
    }
    // The stored type and byte size of a value.
    std::pair<DWORD, DWORD> stored(const wchar_t* name)
    {
        DWORD type = REG_NONE, size = 0;
        EXPECT_EQ(RegQueryValueExW(key_.get(), name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        return {type, size};
    }

    test_key scope_{GetParam()};
    registry_key key_;
};

std::vector<BYTE> utf16(const std::wstring& text, bool with_nul)
{
    std::vector<BYTE> bytes((text.size() + (with_nul ? 1 : 0)) * sizeof(wchar_t), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

TEST_P(registry_layer, open_and_create)
{
    ASSERT_TRUE(key_);

    // A missing subkey, and a missing chain of subkeys, give an empty key.
    EXPECT_FALSE(open_key(key_, L"missing"));
    EXPECT_FALSE(open_key(key_, L"missing\\deeper"));
    EXPECT_FALSE(open_key(scope_.root(), scope_.path() + L"\\missing"));

    // create_key makes the whole chain and opens it again when it exists.
    registry_key created = create_key(key_, L"a\\b");
    ASSERT_TRUE(created);
    ASSERT_TRUE(write_dword(created, L"marker", 7));
    registry_key again = create_key(scope_.root(), scope_.path() + L"\\a\\b");
    std::uint32_t marker = 0;
    ASSERT_TRUE(read_dword(again, L"marker", marker));
    EXPECT_EQ(marker, 7u);

    // Opened both from a root and from an open key.
    registry_key from_root = open_key(scope_.root(), scope_.path() + L"\\a");
    ASSERT_TRUE(from_root);
    EXPECT_TRUE(open_key(from_root, L"b"));
    EXPECT_FALSE(open_key(from_root, L"c"));
}

TEST_P(registry_layer, strings_round_trip)
{
    const std::wstring texts[] = {
        L"",
        L"C:\\Program Files\\Tilewright",
        L"fran\u00e7ais \u2013 \u05e2\u05d1\u05e8\u05d9\u05ea \u65e5\u672c",
        std::wstring(5000, L'x'),
    };
    for (const auto& text : texts) {
        ASSERT_TRUE(write_string(key_, L"text", text));
        EXPECT_EQ(stored(L"text"), std::make_pair(DWORD{REG_SZ}, DWORD((text.size() + 1) * 2))) << text.size();
        std::wstring back = L"unchanged";
        ASSERT_TRUE(read_string(key_, L"text", back)) << text.size();
        EXPECT_EQ(back, text);
    }

    // A null text stores a value of 0 bytes, which reads back as an empty text.
    ASSERT_TRUE(write_string(key_, L"null", static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(stored(L"null"), std::make_pair(DWORD{REG_SZ}, DWORD{0}));
    std::wstring back = L"unchanged";
    ASSERT_TRUE(read_string(key_, L"null", back));
    EXPECT_EQ(back, L"");

    // The key's default value: a null or empty name.
    ASSERT_TRUE(write_string(key_, nullptr, L"default"));
    ASSERT_TRUE(read_string(key_, L"", back));
    EXPECT_EQ(back, L"default");
}

TEST_P(registry_layer, numbers_and_bytes_round_trip)
{
    for (std::uint32_t value : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) {
        ASSERT_TRUE(write_dword(key_, L"number", value));
        EXPECT_EQ(stored(L"number"), std::make_pair(DWORD{REG_DWORD}, DWORD{4}));
        std::uint32_t back = 12345;
        ASSERT_TRUE(read_dword(key_, L"number", back));
        EXPECT_EQ(back, value);
    }

    const BYTE bytes[8] = {1, 0, 0xFF, 3, 0, 0, 9, 0x80};
    ASSERT_TRUE(write_binary(key_, L"bytes", bytes, sizeof bytes));
    EXPECT_EQ(stored(L"bytes"), std::make_pair(DWORD{REG_BINARY}, DWORD{8}));
    BYTE back[8] = {};
    ASSERT_TRUE(read_binary(key_, L"bytes", back, sizeof back));
    EXPECT_EQ(std::memcmp(back, bytes, sizeof bytes), 0);

    ASSERT_TRUE(write_binary(key_, L"nothing", nullptr, 0));
    EXPECT_TRUE(read_binary(key_, L"nothing", nullptr, 0));
}

// Every reader against values stored as they stand: the wrong type or size reads false and
// leaves the output as it was.
TEST_P(registry_layer, readers_accept_only_well_formed_values)
{
    struct stored_value {
        const wchar_t* name;
        DWORD type;
        std::vector<BYTE> bytes;
        bool as_string;
        std::wstring text;
        bool as_dword;
        std::uint32_t number;
        bool as_binary8;
    };
    const std::vector<BYTE> eight = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<stored_value> cases = {
        {L"sz", REG_SZ, utf16(L"abc", true), true, L"abc", false, 0, false},
        {L"sz lone nul", REG_SZ, utf16(L"", true), true, L"", false, 0, false},
        {L"sz empty", REG_SZ, {}, true, L"", false, 0, false},
        {L"sz without nul", REG_SZ, utf16(L"abc", false), false, {}, false, 0, false},
        {L"sz odd size", REG_SZ, {'a', 0, 'b', 0, 0}, false, {}, false, 0, false},
        {L"sz inner nul kept", REG_SZ, utf16(std::wstring(L"a\0b", 3), true), true, std::wstring(L"a\0b", 3),
         false, 0, false},
        {L"expand sz unexpanded", REG_EXPAND_SZ, utf16(L"%TEMP%\\x", true), true, L"%TEMP%\\x", false, 0, false},
        {L"multi sz", REG_MULTI_SZ, utf16(std::wstring(L"a\0", 2), true), false, {}, false, 0, false},
        {L"binary text", REG_BINARY, utf16(L"ab", true), false, {}, false, 0, false},
        {L"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, false, {}, true, 0x12345678, false},
        {L"dword of 8 bytes", REG_DWORD, eight, false, {}, false, 0, false},
        {L"dword of 2 bytes", REG_DWORD, {1, 0}, false, {}, false, 0, false},
        {L"big-endian dword", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}, false, {}, false, 0, false},
        {L"binary of 4 bytes", REG_BINARY, {1, 0, 0, 0}, false, {}, false, 0, false},
        {L"qword", REG_QWORD, eight, false, {}, false, 0, false},
        {L"binary of 8 bytes", REG_BINARY, eight, false, {}, false, 0, true},
        {L"binary of 7 bytes", REG_BINARY, {1, 2, 3, 4, 5, 6, 7}, false, {}, false, 0, false},
        {L"binary of 9 bytes", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8, 9}, false, {}, false, 0, false},
    };
    for (const auto& c : cases)
        put_raw(c.name, c.type, c.bytes);

    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << root_name(GetParam()) << " value \"" << std::wstring(c.name) << '"');

        std::wstring text = L"unchanged";
        EXPECT_EQ(read_string(key_, c.name, text), c.as_string);
        EXPECT_EQ(text, c.as_string ? c.text : L"unchanged");

        std::uint32_t number = 0xDEADBEEF;
        EXPECT_EQ(read_dword(key_, c.name, number), c.as_dword);
        EXPECT_EQ(number, c.as_dword ? c.number : 0xDEADBEEF);

        std::vector<BYTE> buffer(8, 0xEE);
        EXPECT_EQ(read_binary(key_, c.name, buffer.data(), buffer.size()), c.as_binary8);
        EXPECT_EQ(buffer, c.as_binary8 ? c.bytes : std::vector<BYTE>(8, 0xEE));
    }

    // A value that does not exist is false for every reader, never an error.
    std::wstring text = L"unchanged";
    std::uint32_t number = 3;
    BYTE buffer[8] = {};
    EXPECT_FALSE(read_string(key_, L"missing", text));
    EXPECT_FALSE(read_dword(key_, L"missing", number));
    EXPECT_FALSE(read_binary(key_, L"missing", buffer, sizeof buffer));
    EXPECT_EQ(text, L"unchanged");
    EXPECT_EQ(number, 3u);
}

INSTANTIATE_TEST_SUITE_P(roots, registry_layer, ::testing::Values(HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE),
                         [](const auto& info) { return std::string(root_name(info.param)); });

// A failure other than "not found" raises the Win32 code in the system category. A handle
// that is no open key is refused by every call with ERROR_INVALID_HANDLE.
TEST(registry_errors, refused_calls_raise_their_win32_code)
{
    test_key scope{HKEY_CURRENT_USER};
    HKEY closed = create_key(scope.root(), scope.path()).release();
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);

    const auto expect_code = [](const char* what, auto call) {
        try {
            call();
            ADD_FAILURE() << what << " did not raise";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), ERROR_INVALID_HANDLE) << what;
            EXPECT_EQ(&e.code().category(), &std::system_category()) << what;
        }
    };
    std::wstring text;
    std::uint32_t number = 0;
    BYTE bytes[4] = {};
    expect_code("open_key", [&] { open_key(closed, L"sub"); });
    expect_code("create_key", [&] { create_key(closed, L"sub"); });
    expect_code("write_string", [&] { write_string(closed, L"v", std::wstring(L"x")); });
    expect_code("write_dword", [&] { write_dword(closed, L"v", 1); });
    expect_code("write_binary", [&] { write_binary(closed, L"v", bytes, sizeof bytes); });
    expect_code("read_string", [&] { read_string(closed, L"v", text); });
    expect_code("read_dword", [&] { read_dword(closed, L"v", number); });
    expect_code("read_binary", [&] { read_binary(closed, L"v", bytes, sizeof bytes); });
}

TEST(registry_key_ownership, moves_and_closes)
{
    test_key scope{HKEY_CURRENT_USER};
    registry_key first = create_key(scope.root(), scope.path());
    const HKEY handle = first.get();
    ASSERT_TRUE(first);

    registry_key second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), handle);

    registry_key third;
    EXPECT_FALSE(third);
    third = std::move(second);
    EXPECT_FALSE(second);
    EXPECT_EQ(third.get(), handle);
    EXPECT_TRUE(write_dword(third, L"v", 1)); // still open after two moves

    // Replacing the handle closes the old one.
    third.reset();
    EXPECT_FALSE(third);
    DWORD values = 0;
    EXPECT_EQ(RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);

    static_assert(!std::is_copy_constructible_v<registry_key> && !std::is_copy_assignable_v<registry_key>);
    static_assert(std::is_nothrow_move_constructible_v<registry_key> && std::is_nothrow_move_assignable_v<registry_key>);
}

} // namespace
