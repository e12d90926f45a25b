#pragma once
// Unique temporary file names and the setup's temporary folder for this run.

#include <cstdint>
#include <string>

namespace mw {

// Full path of a file in the system temporary folder named after `pattern`, every '%'
// replaced by a random lower-case hexadecimal digit, that does not exist at the time of the
// call. Throws std::filesystem::filesystem_error when the temporary folder cannot be found,
// and std::system_error (ERROR_FILE_EXISTS, system category) when every one of
// `unique_temp_path_tries` names drawn exists: a pattern without placeholders whose name
// exists, or one with too few for the names taken.
inline constexpr int unique_temp_path_tries = 1000;
std::wstring unique_temp_path(const std::wstring& pattern);

// Sets `path` to the system temporary folder joined with "marrowind_{<random UUID>}" and
// returns true; on failure sets `error_text` to "<code as 8 hex digits> (temp_directory_path)"
// and returns false. Creates nothing.
bool choose_temp_folder(std::wstring& path, std::wstring& error_text);

// The process-wide generator behind the names, for callers that need its draws.
std::uint32_t next_random_u32();

} // namespace mw
