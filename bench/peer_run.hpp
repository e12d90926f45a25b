#pragma once
// One installation through the peer installer (an NSIS installer of the payload's files, see
// peer_installer.cmake), driven through its directory and progress pages as a user would.

#include <filesystem>
#include <optional>

namespace bench {

struct peer_figures {
    double first_page = 0; // s, process creation to the directory page shown
    double install = 0;    // s, Install pressed to the progress page's end (Close enabled)
    double total = 0;      // s, process creation to the process's end
    double peak_working_set = 0; // bytes
};

// Installs with `installer` from a clean machine (the caller removes the installation again);
// empty when the run did not reach its end (what went wrong is printed).
std::optional<peer_figures> peer_installation(const std::filesystem::path& installer);

// Removes what the peer installer may have left: its uninstaller run silently in place, then
// its own file and the product's folders.
void remove_peer_installation();

} // namespace bench
