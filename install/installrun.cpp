// SPDX-License-Identifier: GPL-3.0-or-later
#include "install/installrun.h"

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

InstallRun::InstallRun(InstallRequest request, runtime::FileSystem &files, runtime::HostPaths host,
                       std::optional<records::Store> records, QObject *parent)
    : QObject(parent), m_request(std::move(request)), m_files(files), m_host(std::move(host)),
      m_records(std::move(records))
{}

void InstallRun::start()
{
    m_install = runtime::runAsync(
        this, [this] { return run(); },
        [this](InstallOutcome outcome) {
            m_outcome = std::move(outcome);
            emit finished();
        });
}

InstallOutcome InstallRun::run()
{
    Relay relay(*this);
    // A fault of the program is told as one, never as a wrong field, and never takes the
    // window with it.
    const auto brokenOff = [this](InstallOutcome::Fault fault) {
        InstallOutcome outcome;
        outcome.mapsFolder = m_request.mapsFolder;
        outcome.programFault = std::move(fault);
        return outcome;
    };
    try {
        return InstallCar(m_request, m_files, m_host, m_records ? &*m_records : nullptr, &relay);
    } catch (const runtime::RuntimeError &fault) {
        return brokenOff({fault.error(), {}});
    } catch (const std::exception &fault) {
        return brokenOff({std::nullopt, QString::fromLocal8Bit(fault.what())});
    }
}
