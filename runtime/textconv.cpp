// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/textconv.h"

#include "runtime/error.h"

namespace runtime {

QString lastChar(const QString &text)
{
    return text.right(1);
}

double toNumber(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok)
        raise(ErrorKind::NotANumber, Operation::ParseText, QString(), text);
    return value;
}

QString int16Text(qint16 value)
{
    return QString::number(value);
}

} // namespace runtime
