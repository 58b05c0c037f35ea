// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/processinfo.h"

#include <QCoreApplication>
#include <QFile>

namespace runtime {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

qint64 peakResidentKiB()
{
    // The memory's high-water mark of this process image. getrusage() would not do: on
    // Linux its figure survives exec, so a program started by a large one reports that
    // one's peak.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace runtime
