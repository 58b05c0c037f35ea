// SPDX-License-Identifier: GPL-3.0-or-later
// One install of the bench's car, as the main window's button makes it, for a host where
// the bench's own program does not run (Windows, Wine): the model over the model files of
// all four colours in the game folder, the textures into its maps folder, recorded to be
// undone. Prints the milliseconds it took.
// Usage: bench_install_once GAME MODEL MAPS
#include "install/installcar.h"
#include "records/store.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "texts/messages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Quillmere"_s);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: bench_install_once GAME MODEL MAPS\n");
        return 2;
    }
    runtime::HostFileSystem files;
    const InstallRequest request{
        args[1], args[2], args[3], Car{u"Bench"_s, u"bench"_s, 4}, {1, 1, 1, 1}};
    // Recorded, as the program records it.
    const runtime::HostPaths host = runtime::HostPaths::ofProcess();
    const records::Store records(files, host.dataFolder, host.user);
    QElapsedTimer clock;
    clock.start();
    const InstallOutcome outcome = InstallCar(request, files, host, &records);
    const double ms = clock.nsecsElapsed() / 1e6;
    if (!outcome.installed()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(closingMessage(outcome).text));
        return 1;
    }
    std::printf("%.1f\n", ms);
    return 0;
}
