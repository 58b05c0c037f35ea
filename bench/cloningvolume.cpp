// SPDX-License-Identifier: GPL-3.0-or-later
#include "cloningvolume.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace bench {

QString CloningVolume::unavailable(const QString &type)
{
    if (::geteuid() != 0)
        return u"not run as root"_s;
    if (tool(u"mkfs."_s + type).isEmpty())
        return u"no mkfs.%1 (package %2)"_s.arg(type, type == u"xfs"_s ? u"xfsprogs"_s
                                                                       : u"btrfs-progs"_s);
    if (tool(u"losetup"_s).isEmpty())
        return u"no losetup"_s;
    return {};
}

CloningVolume::CloningVolume(const QString &dir, const QString &type)
    : m_image(dir + u"/%1.img"_s.arg(type)), m_mountPoint(dir + u"/"_s + type)
{
    static const QString watchdog = uR"(trap '' HUP INT TERM
cat >/dev/null
umount "$1" 2>/dev/null || umount --lazy "$1" 2>/dev/null
losetup --list --noheadings --output NAME --associated "$2" 2>/dev/null |
while read -r device; do losetup --detach "$device"; done
rm -f "$2"
rmdir "$1" 2>/dev/null
! mountpoint -q "$1" && [ ! -e "$2" ])"_s;
    m_watchdog.start(u"/bin/sh"_s, {u"-c"_s, watchdog, u"watchdog"_s, m_mountPoint, m_image});
    if (!m_watchdog.waitForStarted()) {
        m_error = u"cannot start the watchdog: %1"_s.arg(m_watchdog.errorString());
        return;
    }
    QFile image(m_image);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(ImageSize)) {
        m_error = u"cannot make %1: %2"_s.arg(m_image, image.errorString());
        return;
    }
    image.close();
    QDir().mkpath(m_mountPoint);
    QString device;
    if (run(u"losetup"_s, {u"--find"_s, u"--show"_s, m_image}, &device) &&
        run(u"mkfs."_s + type, type == u"xfs"_s
                                   ? QStringList{u"-q"_s, u"-m"_s, u"reflink=1"_s, device}
                                   : QStringList{u"-q"_s, device}) &&
        run(u"mount"_s, {device, m_mountPoint}))
        m_device = device;
}

CloningVolume::~CloningVolume()
{
    m_watchdog.closeWriteChannel();
    if (!m_watchdog.waitForFinished(-1) || m_watchdog.exitCode() != 0)
        std::fprintf(stderr, "could not remove %s\n", qPrintable(m_mountPoint));
}

QString CloningVolume::tool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s})
                           : found;
}

bool CloningVolume::run(const QString &name, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.start(tool(name), arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = u"%1 failed (exit code %2) %3"_s.arg(name)
                      .arg(process.exitCode())
                      .arg(QString::fromLocal8Bit(process.readAllStandardError().trimmed()));
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput().trimmed());
    return true;
}

} // namespace bench
