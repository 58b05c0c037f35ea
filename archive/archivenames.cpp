// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archivenames.h"

#include "runtime/hostpath.h"
#include "runtime/textconv.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace archives {

QString decodeBytes(QByteArrayView raw, NameBytes from)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(raw);
    if (!utf8.hasError())
        return text;
    return from == NameBytes::Zip ? runtime::decodeCp866(raw) : runtime::decodeWindows1251(raw);
}

std::optional<QStringList> memberComponents(const QString &path)
{
    const auto isSeparator = [](QChar c) {
        return c == u'/' || c == u'\\';
    };
    if (path.isEmpty() || isSeparator(path.front()))
        return std::nullopt;
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter())
        return std::nullopt;
    QStringList components;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i]))
            continue;
        const QStringView name = QStringView(path).sliced(start, i - start);
        start = i + 1;
        if (name.isEmpty() || name == u".")
            continue;
        if (name == u".." || runtime::isReservedName(name))
            return std::nullopt;
        for (const QChar c : name) {
            if (c.unicode() < 0x20 || u"<>\"|?*"_s.contains(c))
                return std::nullopt;
        }
        components.append(name.toString());
    }
    if (components.isEmpty())
        return std::nullopt;
    return components;
}

} // namespace archives
