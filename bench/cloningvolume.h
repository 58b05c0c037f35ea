// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace bench {

// A small file system that clones files, made on a loop device and mounted: XFS with
// reflink=1, or btrfs. A watchdog shell, started before anything is
// made, unmounts it, detaches the loop device and removes the image once this process closes
// its end of the pipe: when the object is destroyed, and just the same when the benchmark
// fails or is killed.
class CloningVolume
{
public:
    // Why the volume cannot be made here; empty when it can.
    static QString unavailable(const QString &type);

    // Makes the image and the mount point in `dir`.
    CloningVolume(const QString &dir, const QString &type);
    ~CloningVolume();

    CloningVolume(const CloningVolume &) = delete;
    CloningVolume &operator=(const CloningVolume &) = delete;

    // Why the volume was not made; empty when it is mounted.
    QString error() const { return m_error; }
    QString path() const { return m_mountPoint; }
    QString device() const { return m_device; }

    static constexpr qint64 ImageSize = 1024 * 1024 * 1024;

private:
    static QString tool(const QString &name);
    bool run(const QString &name, const QStringList &arguments, QString *output = nullptr);

    QString m_image;
    QString m_mountPoint;
    QString m_device;
    QString m_error;
    QProcess m_watchdog;
};

} // namespace bench
