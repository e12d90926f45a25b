#pragma once
// The journal of an installation: what it has done so far, kept from before its first change
// to its end in the machine's registry, which only administrators may write. A setup that is
// ended before its end (a power cut, a crash, a process ended from outside) leaves its journal;
// the next setup rolls that run back from it before it looks at what is installed, so that it
// finds the machine as it was before the ended run and its removal leaves nothing of either.

#include "support/uninstall_log.hpp"

#include <optional>
#include <string>
#include <vector>

namespace mw {

// The maker's key under HKEY_LOCAL_MACHINE, and the key in it that holds the journal of the
// product whose uninstall key is `product` ("Tilewright" gives "Tilewright Setup Journal").
inline constexpr wchar_t maker_key_path[] = L"Software\\Marrowind Works";
std::wstring journal_key_path(const std::wstring& product);

struct install_journal {
    std::vector<log_record> records; // the run's records, backups included
    std::wstring temporary_folder;   // the run's temporary folder
    std::wstring work_folder;        // the mark of the run's work folder (the backups')
    bool operator==(const install_journal&) const = default;
};

// Writes the journal whole; false when it could not be written.
bool save_journal(const std::wstring& product, const install_journal& journal) noexcept;

// The journal an ended run left; nothing when there is none. A malformed record ends the list.
std::optional<install_journal> load_journal(const std::wstring& product);

// Deletes the journal, and the maker's key when nothing else is left in it.
void clear_journal(const std::wstring& product) noexcept;

// Starts keeping `log`'s journal, with the run's temporary folder; false when it could not be
// written. Ending it clears the journal.
bool begin_journal(uninstall_log& log, const std::wstring& temporary_folder);
void end_journal(uninstall_log& log) noexcept;

// Rolls back the run the journal describes, as uninstall_log::rollback does (a file whose
// backup was named but never made is left as it is: it was not replaced yet). Backups are put
// back only from the run's own work folder, held while they are: once its run has ended,
// whoever may write the temporary folder could rename it away and put another folder with
// files of the backups' names at its path. When it is not the folder the journal marks, the
// records with backups are left as they are and returned with link_refused. It deletes its
// temporary folder and its work folders once empty, and clears the journal. What could not be
// undone is returned. Nothing when there is no journal.
std::vector<rollback_failure> roll_back_ended_installation(const log_identity& identity);

} // namespace mw
