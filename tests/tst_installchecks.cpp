#include "installfixture.h"

using namespace Qt::StringLiterals;

namespace {

// The fixture with one colour ticked: every check passes.
struct Checked : Game
{
    Checked() { tick({1}); }
    QString check() { return install().failedCheck; }
};

} // namespace

class TestInstallChecks : public QObject
{
    Q_OBJECT

private slots:
    void eachCheckFailsAlone_data()
    {
        QTest::addColumn<int>("broken");
        QTest::addColumn<QString>("message");
        QTest::newRow("game folder") << 0 << messages::BadGameFolder;
        QTest::newRow("model file") << 1 << messages::BadModelFile;
        QTest::newRow("maps folder") << 2 << messages::BadMapsFolder;
        QTest::newRow("textures") << 3 << messages::NoTextures;
        QTest::newRow("car") << 4 << messages::NoCar;
        QTest::newRow("colours") << 5 << messages::NoColour;
    }
    // Each input broken alone, and also together with every later one: the first failing
    // check is the one reported.
    void eachCheckFailsAlone()
    {
        QFETCH(int, broken);
        QFETCH(QString, message);
        for (bool laterBroken : {false, true}) {
            Checked f;
            auto breakInput = [&](int which) {
                switch (which) {
                case 0:
                    f.form.text1 = f.path("new");
                    break;
                case 1:
                    f.form.text2 = f.path("new/none.4ds");
                    break;
                case 2:
                    f.form.text3 = f.path("cwd");
                    break;
                case 3: // a Maps folder already broken stays so
                    if (broken != 2) {
                        f.form.text3 = f.path("new/Notes");
                        f.dir("new/Notes"), f.file("new/Notes/readme.txt", "notes");
                    }
                    break;
                case 4:
                    f.form.listIndex = -1;
                    break;
                case 5:
                    f.form.checks[0] = 0;
                    break;
                }
            };
            breakInput(broken);
            if (laterBroken) {
                for (int later = broken + 1; later <= 5; ++later)
                    breakInput(later);
            }
            const QByteArrayList before = host::snapshot(f.root);
            QCOMPARE(f.check(), message);
            QCOMPARE(f.outcome.notWritten, QList<InstallOutcome::NotWritten>{});
            QCOMPARE(f.outcome.written, 0);
            QCOMPARE(host::snapshot(f.root), before);
            QCOMPARE(f.selected, ColourSelection{});
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
        f.form.text1.clear(); // the install stops at the first check
        const QString typed = f.form.text3;
        f.install();
        QCOMPARE(f.form.text3, typed + u"\\"_s);
        f.install();
        QCOMPARE(f.form.text3, typed + u"\\"_s);

        Checked empty;
        empty.form.text1.clear();
        empty.form.text3.clear();
        empty.install();
        QCOMPARE(empty.form.text3, u"\\"_s);
    }

    void gameFolderVariants()
    {
        Checked f;
        f.dir("Game2"), f.file("Game2/A0.DTA", "game");
        f.form.text1 = f.path("game2\\"); // ends in a separator, case differs
        f.form.checks[0] = 0;             // stop at the colour check
        QCOMPARE(f.check(), messages::NoColour);

        // An empty field fails even where the current folder holds a0.dta.
        Checked g;
        QVERIFY(QDir::setCurrent(g.path("Game")));
        g.form.text1.clear();
        QCOMPARE(g.check(), messages::BadGameFolder);
    }

    void unreadyDriveFailsItsCheck()
    {
        Checked f;
        f.form.text1 = u"Q:\\Games\\Ortana"_s;
        QCOMPARE(f.check(), messages::BadGameFolder);
    }

    void checksThatCannotBeMadeFail()
    {
        Checked f;
        f.form.text2 = f.path("ne*/car.4ds"); // a wildcard in a folder is an error
        QCOMPARE(f.check(), messages::BadModelFile);

        Checked nul;
        nul.form.text3 += QChar(0);
        QCOMPARE(nul.check(), messages::BadMapsFolder);
    }

    void mapsFolderKinds()
    {
        Checked hidden;
        hidden.dir("new/Hidden"), hidden.texture("new/Hidden", ".car.bmp");
        hidden.form.text3 = hidden.path("new/Hidden");
        QCOMPARE(hidden.check(), messages::BadMapsFolder);

        Checked subfolders;
        subfolders.dir("new/Sub"), subfolders.dir("new/Sub/inner");
        subfolders.texture("new/Sub/inner", "car.bmp");
        subfolders.form.text3 = subfolders.path("new/Sub");
        QCOMPARE(subfolders.check(), messages::BadMapsFolder);

        for (const char *texture : {"skin.TGA", "skin.bmp"}) {
            Checked one;
            one.dir("new/One"), one.texture("new/One", texture);
            one.form.text3 = one.path("new/One");
            one.form.checks[0] = 0;
            QCOMPARE(one.check(), messages::NoColour);
        }
    }

    void modelFileWildcard()
    {
        Checked f;
        f.form.text2 = f.path("new/*.4DS");
        f.form.checks[0] = 0;
        QCOMPARE(f.check(), messages::NoColour);
    }

    void coloursRecorded()
    {
        Checked f;
        f.form.checks[0] = 0;
        f.form.checks[1] = 1;
        f.form.checks[3] = 1;
        f.selected = {true, true, true, true, false};
        f.install();
        QCOMPARE(f.selected, (ColourSelection{false, true, false, true, false}));
    }
};

QTEST_GUILESS_MAIN(TestInstallChecks)
#include "tst_installchecks.moc"
