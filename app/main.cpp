// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"
#include "forms/form1.h"
#include "forms/formsupport.h"
#include "forms/undowindow.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/messagebox.h"
#include "runtime/processinfo.h"
#include "runtime/widgetfiledialog.h"
#include "runtime/widgetmessagebox.h"
#include "texts/messages.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTranslator>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // Arguments are host bytes: a folder named in any encoding is found as it is. They are
    // read before any window system is asked for: a command that opens no window needs no
    // display, and neither does a mistake.
    // The installer and the uninstaller wait for every copy of the program to end.
    runtime::announceRunning();
    // Files given for the window are looked at first: one it cannot take is a mistake, told
    // with the usage, before any window opens.
    runtime::HostFileSystem files;
    const Command command = checkGiven(parseCommandLine(runtime::commandArguments(argc, argv)),
                                       files, runtime::HostPaths::ofProcess());
    if (!command.opensWindow()) {
        runtime::attachConsole();
        QCoreApplication core(argc, argv);
        QTextStream out(stdout), err(stderr);
        return runCommand(command, files, runtime::HostPaths::ofProcess(), out, err);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Quillmere"_s);
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));
    QApplication::setOrganizationName(u"dunhallow"_s);
    // The desktop finds the menu entry, and with it the icon, by this name.
    QApplication::setDesktopFileName(QStringLiteral(QUILLMERE_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" QUILLMERE_ID ".svg")));
    QApplication::setFont(windowFont(
        QApplication::font(), {u"Segoe UI"_s, u"Tahoma"_s, u"Microsoft Sans Serif"_s, u"Arial"_s,
                               u"DejaVu Sans"_s, u"Liberation Sans"_s, u"Noto Sans"_s}));

    // The windows speak Russian whatever the desktop's language, and so do Qt's own
    // buttons and dialogs in them.
    QTranslator qtTranslator;
    if (qtTranslator.load(u"qtbase_ru"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    runtime::WidgetMessageBox messageBox;
    runtime::setMessageBoxService(&messageBox);
    runtime::WidgetFileDialog fileDialog;
    runtime::setFileDialogService(&fileDialog);

    // Installs write to the host's file system; paths are resolved against the host's state
    // as the program found it at start.

    // The undo window needs no car list.
    if (command.kind == Command::UndoWindow) {
        UndoWindow window(files, runtime::HostPaths::ofProcess());
        window.show();
        return app.exec();
    }

    Form1 form(files, runtime::HostPaths::ofProcess());
    try {
        form.loadCarList(carListPath());
    } catch (const runtime::RuntimeError &error) {
        runtime::MsgBox(messages::carListError(error.error()), runtime::vbCritical,
                        messages::ErrorTitle);
        return 1;
    }
    form.show();
    for (const QString &file : command.files)
        form.openGiven(file);
    return app.exec();
}
