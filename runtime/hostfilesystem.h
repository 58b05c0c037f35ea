// SPDX-License-Identifier: GPL-3.0-or-later
// The file system of the host the program is built for, HostFileSystem: every operation of
// FileSystem through the host's own calls. Each platform defines it in its folder:
//   PosixFileSystem    runtime/posix/: posixfilesystem.cpp, and linux.cpp for Linux's calls;
//                      posixowner.cpp for who may reach the records
//   WindowsFileSystem  runtime/windows/, through the wide-character calls; paths are UTF-8,
//                      long ones passed on in the \\?\ form; windowsowner.cpp for who may
//                      reach the records
#pragma once

#include "runtime/filesystem.h"

namespace runtime {

#ifdef Q_OS_WIN
class WindowsFileSystem : public FileSystem
#else
class PosixFileSystem : public FileSystem
#endif
{
public:
    int open(const QByteArray &path, Fd &file) override;
    int openEntry(const QByteArray &path, Fd &file) override;
    int status(const QByteArray &path, FileStatus &status) override;
    int entryStatus(const QByteArray &path, FileStatus &status) override;
    int status(const Fd &file, FileStatus &status) override;
    int statusOnVolume(const Fd &file, quint64 device, FileStatus &status) override;
    int access(const QByteArray &path) override;
    int createTemporaryAt(const Fd &folder, const QByteArray &destination, QByteArray &path,
                          bool &named, Fd &file) override;
    int lock(const Fd &file) override;
    int copy(const Fd &from, const Fd &to, qint64 size, bool &cloned) override;
    int setMode(const Fd &file, quint32 permissions) override;
    int setOwner(const Fd &file, quint32 owner, quint32 group) override;
    int setModified(const Fd &file, qint64 modified) override;
    int flushFile(const Fd &file) override;
    int readAt(const Fd &file, qint64 offset, char *buffer, qint64 size, qint64 &got) override;
    int listFolder(const QByteArray &path, FolderListing &listing) override;
    int flushFolder(const QByteArray &path) override;
    int flushFileSystem(const QByteArray &path) override;
    int renameTemporaryAt(const Fd &folder, const QByteArray &from, const Fd &file,
                          const QByteArray &to, bool replace) override;
    int remove(const QByteArray &path) override;
    int makeFolder(const QByteArray &path, quint32 permissions) override;
    int makePrivateFolder(const QByteArray &path) override;
    bool isOwnOnly(const Fd &entry, const FileStatus &status, quint32 user) override;
    int removeFolder(const QByteArray &path) override;
    int link(const QByteArray &from, const QByteArray &to) override;
    int create(const QByteArray &path, Fd &file) override;
    int write(const Fd &file, const QByteArray &data) override;
    int waitForLock(const Fd &file) override;
    std::size_t openFileBudget() override;
    bool transient(int error) const override;
    int openFolderAt(const Fd &folder, const QByteArray &name, Fd &opened) override;
    int openLinkedFolderAt(const Fd &folder, const QByteArray &name, Fd &opened) override;
    int entryStatusAt(const Fd &folder, const QByteArray &name, FileStatus &status) override;
    int openEntryAt(const Fd &folder, const QByteArray &name, Fd &file) override;
    int accessAt(const Fd &folder, const QByteArray &name) override;
    int removeAt(const Fd &folder, const QByteArray &name) override;
    int removeFolderAt(const Fd &folder, const QByteArray &name) override;
    int renameAt(const Fd &fromFolder, const QByteArray &from, const Fd &toFolder,
                 const QByteArray &to) override;
    int createAt(const Fd &folder, const QByteArray &name, quint32 permissions, Fd &file) override;
    int readFolder(const Fd &folder, QByteArrayList &names) override;
    int flushOpenFolder(const Fd &folder) override;
};

#ifdef Q_OS_WIN
using HostFileSystem = WindowsFileSystem;
#else
using HostFileSystem = PosixFileSystem;
#endif

} // namespace runtime
