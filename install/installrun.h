#pragma once

#include "install/installcar.h"
#include "runtime/hostpath.h"

#include <QObject>
#include <memory>

class QThread;

// An install on a thread of its own: a request goes in, and its progress and its end come
// out as signals, which reach receivers on the window's thread through its event loop.
class InstallRun : public QObject
{
    Q_OBJECT

public:
    InstallRun(InstallRequest request, const CarTable &cars, runtime::FileSystem &files,
               runtime::HostPaths host, QObject *parent = nullptr);
    // Waits for the install to end.
    ~InstallRun() override;

    void start();

    // What the install did, once finished() has come.
    const InstallOutcome &outcome() const { return m_outcome; }

signals:
    void copying(int done, int total, const QString &file);
    void writingOut();
    void finished();

private:
    void run();

    InstallRequest m_request;
    CarTable m_cars;
    runtime::FileSystem &m_files;
    runtime::HostPaths m_host;
    InstallOutcome m_outcome;
    std::unique_ptr<QThread> m_thread;
};
