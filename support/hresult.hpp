#pragma once
// HRESULTs as error codes of a category of their own: a Win32 error code travels in
// std::system_category, an HRESULT in mw::hresult_category, so that whoever shows or maps a
// code knows which kind of number it holds.

#include <windows.h>

#include <system_error>

namespace mw {

const std::error_category& hresult_category() noexcept;

inline std::error_code make_hresult_code(HRESULT hr) noexcept
{
    return {static_cast<int>(hr), hresult_category()};
}

// Throws std::system_error with `hr` in the HRESULT category when it is a failure.
inline void check_hresult(HRESULT hr)
{
    if (FAILED(hr))
        throw std::system_error(make_hresult_code(hr));
}

} // namespace mw
