#include "runtime/textconv.h"

#include "runtime/runtimeerror.h"

using namespace Qt::StringLiterals;

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
        throw RuntimeError(u"«%1» не является числом"_s.arg(text));
    return value;
}

QString int16Text(qint16 value)
{
    return QString::number(value);
}

} // namespace runtime
