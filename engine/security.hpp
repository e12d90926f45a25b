#pragma once
// Access rights of the built-in Users group on installed files and folders.

#include <cstdint>
#include <string>

namespace setup {

// Gives the built-in Users group `access` on a file or folder, replacing any entry it had;
// `inheritance` 0 for none, 3 for sub-folders and files. Throws std::system_error with an
// HRESULT (mw::hresult_category) on failure.
void grant_users_access(const std::wstring& path, std::uint32_t access, std::uint32_t inheritance);

} // namespace setup
