// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "install/installcar.h"
#include "records/store.h"
#include "runtime/asynctask.h"
#include "runtime/hostpath.h"

#include <QObject>

// An install on a thread of its own: a request goes in, and its progress and its end come
// out as signals, which reach receivers on the window's thread through its event loop.
// Destroying it waits for the install to end.
class InstallRun : public QObject
{
    Q_OBJECT

public:
    // With `records`, the install is recorded there, to be undone.
    InstallRun(InstallRequest request, runtime::FileSystem &files, runtime::HostPaths host,
               std::optional<records::Store> records, QObject *parent = nullptr);

    void start();

    // What the install did, once finished() has come.
    const InstallOutcome &outcome() const { return m_outcome; }

signals:
    void copying(int done, int total, const QString &file);
    void writingOut();
    void finished();

private:
    InstallOutcome run();

    InstallRequest m_request;
    runtime::FileSystem &m_files;
    runtime::HostPaths m_host;
    std::optional<records::Store> m_records;
    InstallOutcome m_outcome;
    runtime::AsyncTask m_install; // last: the run is waited for before the rest goes
};
