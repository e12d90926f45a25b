// The program's own file: told from copies and other files, and held against change.

#include "support/image_file.hpp"
#include "support/own_executable.hpp"
#include "support/unique_handle.hpp"
#include "tests/scratch.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::scratch_folder;

mw::unique_hfile open_for_reading(const std::wstring& path)
{
    return mw::unique_hfile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(is_image_file, tells_the_images_own_file_from_a_copy_of_it_and_from_other_files)
{
    const std::wstring own = mw::own_executable_path();
    scratch_folder scratch;
    const std::wstring copy = scratch / L"copy.exe";
    ASSERT_TRUE(CopyFileW(own.c_str(), copy.c_str(), TRUE));
    ASSERT_EQ(testing_support::read_bytes(copy), testing_support::read_bytes(own)) << "a byte-identical copy";
    testing_support::write_bytes(scratch / L"other.bin", std::string(10000, 'x'));
    testing_support::write_bytes(scratch / L"empty.bin", "");
    const HMODULE image = GetModuleHandleW(nullptr);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    struct check {
        const wchar_t* what;
        std::wstring path;
        HMODULE module;
        bool same;
    };
    const check cases[] = {
        {L"the program's own file", own, image, true},
        {L"a byte-identical copy", copy, image, false},
        {L"another file", scratch / L"other.bin", image, false},
        {L"an empty file", scratch / L"empty.bin", image, false},
        {L"the own file against another module's image", own, kernel32, false},
    };
    for (const check& c : cases) {
        SCOPED_TRACE(c.what);
        const mw::unique_hfile file = open_for_reading(c.path);
        ASSERT_TRUE(file);
        EXPECT_EQ(mw::is_image_file(file.get(), c.module), c.same);
    }
    EXPECT_FALSE(mw::is_image_file(INVALID_HANDLE_VALUE, image));
    EXPECT_FALSE(mw::is_image_file(open_for_reading(own).get(), nullptr));
}

TEST(own_image_file, holds_the_programs_file_against_writing_renaming_and_deleting)
{
    const HANDLE held = mw::own_image_file();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(mw::is_image_file(held, GetModuleHandleW(nullptr)));
    EXPECT_EQ(mw::own_image_file(), held) << "opened once, held";
    // Writing, and renaming or deleting (both open the file for DELETE), are refused; reading
    // is not.
    const std::wstring own = mw::own_executable_path();
    struct attempt {
        const wchar_t* what;
        DWORD access;
        bool allowed;
    };
    const attempt attempts[] = {
        {L"write", GENERIC_WRITE, false},
        {L"rename or delete", DELETE, false},
        {L"read", GENERIC_READ, true},
    };
    for (const attempt& a : attempts) {
        SCOPED_TRACE(a.what);
        const mw::unique_hfile file(CreateFileW(own.c_str(), a.access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
        const DWORD error = GetLastError();
        EXPECT_EQ(static_cast<bool>(file), a.allowed);
        if (!a.allowed) {
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    }
}

} // namespace
