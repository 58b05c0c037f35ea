// SPDX-License-Identifier: GPL-3.0-or-later
// Windows keeps no pipes or sockets among files, and its symbolic links need a privilege
// that a player's account lacks: the tests make none of them. The owners and DACLs of files
// are read and set through the calls Microsoft documents for them: GetNamedSecurityInfoW,
// SetEntriesInAclW and SetNamedSecurityInfoW.
#include "runtime/windows/windowscalls.h"
#include "runtime/windows/windowsowner.h"
#include "testhost.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

namespace testhost {

namespace {

std::wstring widePath(const QByteArray &path)
{
    return QString::fromUtf8(path).replace(u'/', u'\\').toStdWString();
}

} // namespace

int symlink(const QByteArray &, const QByteArray &)
{
    return ENOSYS;
}

int makePipe(const QByteArray &)
{
    return ENOSYS;
}

int makeSocket(const QByteArray &)
{
    return ENOSYS;
}

QByteArray makeShare(const QByteArray &server, const QByteArray &share)
{
    // Wine, which says so by a function of its own, finds \\server\share in its prefix; the
    // prefix is reached through Wine's drive Z:, the machine's root.
    const bool wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const QByteArray prefix = qgetenv("WINEPREFIX");
    if (!wine || !prefix.startsWith('/'))
        return {};
    const QByteArray folder = "Z:" + prefix + "/dosdevices/unc/" + server + '/' + share;
    return QDir().mkpath(QString::fromUtf8(folder)) ? folder : QByteArray();
}

bool makeConsole(unsigned codePage)
{
    // A test may have a console already, which Wine makes without code pages where it has
    // no terminal: it is let go first. AllocConsole points the standard handles at the new
    // console: QtTest's log keeps its own. Wine makes a console only where it has a display.
    // The console stays until the test ends: under Wine, freeing it then cuts the log off.
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i)
        handles[i] = ::GetStdHandle(kinds[i]);
    ::FreeConsole();
    const bool made = ::AllocConsole();
    for (int i = 0; i < 3; ++i)
        ::SetStdHandle(kinds[i], handles[i]);
    return made && ::SetConsoleOutputCP(codePage);
}

unsigned consoleOutputCodePage()
{
    return ::GetConsoleOutputCP();
}

namespace {

// The process's user's SID.
std::vector<BYTE> userSid()
{
    HANDLE token = nullptr;
    std::vector<BYTE> buffer(256);
    DWORD size = DWORD(buffer.size());
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    const bool read = ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    ::CloseHandle(token);
    if (!read)
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
    return {static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + ::GetLengthSid(sid)};
}

QString sidText(PSID sid)
{
    wchar_t *text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return {};
    const QString result = QString::fromWCharArray(text);
    ::LocalFree(text);
    return result;
}

// The trustees a descriptor's DACL allows, as whoMayEnter tells them.
QString described(PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorControl(descriptor, &control, &revision) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return {};
    std::vector<BYTE> user = userSid();
    QStringList who;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!::GetAce(dacl, i, &ace) ||
            static_cast<ACE_HEADER *>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart;
        const QString text = sidText(sid);
        who.append(!user.empty() && ::EqualSid(sid, user.data()) ? QStringLiteral("user")
                   : text == QLatin1String("S-1-5-18")           ? QStringLiteral("SY")
                   : text == QLatin1String("S-1-5-32-544")       ? QStringLiteral("BA")
                                                                 : text);
    }
    who.sort();
    who.removeDuplicates();
    if (control & SE_DACL_PROTECTED)
        who.prepend(QStringLiteral("P"));
    return who.join(u' ');
}

} // namespace

int letOthersWrite(const QByteArray &path)
{
    std::wstring name = widePath(path);
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &old, nullptr, &descriptor) != ERROR_SUCCESS)
        return EIO;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = FILE_GENERIC_WRITE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    DWORD error = ::SetEntriesInAclW(1, &access, old, &acl);
    if (error == ERROR_SUCCESS)
        error = ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, acl, nullptr);
    ::LocalFree(acl);
    ::LocalFree(descriptor);
    return error == ERROR_SUCCESS ? 0 : EIO;
}

QString whoMayEnter(const QByteArray &path)
{
    const std::wstring name = widePath(path);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    const QString who = described(descriptor);
    ::LocalFree(descriptor);
    return who;
}

bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

QString privateFolderAccess()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            runtime::windows::privateFolderSddl().c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    const QString who = described(descriptor);
    ::LocalFree(descriptor);
    return who;
}

int judgedOwnOnly(QString sddl, bool administrator)
{
    std::vector<BYTE> user = userSid();
    sddl.replace(QLatin1String("%U"), sidText(user.data()));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.toStdWString().c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return -2;
    const bool own = runtime::windows::isOwnOnly(descriptor, user.data(), administrator);
    ::LocalFree(descriptor);
    return own ? 1 : 0;
}

int hide(const QByteArray &path, bool system)
{
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | (system ? FILE_ATTRIBUTE_SYSTEM : 0);
    return ::SetFileAttributesW(widePath(path).c_str(), attributes) ? 0 : EIO;
}

int holdFile(const QByteArray &path, int milliseconds)
{
    const HANDLE file =
        ::CreateFileW(widePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return EIO;
    std::thread([file, milliseconds] {
        ::Sleep(DWORD(milliseconds));
        ::CloseHandle(file);
    }).detach();
    return 0;
}

// The reparse data of a mount point, FSCTL_SET_REPARSE_POINT with REPARSE_DATA_BUFFER
// ("REPARSE_DATA_BUFFER structure", learn.microsoft.com/windows-hardware/drivers/ddi/ntifs/
// ns-ntifs-_reparse_data_buffer): the target as an NT path, then as it is printed.
int makeJunction(const QByteArray &target, const QByteArray &path)
{
    const std::wstring substitute = L"\\??\\" + widePath(target), printed = widePath(target);
    const auto bytes = [](const std::wstring &text) {
        return WORD(text.size() * sizeof(wchar_t));
    };
    std::vector<char> buffer(8 + 8 + bytes(substitute) + bytes(printed) + 4, 0);
    const auto put = [&](std::size_t at, WORD value) {
        std::memcpy(&buffer[at], &value, 2);
    };
    constexpr DWORD MountPoint = 0xA0000003; // IO_REPARSE_TAG_MOUNT_POINT
    std::memcpy(buffer.data(), &MountPoint, 4);
    put(4, WORD(buffer.size() - 8));
    put(8, 0);
    put(10, bytes(substitute));
    put(12, WORD(bytes(substitute) + 2));
    put(14, bytes(printed));
    std::memcpy(&buffer[16], substitute.data(), bytes(substitute));
    std::memcpy(&buffer[16 + bytes(substitute) + 2], printed.data(), bytes(printed));
    const HANDLE folder =
        ::CreateFileW(widePath(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return EIO;
    DWORD returned = 0;
    const BOOL made = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                        DWORD(buffer.size()), nullptr, 0, &returned, nullptr);
    const DWORD error = ::GetLastError();
    ::CloseHandle(folder);
    if (made)
        return 0;
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? ENOSYS : EIO;
}

int takenForLink(quint32 attributes, quint32 tag)
{
    return runtime::windows::isLink(attributes, tag) ? 1 : 0;
}

bool fileNumber(quint64 low, quint64 high, quint64 &number)
{
    number = runtime::windows::fileNumber(low, high);
    return true;
}

} // namespace testhost
