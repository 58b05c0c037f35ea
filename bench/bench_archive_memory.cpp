// SPDX-License-Identifier: GPL-3.0-or-later
// One install as the main window's button runs it, on a thread of its own and recorded to be
// undone, once the window is shown with its car list: prints the peak resident memory of the
// process idle with the window shown, that after the install, and the install's time:
//   <KiB idle> <KiB after> <milliseconds>
// Usage: bench_archive_memory GAME MODEL MAPS CARLIST
#include "forms/form1.h"
#include "install/installrun.h"
#include "runtime/hostfilesystem.h"
#include "runtime/processinfo.h"
#include "texts/messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Quillmere"_s);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: bench_archive_memory GAME MODEL MAPS CARLIST\n");
        return 2;
    }
    runtime::HostFileSystem files;
    const runtime::HostPaths host = runtime::HostPaths::ofProcess();
    Form1 window(files, host);
    window.loadCarList(args[4]);
    window.show();
    std::unique_ptr<InstallRun> run;
    qint64 idle = 0;
    QElapsedTimer clock;
    int status = 0;
    QTimer::singleShot(0, &app, [&] {
        window.grab();
        idle = runtime::peakResidentKiB();
        const InstallRequest request{
            args[1], args[2], args[3], Car{u"Bench"_s, u"bench"_s, 4}, {1, 1, 1, 1}};
        run = std::make_unique<InstallRun>(request, files, host,
                                           records::Store(files, host.dataFolder, host.user));
        QObject::connect(run.get(), &InstallRun::finished, &app, [&] {
            const double ms = clock.nsecsElapsed() / 1e6;
            if (!run->outcome().installed()) {
                std::fprintf(stderr, "%s\n", qUtf8Printable(closingMessage(run->outcome()).text));
                status = 1;
            }
            std::printf("%lld %lld %.1f\n", static_cast<long long>(idle),
                        static_cast<long long>(runtime::peakResidentKiB()), ms);
            app.quit();
        });
        clock.start();
        run->start();
    });
    const int exited = app.exec();
    return status ? status : exited;
}
