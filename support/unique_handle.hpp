#pragma once
// Ownership of handles that one function closes: one template, `unique_any`, and a traits type
// per close function that names the handle type, the value meaning "none" and the close call.
// Every owner is movable and not copyable, and keeps the thread's last error across a close.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <utility>

namespace mw {

// Owns one handle described by `Traits`, or none (Traits::invalid()).
// Traits: `type`, `static type invalid() noexcept`, `static void close(type) noexcept`.
template <class Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    // Takes ownership of `handle`.
    explicit unique_any(pointer handle) noexcept : handle_(handle) {}
    ~unique_any() { reset(); }

    unique_any(unique_any&& other) noexcept : handle_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;

    pointer get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

    // Gives up ownership without closing; the owner is empty afterwards.
    pointer release() noexcept { return std::exchange(handle_, Traits::invalid()); }

    // Closes the handle held so far (unless it is `handle` itself), keeping the thread's last
    // error, and takes `handle`.
    void reset(pointer handle = Traits::invalid()) noexcept
    {
        const pointer old = std::exchange(handle_, handle);
        if (old != Traits::invalid() && old != handle) {
            const DWORD error = GetLastError();
            Traits::close(old);
            SetLastError(error);
        }
    }

    // Closes the handle held and returns the slot for a function that hands out a new handle
    // through an out-parameter.
    pointer* put() noexcept
    {
        reset();
        return &handle_;
    }

private:
    pointer handle_ = Traits::invalid();
};

namespace details {

// A handle of type T that `close_function` closes; none is null, or INVALID_HANDLE_VALUE for
// the functions that report failure with it (CreateFile, FindFirstFile).
template <class T, auto close_function, bool none_is_minus_one = false>
struct close_traits {
    using type = T;
    static type invalid() noexcept
    {
        if constexpr (none_is_minus_one)
            return INVALID_HANDLE_VALUE;
        else
            return nullptr;
    }
    static void close(type h) noexcept { close_function(h); }
};

} // namespace details

// A kernel object handle (CloseHandle); null means no object.
using unique_handle = unique_any<details::close_traits<HANDLE, &CloseHandle>>;
// A file handle from CreateFile (CloseHandle); INVALID_HANDLE_VALUE means no file.
using unique_hfile = unique_any<details::close_traits<HANDLE, &CloseHandle, true>>;
// A search handle from FindFirstFile (FindClose); INVALID_HANDLE_VALUE means no search.
using unique_hfind = unique_any<details::close_traits<HANDLE, &FindClose, true>>;
// An open registry key (RegCloseKey); never a predefined root such as HKEY_CURRENT_USER.
using unique_hkey = unique_any<details::close_traits<HKEY, &RegCloseKey>>;
// A loaded module (FreeLibrary).
using unique_hmodule = unique_any<details::close_traits<HMODULE, &FreeLibrary>>;
// Memory a function allocated with LocalAlloc for the caller (LocalFree), seen as T*.
template <class T = void>
using unique_hlocal_ptr = unique_any<details::close_traits<T*, &LocalFree>>;
// Memory a function allocated with CoTaskMemAlloc for the caller (CoTaskMemFree), seen as T*.
template <class T = void>
using unique_cotaskmem_ptr = unique_any<details::close_traits<T*, &CoTaskMemFree>>;
using unique_hlocal_string = unique_hlocal_ptr<wchar_t>;
// A security identifier from AllocateAndInitializeSid (FreeSid).
using unique_sid = unique_any<details::close_traits<PSID, &FreeSid>>;
using unique_cotaskmem_string = unique_cotaskmem_ptr<wchar_t>;
// A view of a file mapping (UnmapViewOfFile), seen as its first byte's address.
using unique_view = unique_any<details::close_traits<void*, &UnmapViewOfFile>>;
// An icon loaded or created for the caller (DestroyIcon); never a shared icon.
using unique_hicon = unique_any<details::close_traits<HICON, &DestroyIcon>>;
// An image list of the common controls (ImageList_Destroy).
using unique_himagelist = unique_any<details::close_traits<HIMAGELIST, &ImageList_Destroy>>;

} // namespace mw
