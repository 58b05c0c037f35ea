// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "records/undo.h"
#include "runtime/asynctask.h"
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
// first, with the space each record holds; buttons that undo the newest install of the
// chosen folder or all of them, or give up the chosen record; and what the last of these
// did. The work runs on a thread of its own and writes through `files`; the window waits for
// it before it closes.
class UndoWindow : public QWidget
{
    Q_OBJECT

public:
    UndoWindow(runtime::FileSystem &files, const runtime::HostPaths &host,
               QWidget *parent = nullptr);

    // The recorded installs, or why they cannot be read.
    struct Installs
    {
        records::Listing listing;
        std::optional<records::Error> error;
    };
    // What the work on the thread did.
    struct Done
    {
        QList<records::UndoOutcome> outcomes;
        std::optional<records::Store::Forgotten> forgotten;
        std::optional<records::Error> error;
        QString fault; // a fault of the program, as its exception said
        Installs after;
    };

public slots:
    void undoLast(); // of the chosen game folder
    void undoAll();
    void forgetChosen();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void start(const std::function<void(Done &)> &work, qint64 forgetting = 0);
    void undoWaiting();
    void finished(const Done &done, qint64 forgetting);
    void showInstalls(const Installs &installs);
    void enableButtons();
    qint64 chosen(int role) const;

    runtime::FileSystem &m_files;
    runtime::HostPaths m_host;
    records::Store m_store;
    bool m_closeRequested = false; // while working

    QTreeWidget *m_installs;
    QPushButton *m_undoLast;
    QPushButton *m_undoAll;
    QPushButton *m_forget;
    QPushButton *m_close;
    QPlainTextEdit *m_reportText;
    runtime::AsyncTask m_work; // while the work runs; last, so that it ends first
};
