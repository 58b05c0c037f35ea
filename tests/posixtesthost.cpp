// SPDX-License-Identifier: GPL-3.0-or-later
#include "testhost.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace testhost {

int symlink(const QByteArray &target, const QByteArray &path)
{
    return ::symlink(target.constData(), path.constData()) == 0 ? 0 : errno;
}

int makePipe(const QByteArray &path)
{
    return ::mkfifo(path.constData(), 0600) == 0 ? 0 : errno;
}

int makeSocket(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof address.sun_path)
        return ENAMETOOLONG;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const int error =
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

QByteArray makeShare(const QByteArray &, const QByteArray &)
{
    return {}; // a POSIX host has no \\server\share of its own
}

// A terminal has no code page of its own: the program writes UTF-8 to it as it is.
bool makeConsole(unsigned)
{
    return false;
}

int letOthersWrite(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return errno;
    return ::chmod(path.constData(), (st.st_mode & 07777) | S_IWGRP | S_IWOTH) == 0 ? 0 : errno;
}

QString whoMayEnter(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? QString::number(st.st_mode & 07777, 8) : QString();
}

int judgedOwnOnly(QString, bool)
{
    return -1;
}

bool underWine()
{
    return false;
}

unsigned consoleOutputCodePage()
{
    return 0;
}

QString privateFolderAccess()
{
    return {};
}

int hide(const QByteArray &, bool)
{
    return ENOSYS;
}

int holdFile(const QByteArray &, int)
{
    return ENOSYS;
}

int makeJunction(const QByteArray &, const QByteArray &)
{
    return ENOSYS;
}

int takenForLink(quint32, quint32)
{
    return -1;
}

bool fileNumber(quint64, quint64, quint64 &)
{
    return false;
}

} // namespace testhost
