// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests make that only some hosts have, one file of it per system, chosen when the
// project is configured as runtime/'s are: posixtesthost.cpp, windowstesthost.cpp.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace testhost {

// Whether the host's files are POSIX ones: names of any bytes, names that differ only in
// case side by side, permission bits and owners, symbolic links, pipes and sockets, and
// Wine's drive letters under a prefix. Windows has none of these; the tests of them are
// skipped there (SKIP_UNLESS_POSIX in testsupport.h).
#ifdef Q_OS_WIN
inline constexpr bool posix = false;
#else
inline constexpr bool posix = true;
#endif

// Each makes an entry at a host path and returns 0, or the host's errno; ENOSYS where the
// host has no such entries.
int symlink(const QByteArray &target, const QByteArray &path);
int makePipe(const QByteArray &path);
int makeSocket(const QByteArray &path);

// The folder that holds the files of a share of this machine, \\server\share, made for a
// test, as a host path; "" where the host cannot make one: under Wine, a folder of the
// prefix, where Wine finds its shares (dosdevices/unc/server/share).
QByteArray makeShare(const QByteArray &server, const QByteArray &share);

// Gives the test a console of its own, for the rest of its run, with the output code page
// CODEPAGE, the standard handles left as they were; false where the host has no console
// code pages, or cannot make a console. consoleOutputCodePage is the console's output code
// page, 0 without one.
bool makeConsole(unsigned codePage);
unsigned consoleOutputCodePage();

// Lets every user write to an entry: the group and other write bits on POSIX, an ACE that
// grants Everyone write access on Windows. Returns 0 or an errno.
int letOthersWrite(const QByteArray &path);
// Who may reach an entry: on POSIX its permission bits in octal ("700"); on Windows the
// trustees its DACL allows, sorted, "SY" for the system, "BA" for the administrators, "user"
// for the process's user, after "P" where it takes nothing from its folder.
QString whoMayEnter(const QByteArray &path);
// Windows: whether a security descriptor in SDDL, "%U" standing for the process's user's
// SID, is taken as the user's alone (1) or not (0), for a process that runs as an
// administrator or not; -1 where the host has no such descriptors.
int judgedOwnOnly(QString sddl, bool administrator);
// Whether the tests run under Wine, which keeps of a file's security descriptor only what
// its POSIX mode can say.
bool underWine();
// Windows: whoMayEnter of the descriptor the program makes its records' folders with.
QString privateFolderAccess();

// Windows: gives a file the hidden attribute, and the system one where asked; ENOSYS
// elsewhere.
int hide(const QByteArray &path, bool system);
// Windows: opens a file without sharing it, as a scanner may, and keeps it so for that many
// milliseconds on a thread of its own; returns once it is open. ENOSYS elsewhere.
int holdFile(const QByteArray &path, int milliseconds);
// Windows: makes the empty folder `path` a junction to the folder `target`; ENOSYS elsewhere,
// and where the file system has no junctions (Wine).
int makeJunction(const QByteArray &target, const QByteArray &path);
// Windows: whether an entry with these attributes and this reparse tag is taken for a link
// (1) or for an ordinary file or folder (0); -1 elsewhere.
int takenForLink(quint32 attributes, quint32 tag);
// Windows: the number a file with this 128-bit id is known by; false elsewhere.
bool fileNumber(quint64 low, quint64 high, quint64 &number);

} // namespace testhost
