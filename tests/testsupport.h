// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/messagebox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>
#include <QTest>

// Records message boxes instead of showing them.
class RecordingMessageBox : public runtime::MessageBoxService
{
public:
    struct Shown
    {
        QString text;
        int style;
        QString title;
    };

    RecordingMessageBox() { m_previous = runtime::setMessageBoxService(this); }
    ~RecordingMessageBox() override { runtime::setMessageBoxService(m_previous); }

    int show(const QString &text, int style, const QString &title) override
    {
        shown.append({text, style, title});
        return runtime::vbOK;
    }

    QList<Shown> shown;

private:
    runtime::MessageBoxService *m_previous;
};

// A folder tree in a temporary folder, built by relative paths with "/" separators.
class TempTree
{
public:
    TempTree() { QVERIFY(m_dir.isValid()); }

    QString path(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? m_dir.path() : m_dir.path() + QLatin1Char('/') + relative;
    }

    QString file(const QString &relative, const QByteArray &content = "x") const
    {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).path());
        QFile f(full);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(full));
        return full;
    }

    QString dir(const QString &relative) const
    {
        const QString full = path(relative);
        QDir().mkpath(full);
        return full;
    }

    static QByteArray read(const QString &file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // Every entry under the tree, relative, sorted: the whole state of the tree.
    QStringList entries() const
    {
        QStringList result;
        collect(path(), QString(), result);
        result.sort();
        return result;
    }

private:
    static void collect(const QString &full, const QString &relative, QStringList &out)
    {
        const auto infos = QDir(full).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                    QDir::NoDotAndDotDot);
        for (const QFileInfo &info : infos) {
            const QString rel =
                relative.isEmpty() ? info.fileName() : relative + u'/' + info.fileName();
            out.append(rel);
            if (info.isDir() && !info.isSymLink())
                collect(info.filePath(), rel, out);
        }
    }

    QTemporaryDir m_dir;
};
