#pragma once
// What grant_users_access and protect_folder would store, seen through its store seam: the file system of the
// tests' Wine keeps no access lists, so reading them back would show nothing.

#include "engine/security.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct stored_grant {
    std::wstring path;
    int users_entries = 0; // entries of the built-in Users group; -1 when the list was unreadable
    DWORD mask = 0;
    BYTE flags = 0;
    std::vector<BYTE> others; // every other entry, back to back
    bool protected_list = false; // the list takes nothing from the parent's
};

// The grants recorded since the last grant_recorder was made, in order.
std::vector<stored_grant>& stored_grants();

// Records a descriptor as the store would have written it (the store seam's signature).
BOOL WINAPI record_grant(LPCWSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);

// Records the grants instead of storing them, for the life of the object.
class grant_recorder {
public:
    grant_recorder();
    ~grant_recorder();
    grant_recorder(const grant_recorder&) = delete;
    grant_recorder& operator=(const grant_recorder&) = delete;

private:
    setup::details::file_security_store previous_;
};

} // namespace testing_support
