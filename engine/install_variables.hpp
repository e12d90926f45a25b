#pragma once
// Install variables ("<InstallPath>", "<CommonData>", ...) in the archive's destination
// folders, and the shared folders that are opened up to all users when first written into.

#include "support/paths.hpp"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace setup {

struct shared_folder {
    std::wstring path;
    bool granted = false;
    // The folder's file-system identity once it exists (looking it up is costly).
    std::optional<mw::file_identity> identity;
};

// How a system folder is found by its CSIDL number: empty when the system has none.
using folder_lookup = std::function<std::wstring(int csidl)>;

class destination_resolver {
public:
    // Without a lookup, system folders come from the system (csidl_folder).
    destination_resolver(std::wstring install_folder, std::wstring sample_folder, std::wstring temp_folder,
                         folder_lookup lookup = {});

    // The folder with its leading install variable replaced by the real folder. A folder
    // without a variable is returned unchanged; a first component in angle brackets that
    // names no variable is dropped (the rest is returned, a relative path). Registers the
    // sub-folders of shared variables. Throws a compress error 7 when a system folder
    // cannot be found.
    std::wstring resolve_destination(const std::wstring& folder);

    // Whether the first component of `folder` is in angle brackets but names no variable.
    static bool names_unknown_variable(const std::wstring& folder);

    std::vector<shared_folder>& shared_folders() { return shared_; }
    const std::vector<shared_folder>& shared_folders() const { return shared_; }

private:
    // System folders are looked up once per resolver: an archive names the same few many times.
    std::wstring system_folder(int folder_id);
    std::wstring folder_or_fallback(int folder_id, int fallback_id);
    std::wstring sample_base();
    void register_shared(const std::wstring& path);

    std::wstring install_folder_;
    std::wstring sample_folder_;
    std::wstring temp_folder_;
    std::vector<shared_folder> shared_;
    std::map<int, std::wstring> system_folders_;
    folder_lookup lookup_;
};

} // namespace setup
