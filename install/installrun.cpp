#include "install/installrun.h"

#include "install/messages.h"

#include <QThread>
#include <exception>

namespace {

// Passes the install's progress on as the run's signals.
class Relay : public InstallProgress
{
public:
    explicit Relay(InstallRun &run) : m_run(run) {}
    void copying(int done, int total, const QString &file) override
    {
        emit m_run.copying(done, total, file);
    }
    void writingOut() override { emit m_run.writingOut(); }

private:
    InstallRun &m_run;
};

} // namespace

InstallRun::InstallRun(InstallRequest request, const CarTable &cars, runtime::FileSystem &files,
                       runtime::HostPaths host, QObject *parent)
    : QObject(parent), m_request(std::move(request)), m_cars(cars), m_files(files),
      m_host(std::move(host)), m_thread(QThread::create([this] { run(); }))
{
    // Emitted on the install's thread, delivered on this object's.
    connect(m_thread.get(), &QThread::finished, this, &InstallRun::finished);
}

InstallRun::~InstallRun()
{
    m_thread->wait();
}

void InstallRun::start()
{
    m_thread->start();
}

void InstallRun::run()
{
    Relay relay(*this);
    // A fault of the program is told as one, never as a wrong field, and never takes the
    // window with it.
    const auto brokenOff = [this](const QString &fault) {
        m_outcome = {};
        m_outcome.mapsFolder = m_request.mapsFolder;
        m_outcome.programFault = fault;
    };
    try {
        m_outcome = InstallCar(m_request, m_cars, m_files, m_host, &relay);
    } catch (const runtime::RuntimeError &fault) {
        brokenOff(messages::describe(fault.error()));
    } catch (const std::exception &fault) {
        brokenOff(QString::fromLocal8Bit(fault.what()));
    }
}
