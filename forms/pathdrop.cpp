// SPDX-License-Identifier: GPL-3.0-or-later
#include "forms/pathdrop.h"

#include "runtime/hostpath.h"

#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSysInfo>

using namespace Qt::StringLiterals;

namespace {

bool isLocalHost(const QString &host)
{
    return host.isEmpty() || host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

// Watches one field's drag and drop events: URLs are taken here, text is left to the field.
class PathDropFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return false;
        auto *drop = static_cast<QDropEvent *>(event);
        if (!drop->mimeData()->hasUrls())
            return false;
        const std::optional<QString> path = droppedPath(drop->mimeData()->urls());
        if (!path) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        if (type == QEvent::Drop)
            static_cast<QLineEdit *>(watched)->setText(*path);
        return true;
    }
};

} // namespace

std::optional<QString> droppedPath(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return std::nullopt;
    const QUrl &url = urls.first();
    if (!url.isLocalFile() || !isLocalHost(url.host()))
        return std::nullopt;
    // The path's bytes as the file manager sent them, percent-encoded: QUrl's decoding
    // would turn bytes that are no UTF-8 into replacement characters.
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty() || bytes.contains('\0'))
        return std::nullopt;
    return runtime::decodeName(bytes);
}

void acceptPathDrops(const QList<QLineEdit *> &fields)
{
    for (QLineEdit *field : fields)
        field->installEventFilter(new PathDropFilter(field));
}
