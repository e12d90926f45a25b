#pragma once
// An open layout with everything it is drawn with, loaded from the content folders.

#include "product/tilewright/layout.hpp"
#include "product/tilewright/picture.hpp"

#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace tilewright {

class texts;

// Where the installed textures (.jpg) and modules (.lbm) are.
struct content_folders {
    std::wstring textures;
    std::wstring modules;
};

// The folders "Textures" and "Modules" next to the program when both exist (a copy that
// carries its content); otherwise the installed ones under the common application data
// folder: "Marrowind Works\\Textures\\Tilewright" and "Marrowind Works\\Modules\\Tilewright".
content_folders find_content_folders(const std::wstring& program_folder);

// A file's bytes; std::system_error when it cannot be read or is larger than `limit`.
std::string read_file_bytes(const std::wstring& path, std::size_t limit);

// Files larger than this are no layouts or modules.
inline constexpr std::size_t text_file_limit = 1024 * 1024;

struct document {
    std::wstring path;
    layout doc;
    drawing_set set;
    std::map<std::wstring, std::wstring> module_problems; // module name -> why it cannot be used
    std::set<std::wstring> missing_textures;
    // Per area, the tiles each slot needs (empty for an area whose module is missing).
    std::vector<std::map<wchar_t, tile_count>> counts;
};

// Reads the layout at `path` and the modules and textures it names. A layout that cannot be
// read throws parse_error or std::system_error; a module or texture that cannot be read is
// recorded in the document, whose drawing then does without it. COM must be initialised.
document load_document(const std::wstring& path, const content_folders& folders, const texts& strings);

// The user's text for a failure: a format error with its line, or the system's message.
std::wstring describe(const parse_error& error, const texts& strings);
std::wstring describe(const std::system_error& error);

// The first sample layout: in the first of `desktops` that has a folder whose name contains
// "Tilewright" and holds .cal files (the setup puts the samples in such a folder, named in
// the user's language), the first such folder's first .cal file, both in alphabetical order
// without regard to case. Empty when there is none.
std::wstring first_sample_in(const std::vector<std::wstring>& desktops);

// first_sample_in the all-users desktop, then the user's desktop.
std::wstring first_sample();

} // namespace tilewright
