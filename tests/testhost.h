// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests make that only some hosts have, one file of it per system, chosen when the
// project is configured as runtime/'s are: posixtesthost.cpp, windowstesthost.cpp.
#pragma once

#include <QByteArray>
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

// Windows: gives a file the hidden attribute, and the system one where asked; ENOSYS
// elsewhere.
int hide(const QByteArray &path, bool system);
// Windows: opens a file without sharing it, as a scanner may, and keeps it so for that many
// milliseconds on a thread of its own; returns once it is open. ENOSYS elsewhere.
int holdFile(const QByteArray &path, int milliseconds);
// Windows: makes the empty folder `path` a junction to the folder `target`; ENOSYS elsewhere,
// and where the file system has no junctions (Wine).
int makeJunction(const QByteArray &target, const QByteArray &path);

} // namespace testhost
