#include "engine/install_variables.hpp"

#include "engine/compress_error.hpp"
#include "engine/known_folders.hpp"
#include "app/window_owner.hpp"
#include "support/paths.hpp"

#include <windows.h>
#include <shlobj.h>

#include <array>
#include <optional>
#include <string_view>

namespace setup {
namespace {

enum class base_rule { install_folder, sample_folder, csidl, temporary };

struct install_variable {
    const wchar_t* name;
    base_rule rule;
    int folder_id;
    int fallback_id; // -1: none
    bool shared;
};

constexpr std::array<install_variable, 13> variables{{
    {L"<InstallPath>", base_rule::install_folder, -1, -1, false},
    {L"<SamplePath>", base_rule::sample_folder, -1, -1, false},
    {L"<ProgramFiles>", base_rule::csidl, CSIDL_PROGRAM_FILES, -1, false},
    {L"<ProgramCommon>", base_rule::csidl, CSIDL_PROGRAM_FILES_COMMON, -1, false},
    {L"<CommonData>", base_rule::csidl, CSIDL_COMMON_APPDATA, CSIDL_APPDATA, true},
    {L"<UserData>", base_rule::csidl, CSIDL_APPDATA, -1, false},
    {L"<CommonDocuments>", base_rule::csidl, CSIDL_COMMON_DOCUMENTS, CSIDL_PERSONAL, true},
    {L"<Documents>", base_rule::csidl, CSIDL_PERSONAL, -1, false},
    {L"<CommonDesktop>", base_rule::csidl, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, true},
    {L"<Desktop>", base_rule::csidl, CSIDL_DESKTOPDIRECTORY, -1, false},
    {L"<WinDir>", base_rule::csidl, CSIDL_WINDOWS, -1, false},
    {L"<System>", base_rule::csidl, CSIDL_SYSTEM, -1, false},
    {L"<Temporary>", base_rule::temporary, -1, -1, false},
}};

const install_variable* find_variable(std::wstring_view component)
{
    for (const install_variable& v : variables)
        if (component == v.name)
            return &v;
    return nullptr;
}

bool looks_like_variable(std::wstring_view component)
{
    return component.size() >= 2 && component.front() == L'<' && component.back() == L'>';
}

} // namespace

destination_resolver::destination_resolver(std::wstring install_folder, std::wstring sample_folder,
                                           std::wstring temp_folder, folder_lookup lookup)
    : install_folder_(std::move(install_folder)), sample_folder_(std::move(sample_folder)),
      temp_folder_(std::move(temp_folder)), lookup_(std::move(lookup))
{
}

bool destination_resolver::names_unknown_variable(const std::wstring& folder)
{
    std::wstring_view rest = folder;
    const std::wstring_view first = mw::take_component(rest);
    return looks_like_variable(first) && !find_variable(first);
}

void destination_resolver::register_shared(const std::wstring& path)
{
    // The cheap comparisons first: an archive names the same few folders many times.
    for (const shared_folder& s : shared_)
        if (s.path == path || mw::same_path_lexically(s.path, path))
            return;
    const auto identity = mw::identity_of(path);
    if (identity)
        for (shared_folder& s : shared_) {
            if (!s.identity)
                s.identity = mw::identity_of(s.path);
            if (s.identity == identity)
                return;
        }
    shared_.push_back({path, false, identity});
}

std::wstring destination_resolver::system_folder(int folder_id)
{
    auto known = system_folders_.find(folder_id);
    if (known == system_folders_.end()) {
        std::wstring folder =
            lookup_ ? lookup_(folder_id) : csidl_folder(folder_id, find_owner_window(owner_search::any_window));
        known = system_folders_.emplace(folder_id, std::move(folder)).first;
    }
    return known->second;
}

std::wstring destination_resolver::folder_or_fallback(int folder_id, int fallback_id)
{
    std::wstring folder = system_folder(folder_id);
    if (folder.empty() && fallback_id >= 0)
        folder = system_folder(fallback_id);
    if (folder.empty())
        throw std::system_error(make_error_code(compress_error::unexpected_error));
    return folder;
}

std::wstring destination_resolver::sample_base()
{
    const std::wstring desktop = folder_or_fallback(CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY);
    if (sample_folder_.empty())
        return desktop;
    if (mw::is_absolute_path(sample_folder_))
        return sample_folder_;
    const std::wstring joined = mw::append_path(desktop, sample_folder_);
    register_shared(joined);
    return joined;
}

std::wstring destination_resolver::resolve_destination(const std::wstring& folder)
{
    if (folder.empty())
        return folder;
    std::wstring_view rest = folder;
    const std::wstring_view first = mw::take_component(rest);
    if (!looks_like_variable(first))
        return folder;

    const install_variable* variable = find_variable(first);
    std::wstring result;
    if (variable) {
        switch (variable->rule) {
        case base_rule::install_folder:
            result = install_folder_;
            break;
        case base_rule::sample_folder:
            result = sample_base();
            break;
        case base_rule::csidl:
            result = folder_or_fallback(variable->folder_id, variable->fallback_id);
            break;
        case base_rule::temporary:
            result = temp_folder_.empty() ? install_folder_ : temp_folder_;
            break;
        }
    }
    while (!rest.empty()) {
        result = mw::append_path(result, mw::take_component(rest));
        if (variable && variable->shared)
            register_shared(result);
    }
    return result;
}

} // namespace setup
