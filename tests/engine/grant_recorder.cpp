#include "tests/engine/grant_recorder.hpp"

namespace testing_support {

std::vector<stored_grant>& stored_grants()
{
    static std::vector<stored_grant> grants;
    return grants;
}

BOOL WINAPI record_grant(LPCWSTR path, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor)
{
    stored_grant grant;
    grant.path = path;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    BYTE users[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof users;
    if (what != DACL_SECURITY_INFORMATION || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !present || !dacl || !CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size)) {
        grant.users_entries = -1;
    } else {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        grant.protected_list = (control & SE_DACL_PROTECTED) != 0;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            GetAce(dacl, i, &ace);
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&allowed->SidStart, users)) {
                ++grant.users_entries;
                grant.mask = allowed->Mask;
                grant.flags = allowed->Header.AceFlags;
            } else {
                const auto* bytes = static_cast<const BYTE*>(ace);
                grant.others.insert(grant.others.end(), bytes, bytes + allowed->Header.AceSize);
            }
        }
    }
    stored_grants().push_back(grant);
    return TRUE;
}

grant_recorder::grant_recorder() : previous_(setup::details::replace_file_security_store(record_grant))
{
    stored_grants().clear();
}

grant_recorder::~grant_recorder() { setup::details::replace_file_security_store(previous_); }

} // namespace testing_support
