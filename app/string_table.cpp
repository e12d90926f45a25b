#include "app/string_table.hpp"

namespace setup {

std::wstring_view string_table_entry(HMODULE module, LANGID language, unsigned id)
{
    HRSRC info = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!info)
        return {};
    HGLOBAL data = LoadResource(module, info);
    if (!data)
        return {};
    const auto* block = static_cast<const WORD*>(LockResource(data));
    const DWORD size = SizeofResource(module, info);
    if (!block || size == 0)
        return {};
    // Sixteen counted strings: a length, then that many UTF-16 units.
    const WORD* position = block;
    const WORD* const end = block + size / sizeof(WORD);
    for (unsigned skipped = 0; skipped < id % 16; ++skipped) {
        if (position >= end)
            return {};
        position += 1 + *position;
    }
    if (position >= end)
        return {};
    const std::size_t length = *position;
    if (length == 0 || length > static_cast<std::size_t>(end - position - 1))
        return {};
    return {reinterpret_cast<const wchar_t*>(position + 1), length};
}

} // namespace setup
