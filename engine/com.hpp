#pragma once
// COM ownership: the calling thread's COM initialisation for one scope, and interface pointers
// released when their owner goes.

#include "support/hresult.hpp"

#include <objbase.h>
#include <unknwn.h>

#include <system_error>
#include <utility>

namespace setup {

using mw::check_hresult;

// Initialises COM on the calling thread for the lifetime of the object. Any success result
// (S_OK, or S_FALSE when the thread was already initialised in that apartment) counts as an
// initialisation that the destructor undoes with CoUninitialize. RPC_E_CHANGED_MODE (the
// thread already lives in another apartment) is accepted: COM is usable, and nothing is undone.
// Every other failure throws std::system_error with the HRESULT. Not movable: it belongs to
// the thread and the scope that created it.
class com_initialization {
public:
    explicit com_initialization(DWORD apartment = COINIT_APARTMENTTHREADED)
    {
        const HRESULT hr = CoInitializeEx(nullptr, apartment);
        if (hr == RPC_E_CHANGED_MODE)
            return;
        check_hresult(hr);
        initialised_ = true;
    }
    ~com_initialization()
    {
        if (initialised_)
            CoUninitialize();
    }
    com_initialization(const com_initialization&) = delete;
    com_initialization& operator=(const com_initialization&) = delete;

    // Whether this object initialised COM (and will uninitialise it).
    bool initialised() const noexcept { return initialised_; }

private:
    bool initialised_ = false;
};

// Owns one reference to a COM interface (or none). Movable, not copyable.
template <class T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    // Takes over a reference the caller owns.
    explicit com_ptr(T* owned) noexcept : p_(owned) {}
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;
    ~com_ptr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases the reference held and takes over `owned`.
    void reset(T* owned = nullptr) noexcept
    {
        if (T* old = std::exchange(p_, owned))
            old->Release();
    }

    // Releases the reference held and returns the slot for a function that returns a new
    // reference through an out-parameter.
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Asks the object for another of its interfaces. Throws std::system_error with the
    // HRESULT when QueryInterface fails, and E_POINTER when it succeeds without an interface.
    template <class U>
    com_ptr<U> query(REFIID iid) const
    {
        if (!p_)
            throw std::system_error(mw::make_hresult_code(E_POINTER));
        com_ptr<U> result;
        check_hresult(p_->QueryInterface(iid, result.put_void()));
        if (!result)
            throw std::system_error(mw::make_hresult_code(E_POINTER));
        return result;
    }

private:
    T* p_ = nullptr;
};

} // namespace setup
