#pragma once
// Shell shortcuts (.lnk files) to the installed application.

#include <string>

namespace setup {

// Writes the shell link "<folder>\<name>.lnk" to `target`, with the target's folder as its
// working folder and the shell's defaults for everything else, replacing a link file of the
// same name. ".lnk" is always appended, even when `name` holds a period. An empty `name` stands
// for the target's file name without its extension. Returns the full path of the link file.
// Initialises COM on the calling thread for the call (apartment-threaded; a thread already in
// another apartment is used as it is). The folder must exist: it is not created. Throws
// std::system_error carrying the HRESULT (system category) when any step fails, E_INVALIDARG
// when the target, the folder or the resulting name is empty; never returns an empty path.
std::wstring create_shortcut(const std::wstring& target, const std::wstring& folder, const std::wstring& name);

// The working folder of a link to `target`: the path without its final component and the
// separators before it; a root ("C:\", "\\server\share\") stays as it is.
std::wstring target_folder(const std::wstring& target);

} // namespace setup
