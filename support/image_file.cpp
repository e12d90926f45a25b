#include "support/image_file.hpp"

#include "support/own_executable.hpp"
#include "support/system_library.hpp"
#include "support/unique_handle.hpp"

namespace mw {

bool is_image_file(HANDLE file, HMODULE module) noexcept
{
    // NtAreMappedFilesTheSame compares the files behind two mapped addresses: the image and a
    // view of the opened file are the same file only when the opened file is the one mapped.
    using same_files = LONG(NTAPI*)(PVOID, PVOID);
    const auto are_same = system_function<same_files>(GetModuleHandleW(L"ntdll.dll"), "NtAreMappedFilesTheSame");
    if (!are_same || !module || file == INVALID_HANDLE_VALUE || !file)
        return false;
    const unique_handle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping)
        return false;
    const unique_view view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 1));
    if (!view)
        return false;
    constexpr LONG status_success = 0;
    return are_same(module, view.get()) == status_success;
}

HANDLE own_image_file() noexcept
{
    static const unique_hfile held = [] {
        unique_hfile file(CreateFileW(own_executable_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (file && !is_image_file(file.get(), GetModuleHandleW(nullptr)))
            file.reset();
        return file;
    }();
    return held.get();
}

} // namespace mw
