// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/processinfo.h"

#include <QCoreApplication>

namespace runtime {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace runtime
