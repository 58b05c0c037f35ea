// SPDX-License-Identifier: GPL-3.0-or-later
// Starts one window, waits until it is shown with its content, and prints the time taken
// since the application object was made and the peak resident memory:
//   <microseconds> <KiB>
#include "runtime/processinfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#ifdef STARTUP_FORM
#include "forms/form1.h"
#include "runtime/hostfilesystem.h"

#include <QLibraryInfo>
#include <QTranslator>
#else
#include <QComboBox>
#endif

int main(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
#ifdef STARTUP_FORM
    // As the program starts: Qt's own texts in Russian, then the window.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    runtime::HostFileSystem files;
    Form1 window(files, runtime::HostPaths::ofProcess());
    window.loadCarList(QString::fromLocal8Bit(argc > 1 ? argv[1] : "cars.txt"));
#else
    QWidget window;
    auto *combo = new QComboBox(&window);
    combo->setGeometry(10, 10, 200, 24);
#ifdef STARTUP_TEXT
    // Showing any text at all loads the font database, which a bare window never does.
    combo->addItem(QStringLiteral("Машина"));
#endif
#endif
    window.show();
    // Shown means painted once: the first pass of the event loop after show(), with the
    // window rendered whole (the offscreen platform paints nothing by itself).
    QTimer::singleShot(0, &app, [&] {
        window.grab();
        std::printf("%lld %lld\n", static_cast<long long>(clock.nsecsElapsed() / 1000),
                    static_cast<long long>(runtime::peakResidentKiB()));
        app.quit();
    });
    return app.exec();
}
