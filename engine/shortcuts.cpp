// Shell shortcuts through the shell's link object.

#include "engine/shortcuts.hpp"

#include "engine/com.hpp"

#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>

#include <filesystem>

namespace setup {
namespace {

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

[[noreturn]] void invalid_argument()
{
    throw std::system_error(mw::make_hresult_code(E_INVALIDARG));
}

} // namespace

std::wstring target_folder(const std::wstring& target)
{
    const std::size_t root = std::filesystem::path(target).root_path().native().size();
    const std::size_t last = target.find_last_of(L"\\/");
    if (last == std::wstring::npos || last < root)
        return target.substr(0, root);
    std::size_t end = last;
    while (end > root && is_separator(target[end - 1]))
        --end;
    return target.substr(0, end);
}

std::wstring create_shortcut(const std::wstring& target, const std::wstring& folder, const std::wstring& name)
{
    if (target.empty() || folder.empty())
        invalid_argument();
    const std::wstring file_name = name.empty() ? std::filesystem::path(target).stem().wstring() : name;
    if (file_name.empty())
        invalid_argument();
    std::wstring link_path = folder;
    if (!is_separator(link_path.back()))
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
