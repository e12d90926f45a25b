// Shell shortcuts through the shell's link object.

#include "engine/shortcuts.hpp"

#include "engine/com.hpp"
#include "support/paths.hpp"

#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

namespace setup {
namespace {

[[noreturn]] void invalid_argument()
{
    throw std::system_error(mw::make_hresult_code(E_INVALIDARG));
}

// A file name without its extension: up to its last period, unless that begins the name.
std::wstring_view stem_of(std::wstring_view name) noexcept
{
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring_view::npos || dot == 0 || name == L".." ? name : name.substr(0, dot);
}

} // namespace

std::wstring target_folder(const std::wstring& target)
{
    return std::wstring(mw::split_name(target).folder);
}

std::wstring create_shortcut(const std::wstring& target, const std::wstring& folder, const std::wstring& name)
{
    if (target.empty() || folder.empty())
        invalid_argument();
    const std::wstring file_name = name.empty() ? std::wstring(stem_of(mw::split_name(target).name)) : name;
    if (file_name.empty())
        invalid_argument();
    std::wstring link_path = folder;
    if (!mw::is_separator(link_path.back()))
        link_path += L'\\';
    link_path += file_name;
    link_path += L".lnk";

    com_initialization com(COINIT_APARTMENTTHREADED);
    com_ptr<IShellLinkW> link;
    check_hresult(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()));
    check_hresult(link->SetPath(target.c_str()));
    check_hresult(link->SetWorkingDirectory(target_folder(target).c_str()));
    const com_ptr<IPersistFile> file = link.query<IPersistFile>(IID_IPersistFile);
    check_hresult(file->Save(link_path.c_str(), TRUE));
    return link_path;
}

} // namespace setup
