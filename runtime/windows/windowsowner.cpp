// SPDX-License-Identifier: GPL-3.0-or-later
// Who may change the program's own files on Windows: the records are made in folders of the
// user alone, and read only from folders and files that he owns and no one else may change,
// as the owner and the permission bits say on POSIX systems.
#include "runtime/windows/windowsowner.h"

#include "runtime/windows/windowscalls.h"

#include <memory>
#include <vector>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

namespace runtime {

using namespace windows;

namespace {

// What an ACE may grant that changes a file or a folder's entries, or who may do so.
constexpr ACCESS_MASK Changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC |
                                WRITE_OWNER | DELETE | GENERIC_WRITE | GENERIC_ALL;

using LocalMemory = std::unique_ptr<void, decltype(&::LocalFree)>;

struct WellKnownSid
{
    explicit WellKnownSid(WELL_KNOWN_SID_TYPE type)
    {
        DWORD size = SECURITY_MAX_SID_SIZE;
        if (!::CreateWellKnownSid(type, nullptr, bytes, &size))
            bytes[0] = 0; // no valid SID: equal to none
    }
    PSID get() { return bytes; }
    BYTE bytes[SECURITY_MAX_SID_SIZE];
};

// The process's user, read once from its token: his SID, and whether the process runs as
// an administrator, with the Administrators group in force, not only as a deny-only group of
// a filtered token ("CheckTokenMembership", Microsoft's documentation).
struct ProcessSid
{
    ProcessSid()
    {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> buffer(size);
        if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
            user.assign(static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + ::GetLengthSid(sid));
        }
        ::CloseHandle(token);
        BOOL member = FALSE;
        WellKnownSid administrators(WinBuiltinAdministratorsSid);
        administrator = ::CheckTokenMembership(nullptr, administrators.get(), &member) && member;
    }
    std::vector<BYTE> user; // empty when the token cannot be read
    bool administrator = false;
};

const ProcessSid &processSid()
{
    static const ProcessSid sid;
    return sid;
}

bool equal(PSID a, PSID b)
{
    return a && b && ::IsValidSid(a) && ::IsValidSid(b) && ::EqualSid(a, b);
}

// Whether the ACE's trustee is one of those the records may be changed by.
bool trusted(PSID trustee, PSID user)
{
    WellKnownSid system(WinLocalSystemSid), administrators(WinBuiltinAdministratorsSid),
        creator(WinCreatorOwnerSid);
    return equal(trustee, user) || equal(trustee, system.get()) ||
           equal(trustee, administrators.get()) || equal(trustee, creator.get());
}

} // namespace

namespace windows {

bool isOwnOnly(PSECURITY_DESCRIPTOR descriptor, PSID user, bool administrator)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    PACL dacl = nullptr;
    if (!descriptor || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return false;
    // What an elevated process makes is the Administrators group's by default: "System
    // objects: Default owner for objects created by members of the Administrators group"
    // (Microsoft's documentation of the security policy settings).
    WellKnownSid administrators(WinBuiltinAdministratorsSid);
    if (!equal(owner, user) && !(administrator && equal(owner, administrators.get())))
        return false;
    // No DACL, or a null one, lets everyone do anything.
    if (!present || !dacl)
        return false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!::GetAce(dacl, i, &ace))
            return false;
        const auto *header = static_cast<const ACE_HEADER *>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
            header->AceType == SYSTEM_AUDIT_ACE_TYPE)
            continue; // takes rights away, or grants none
        // Allowed ACEs of other kinds, as objects of the directory service have them, are
        // not read here: not the user's alone.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
            header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
            return false;
        const auto *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
        const PSID trustee = const_cast<DWORD *>(&allowed->SidStart);
        if ((allowed->Mask & Changes) && !trusted(trustee, user))
            return false;
    }
    return true;
}

} // namespace windows

// The numbers of `status` stand for the process's user on Windows (fill in windowsfiles.cpp):
// a caller that names another user is answered as on POSIX.
bool WindowsFileSystem::isOwnOnly(const Fd &entry, const FileStatus &status, quint32 user)
{
    const ProcessSid &me = processSid();
    if (status.owner != user || me.user.empty())
        return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // GetSecurityInfo on the handle: the entry open now, not a path that may lead elsewhere.
    if (::GetSecurityInfo(handleOf(entry), SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                          &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const LocalMemory held(descriptor, &::LocalFree);
    return windows::isOwnOnly(descriptor, PSID(me.user.data()), me.administrator);
}

// The folder gets a DACL of its own, protected from what its parent would pass on (the "P"
// of SDDL's DACL flags), of full control for the user, the system and the administrators,
// which its files and folders inherit: "Security Descriptor String Format", Microsoft's
// documentation. Its owner is the token's default one.
std::wstring windows::privateFolderSddl()
{
    const ProcessSid &me = processSid();
    wchar_t *text = nullptr;
    if (me.user.empty() || !::ConvertSidToStringSidW(PSID(me.user.data()), &text))
        return {};
    const std::wstring user(text);
    ::LocalFree(text);
    return L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}

// Made with that descriptor, not given it afterwards: no one else has a moment to open it
// ("ConvertStringSecurityDescriptorToSecurityDescriptorW", "CreateDirectoryW").
int WindowsFileSystem::makePrivateFolder(const QByteArray &path)
{
    const std::wstring sddl = privateFolderSddl();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl.empty())
        return EACCES;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return lastError();
    const LocalMemory held(descriptor, &::LocalFree);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const std::wstring folder = widePath(path);
    return ::CreateDirectoryW(folder.c_str(), &attributes) ? 0 : lastError(folder);
}

} // namespace runtime
