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
    PathDropFilter(QObject *parent, runtime::PathStyle style,
                   std::function<bool(const QString &)> taken)
        : QObject(parent), m_style(style), m_taken(std::move(taken))
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
            return false;
        auto *drop = static_cast<QDropEvent *>(event);
        if (!drop->mimeData()->hasUrls())
            return false;
        const std::optional<QString> path = droppedPath(drop->mimeData()->urls(), m_style);
        if (!path) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        if (type == QEvent::Drop && !(m_taken && m_taken(*path)))
            static_cast<QLineEdit *>(watched)->setText(*path);
        return true;
    }

private:
    runtime::PathStyle m_style;
    std::function<bool(const QString &)> m_taken;
};

// Whether a path starts with a drive letter, "/C:/", as a Windows URL has it.
bool startsWithDrive(const QByteArray &path)
{
    const char letter = path.size() >= 3 ? char(path[1] | 0x20) : 0;
    return letter >= 'a' && letter <= 'z' && path[0] == '/' && path[2] == ':' &&
           (path.size() == 3 || path[3] == '/');
}

} // namespace

std::optional<QString> droppedPath(const QList<QUrl> &urls, runtime::PathStyle style)
{
    if (urls.isEmpty())
        return std::nullopt;
    const QUrl &url = urls.first();
    const bool windows = style == runtime::PathStyle::Windows;
    // On Windows, this machine's name is a share's server like any other.
    const bool local = windows ? url.host().isEmpty() ||
                                     url.host().compare(u"localhost"_s, Qt::CaseInsensitive) == 0
                               : isLocalHost(url.host());
    if (!url.isLocalFile() || (!local && !windows))
        return std::nullopt;
    // The path's bytes as the file manager sent them, percent-encoded: QUrl's decoding
    // would turn bytes that are no UTF-8 into replacement characters.
    QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty() || bytes.contains('\0'))
        return std::nullopt;
    if (!windows)
        return runtime::decodeName(bytes);
    // Explorer's URLs for a drive's file and a share's, file:///C:/x and file://server/share/x
    // (RFC 8089, appendix E: "DOS and Windows Drive Letters", "UNC Strings").
    if (!local)
        bytes = "//" + runtime::encodeName(url.host()) + bytes;
    else if (startsWithDrive(bytes))
        bytes.remove(0, 1);
    return runtime::shownPath(runtime::decodeName(bytes), style);
}

void acceptPathDrops(const QList<QLineEdit *> &fields, runtime::PathStyle style,
                     std::function<bool(const QString &path)> taken)
{
    for (QLineEdit *field : fields)
        field->installEventFilter(new PathDropFilter(field, style, taken));
}
