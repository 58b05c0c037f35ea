// SPDX-License-Identifier: GPL-3.0-or-later
#include "archivewriter.h"
#include "installfixture.h"

#include <QDirIterator>

using namespace Qt::StringLiterals;

namespace {

// The fixture with one colour ticked: every check passes.
struct Checked : Game
{
    Checked() { tick({1}); }
    // Where the car is: its folder, or a zip of it beside it (pack()).
    QByteArray car = "new";
    // The car's folder, as it is now, as the zip the request names.
    void pack()
    {
        QList<testarchive::Entry> entries;
        for (QDirIterator it(path("new"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString file = it.next();
            entries.append({QDir(path("new")).relativeFilePath(file).toUtf8(), read(file)});
        }
        QVERIFY(testarchive::write(hostPath("new.zip"), "zip", entries));
    }
    // The check that failed, -1 when none did.
    int check()
    {
        const auto failed = install().failedCheck;
        return failed ? int(*failed) : -1;
    }
};

} // namespace

class TestInstallChecks : public QObject
{
    Q_OBJECT

private slots:
    void eachCheckFailsAlone_data()
    {
        QTest::addColumn<int>("broken"); // the check, as int(Check): its entry in breaks
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("zip");         // the car read from a zip of its folder
        QTest::addColumn<QByteArray>("model"); // in the car, where not the broken entry's
        QTest::addColumn<QByteArray>("maps");
        for (const bool zip : {false, true}) {
            const auto row = [zip](const char *name, Check check, const QString &message,
                                   const QByteArray &model = {}, const QByteArray &maps = {}) {
                QTest::addRow("%s%s", name, zip ? ", in a zip" : "")
                    << int(check) << message << zip << model << maps;
            };
            row("game folder", Check::GameFolder, messages::BadGameFolder);
            row("model file", Check::ModelFile, messages::BadModelFile);
            row("maps folder", Check::MapsFolder, messages::BadMapsFolder);
            row("textures", Check::Textures, messages::NoTextures);
            row("car", Check::Car, messages::NoCar);
            row("colours", Check::Colours, messages::NoColour);
            row("model file through a file", Check::ModelFile, messages::BadModelFile,
                "/car.4ds/car.4ds");
            row("model file of another kind", Check::ModelFile, messages::BadModelFile, "/*.bmp");
            row("maps folder is a file", Check::MapsFolder, messages::BadMapsFolder, {},
                "/car.4ds");
            // Found case-blind, with Windows' separators, inside an archive too.
            row("colours, the car spelled otherwise", Check::Colours, messages::NoColour,
                "\\CAR.4DS", "\\maps\\");
        }
    }
    // Each input broken alone, and also together with every later one: the first failing
    // check is the one reported. The game folder is never read from an archive.
    void eachCheckFailsAlone()
    {
        QFETCH(int, broken);
        QFETCH(QString, message);
        QFETCH(bool, zip);
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, maps);
        // What breaks the input of each check, in the order they are made.
        const std::function<void(Checked &)> breaks[] = {
            [](Checked &f) {
                f.file("new/Game/a0.dta", "game");
                f.request.gameFolder = f.path(f.car == "new" ? "new" : "new.zip/Game");
            },
            [](Checked &f) { f.request.modelFile = f.path(f.car + "/none.4ds"); },
            [](Checked &f) { f.request.mapsFolder = f.path(f.car + "/Absent"); },
            [](Checked &f) {
                if (!f.request.mapsFolder.endsWith(u"Absent"_s)) { // broken, it stays so
                    f.file("new/Notes/readme.txt", "notes");
                    f.request.mapsFolder = f.path(f.car + "/Notes");
                }
            },
            [](Checked &f) { f.request.car.reset(); },
            [](Checked &f) { f.request.colourBoxes[0] = 0; },
        };
        for (bool laterBroken : {false, true}) {
            Checked f;
            if (zip)
                f.car = "new.zip";
            f.request.modelFile = f.path(f.car + "/car.4ds");
            f.request.mapsFolder = f.path(f.car + "/Maps");
            for (int i = broken; i < (laterBroken ? 6 : broken + 1); ++i)
                breaks[i](f);
            if (!model.isEmpty())
                f.request.modelFile = f.path(f.car + model);
            if (!maps.isEmpty())
                f.request.mapsFolder = f.path(f.car + maps);
            if (zip)
                f.pack();
            const QByteArrayList before = host::snapshot(f.root);
            QCOMPARE(f.check(), broken);
            QCOMPARE(f.outcome.notWritten, QList<InstallOutcome::NotWritten>{});
            QCOMPARE(f.outcome.written, 0);
            QVERIFY(!f.outcome.archiveError);
            QCOMPARE(host::snapshot(f.root), before);
            QVERIFY(!f.outcome.colours);
            // Shown with the critical icon under the title "Ошибка".
            const ClosingMessage shown = closingMessage(f.outcome);
            QCOMPARE(shown.text, message);
            QCOMPARE(shown.style, int(runtime::vbCritical));
            QCOMPARE(shown.title, u"Ошибка"_s);
        }
    }

    void gameFolderMessageUsesLatinC()
    {
        QCOMPARE(messages::BadGameFolder.at(6), QChar(u'c'));
        QCOMPARE(messages::BadGameFolder.at(6).unicode(), char16_t(0x63));
    }

    void mapsFolderGainsSeparator()
    {
        Checked f;
        f.request.gameFolder.clear(); // the install stops at the first check
        const QString typed = f.request.mapsFolder;
        QCOMPARE(f.install().mapsFolder, typed + u"\\"_s);
        f.request.mapsFolder = f.outcome.mapsFolder;
        QCOMPARE(f.install().mapsFolder, typed + u"\\"_s);

        Checked empty;
        empty.request.gameFolder.clear();
        empty.request.mapsFolder.clear();
        QCOMPARE(empty.install().mapsFolder, u"\\"_s);
    }

    void gameFolderVariants()
    {
        Checked f;
        f.dir("Game2"), f.file("Game2/A0.DTA", "game");
        f.request.gameFolder = f.path("game2\\"); // ends in a separator, case differs
        f.request.colourBoxes[0] = 0;             // stop at the colour check
        QCOMPARE(f.check(), int(Check::Colours));

        // An empty field fails even where the current folder holds a0.dta.
        Checked g;
        g.host.currentFolder = g.hostPath("Game");
        g.request.gameFolder.clear();
        QCOMPARE(g.check(), int(Check::GameFolder));
    }

    void unreadyDriveFailsItsCheck()
    {
        Checked f;
        f.request.gameFolder = u"Q:\\Games\\Ortana"_s;
        QCOMPARE(f.check(), int(Check::GameFolder));

        // A drive without its root, "C:Games", is the drive's current folder: refused, on
        // any host.
        Checked relative;
        relative.request.gameFolder = u"C:Game"_s;
        QCOMPARE(relative.check(), int(Check::GameFolder));
    }

    // In Windows' style a name Windows keeps for a device, or one with ':' (a stream of a
    // file), fails the check of its field with the message of a wrong path. Such names can be
    // made on POSIX files, where POSIX' style passes them: the same paths, with the files
    // there.
    void windowsNamesFailTheirChecks_data()
    {
        QTest::addColumn<int>("check");
        QTest::addColumn<QByteArray>("made");  // the file or folder made for it
        QTest::addColumn<QByteArray>("typed"); // in the field
        QTest::addColumn<QString>("message");
        QTest::newRow("game folder named as a device") << int(Check::GameFolder) << "Con/a0.dta"_ba
                                                       << "Con"_ba << messages::BadGameFolder;
        QTest::newRow("model file's stream")
            << int(Check::ModelFile) << "new/car.4ds:Zone.Identifier"_ba
            << "new/car.4ds:Zone.Identifier"_ba << messages::BadModelFile;
        QTest::newRow("model file named as a port") << int(Check::ModelFile) << "new/com1.4ds"_ba
                                                    << "new/COM1.4ds"_ba << messages::BadModelFile;
        QTest::newRow("Maps folder named as a printer")
            << int(Check::MapsFolder) << "new/lpt1/skin.bmp"_ba
            << "new/lpt1"_ba << messages::BadMapsFolder;
        QTest::newRow("Maps folder in a folder named as a device")
            << int(Check::MapsFolder) << "aux.x/Maps/skin.bmp"_ba
            << "aux.x/Maps"_ba << messages::BadMapsFolder;
    }
    void windowsNamesFailTheirChecks()
    {
        SKIP_UNLESS_POSIX("names Windows keeps for devices, and ':' in a name");
        QFETCH(int, check);
        QFETCH(QByteArray, made);
        QFETCH(QByteArray, typed);
        QFETCH(QString, message);
        for (const auto style : {runtime::PathStyle::Posix, runtime::PathStyle::Windows}) {
            Checked f;
            f.host.style = style;
            f.file(made, "x");
            QString &field = check == int(Check::GameFolder)  ? f.request.gameFolder
                             : check == int(Check::ModelFile) ? f.request.modelFile
                                                              : f.request.mapsFolder;
            field = f.path(typed);
            if (style == runtime::PathStyle::Posix) {
                QCOMPARE(f.check(), -1);
                continue;
            }
            QCOMPARE(f.check(), check);
            QCOMPARE(closingMessage(f.outcome).text, message);
        }
    }

    void checksThatCannotBeMadeFail()
    {
        Checked f;
        f.request.modelFile = f.path("ne*/car.4ds"); // a wildcard in a folder is an error
        QCOMPARE(f.check(), int(Check::ModelFile));

        Checked nul;
        nul.request.mapsFolder += QChar(0);
        QCOMPARE(nul.check(), int(Check::MapsFolder));
    }

    void mapsFolderKinds()
    {
        Checked hidden;
        hidden.dir("new/Hidden"), hidden.texture("new/Hidden", ".car.bmp");
        hidden.request.mapsFolder = hidden.path("new/Hidden");
        QCOMPARE(hidden.check(), int(Check::MapsFolder));

        Checked subfolders;
        subfolders.dir("new/Sub"), subfolders.dir("new/Sub/inner");
        subfolders.texture("new/Sub/inner", "car.bmp");
        subfolders.request.mapsFolder = subfolders.path("new/Sub");
        QCOMPARE(subfolders.check(), int(Check::MapsFolder));

        for (const char *texture : {"skin.TGA", "skin.bmp"}) {
            Checked one;
            one.dir("new/One"), one.texture("new/One", texture);
            one.request.mapsFolder = one.path("new/One");
            one.request.colourBoxes[0] = 0;
            QCOMPARE(one.check(), int(Check::Colours));
        }
    }

    void modelFileWildcard()
    {
        Checked f;
        f.request.modelFile = f.path("new/*.4DS");
        f.request.colourBoxes[0] = 0;
        QCOMPARE(f.check(), int(Check::Colours));
    }

    void coloursRecorded()
    {
        Checked f;
        f.request.colourBoxes[0] = 0;
        f.request.colourBoxes[1] = 1;
        f.request.colourBoxes[3] = 1;
        f.install();
        QCOMPARE(f.outcome.colours, (ColourSelection{false, true, false, true, false}));
    }
};

QTEST_GUILESS_MAIN(TestInstallChecks)
#include "tst_installchecks.moc"
