#pragma once
// The running program's own file, held open so that nobody can change, rename or delete it
// while the program runs, and known to be the very file its image was mapped from: what the
// program reads of its own file is then the bytes it runs, not a file someone put in its place.

#include <windows.h>

namespace mw {

// Whether `file` (open for reading) is the file the image of `module` was mapped from: not a
// copy of it, however alike, nor any other file. False when the system cannot tell.
bool is_image_file(HANDLE file, HMODULE module) noexcept;

// This program's executable file, opened on the first call with read sharing only (no one can
// then write, rename or delete it) and held until the process ends. INVALID_HANDLE_VALUE when
// it cannot be opened so, or when the file now at the program's path is not the one it was
// started from: the program then reads its image in place. Call it first thing at start-up.
// Readers use explicit positions and never close it.
HANDLE own_image_file() noexcept;

} // namespace mw
