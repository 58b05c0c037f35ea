// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/records.h"
#include "runtime/asynctask.h"
#include "runtime/error.h"
#include "runtime/hostpath.h"

#include <QList>
#include <QStringList>
#include <QWidget>
#include <optional>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
namespace runtime {
class FileSystem;
}

// The window that undoes installs: the recorded installs grouped by game folder, newest
// first, buttons that undo the newest install of the chosen folder or all of them, and what
// the last undo did. An undo runs on a thread of its own and writes through `files`; the
// window waits for it before it closes.
class UndoWindow : public QWidget
{
    Q_OBJECT

public:
    UndoWindow(runtime::FileSystem &files, const runtime::HostPaths &host,
               QWidget *parent = nullptr);

    // The recorded installs, or why they cannot be read.
    struct Installs
    {
        QList<records::InstallRecord> installs;
        QList<records::Unreadable> unreadable;
        std::optional<runtime::Error> error;
    };

public slots:
    void undoLast(); // of the chosen game folder
    void undoAll();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void startUndo(bool all);
    void undoWaiting();
    void undoFinished(const QStringList &report, const Installs &after);
    void showInstalls(const Installs &installs);
    void enableButtons();
    QByteArray chosenFolder() const;

    runtime::FileSystem &m_files;
    runtime::HostPaths m_host;
    bool m_closeRequested = false; // while undoing

    QTreeWidget *m_installs;
    QPushButton *m_undoLast;
    QPushButton *m_undoAll;
    QPushButton *m_close;
    QPlainTextEdit *m_reportText;
    runtime::AsyncTask m_undo; // while an undo runs; last, so that it ends first
};
