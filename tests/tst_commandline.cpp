// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/processinfo.h"
#include "testhost.h"
#include "testsupport.h"
#include "texts/messages.h"

#include <QTest>

using namespace Qt::StringLiterals;

// What the arguments ask for, and what a command that opens no window prints and returns;
// with no application object, as the program reads them before it makes one.
class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kind");          // Command::Kind
        QTest::addColumn<QString>("folder");    // the game folder given, "" for none
        QTest::addColumn<qint64>("number");     // an install's, where only a number is taken
        QTest::addColumn<QStringList>("files"); // for the window; "%1" is a folder of files
        const auto row = [](const char *name, const QStringList &arguments, Command::Kind kind,
                            const QString &folder = {}, qint64 number = 0,
                            const QStringList &files = {}) {
            QTest::newRow(name) << arguments << int(kind) << folder << number << files;
        };
        const auto window = [&](const char *name, const QStringList &files) {
            row(name, files, Command::MainWindow, {}, 0, files);
        };
        window("an archive", {u"%1/wren.ZIP"_s});
        window("a model and the game's folder", {u"%1/wren.4ds"_s, u"%1/Ortana"_s});
        window("a file named as an option, after --", {u"--"_s, u"%1/-wren.7z"_s});
        row("a file of no kind", {u"%1/readme.txt"_s}, Command::Mistake);
        row("a folder without the game", {u"%1"_s}, Command::Mistake);
        row("an archive among others", {u"%1/wren.ZIP"_s, u"%1/readme.txt"_s}, Command::Mistake);
        row("an option and a file", {u"--undo-window"_s, u"%1/wren.ZIP"_s}, Command::Mistake);
        row("nothing", {}, Command::MainWindow);
        row("a Qt option", {u"--platform"_s, u"offscreen"_s}, Command::MainWindow);
        row("a Qt option, one dash", {u"-platform"_s, u"offscreen"_s}, Command::MainWindow);
        row("Qt options with =", {u"-style=Fusion"_s, u"--reverse"_s}, Command::MainWindow);
        row("a bare --", {u"--"_s}, Command::MainWindow);
        row("undo window", {u"--undo-window"_s, u"--style"_s, u"Fusion"_s}, Command::UndoWindow);
        row("undo", {u"--undo"_s, u"C:\\Games\\Ortana"_s}, Command::Undo, u"C:\\Games\\Ortana"_s);
        row("undo of a folder named as an option", {u"--undo"_s, u"-platform"_s}, Command::Undo,
            u"-platform"_s);
        row("undo by number", {u"--undo-number"_s, u"12"_s}, Command::Undo, {}, 12);
        row("forget", {u"--forget"_s, u"3"_s}, Command::Forget, {}, 3);
        row("forget a word", {u"--forget"_s, u"three"_s}, Command::Mistake);
        row("undo number 0", {u"--undo-number"_s, u"0"_s}, Command::Mistake);
        row("installs", {u"--installs"_s}, Command::Installs);
        row("installs of a folder", {u"--installs"_s, u"Ortana"_s}, Command::Installs, u"Ortana"_s);
        row("help", {u"--help"_s}, Command::Help);
        row("version", {u"--version"_s}, Command::Version);
        row("one dash", {u"-undo"_s, u"Ortana"_s}, Command::Mistake);
        row("misspelt", {u"--undoo"_s, u"Ortana"_s}, Command::Mistake);
        row("installs of two folders", {u"--installs"_s, u"a"_s, u"b"_s}, Command::Mistake);
        row("undo without a folder", {u"--undo"_s}, Command::Mistake);
        row("undo of an empty name", {u"--undo"_s, u""_s}, Command::Mistake);
        row("undo and installs", {u"--undo"_s, u"a"_s, u"--installs"_s}, Command::Mistake);
        row("two undos", {u"--undo"_s, u"a"_s, u"--undo"_s, u"b"_s}, Command::Mistake);
        row("a word for the window", {u"Ortana"_s}, Command::Mistake);
        row("undo after --", {u"--"_s, u"--undo"_s, u"Ortana"_s}, Command::Mistake);
        row("a Qt option without its value", {u"-style"_s}, Command::Mistake);
    }
    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, kind);
        QFETCH(QString, folder);
        QFETCH(qint64, number);
        QFETCH(QStringList, files);
        TempTree tree;
        tree.file(u"wren.ZIP"_s);
        tree.file(u"-wren.7z"_s);
        tree.file(u"wren.4ds"_s);
        tree.file(u"readme.txt"_s);
        tree.file(u"Ortana/A0.dta"_s);
        for (QStringList *words : {&arguments, &files}) {
            for (QString &word : *words)
                word.replace(u"%1"_s, tree.path());
        }
        files.removeAll(u"--"_s);
        runtime::HostFileSystem host;
        const Command command = checkGiven(parseCommandLine(arguments), host, {});
        QCOMPARE(command.files, files);
        QCOMPARE(int(command.kind), kind);
        QCOMPARE(command.gameFolder.value_or(QString()), folder);
        QCOMPARE(command.number, number);
        if (kind != Command::Help && kind != Command::Version && kind != Command::Mistake)
            return;
        // The usage when asked for, and on a mistake, where it goes to stderr.
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        const int status = runCommand(command, host, {}, outStream, errStream);
        const QString usage = messages::Usage + u'\n';
        QCOMPARE(status, kind == Command::Mistake ? 3 : 0);
        QCOMPARE(out, kind == Command::Help ? usage
                      : kind == Command::Version
                          ? u"quillmere %1\n"_s.arg(QStringLiteral(QUILLMERE_VERSION))
                          : QString());
        QCOMPARE(err, kind == Command::Mistake ? usage : QString());
    }

    // The console a command prints to in UTF-8 is the shell's, and outlives the program: it
    // gets its code page back (Windows' consoles; a terminal has none).
    void consoleCodePageRestored()
    {
        if (!testhost::makeConsole(866))
            QSKIP("no console code pages here");
        runtime::attachConsole();
        const unsigned during = testhost::consoleOutputCodePage();
        runtime::restoreConsole();
        const unsigned after = testhost::consoleOutputCodePage();
        QCOMPARE(during, 65001u); // CP_UTF8
        QCOMPARE(after, 866u);
    }
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
