#include "install/installcar.h"
#include "testsupport.h"

#include <memory>

using namespace Qt::StringLiterals;

// A game folder, a model file and a Maps folder that pass every check, and controls
// that point at them with one car and one colour chosen.
class CheckFixture
{
public:
    CheckFixture()
    {
        tree.file(u"Game/a0.dta"_s);
        tree.dir(u"Game/models"_s);
        tree.file(u"new/car.4ds"_s, "model");
        tree.file(u"new/Maps/car.bmp"_s, "texture");
        cars->CarName[0] = u"Bolt Ace"_s;
        cars->CarModel[0] = u"bolt"_s;
        cars->CarColours[0] = u"4"_s;
        cars->CarCount = 1;
        form.text1 = tree.path(u"Game"_s);
        form.text2 = tree.path(u"new/car.4ds"_s);
        form.text3 = tree.path(u"new/Maps"_s);
        form.listIndex = 0;
        form.checks[0] = 1;
    }

    // Runs the install and returns the message it showed first.
    QString install()
    {
        InstallCar(form, *cars, selected);
        return boxes.shown.isEmpty() ? QString() : boxes.shown.first().text;
    }

    TempTree tree;
    std::unique_ptr<CarTable> cars = std::make_unique<CarTable>();
    FakeControls form;
    ColourSelection selected{};
    RecordingMessageBox boxes;
};

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
            CheckFixture f;
            auto breakInput = [&](int which) {
                switch (which) {
                case 0:
                    f.form.text1 = f.tree.path(u"new"_s);
                    break;
                case 1:
                    f.form.text2 = f.tree.path(u"new/none.4ds"_s);
                    break;
                case 2:
                    f.form.text3 = f.tree.path(u"Game/models"_s);
                    break;
                case 3: // a Maps folder already broken stays so
                    if (broken != 2) {
                        f.tree.file(u"new/Maps2/readme.txt"_s);
                        f.form.text3 = f.tree.path(u"new/Maps2"_s);
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
            const QStringList before = f.tree.entries();
            QCOMPARE(f.install(), message);
            QCOMPARE(f.boxes.shown.size(), 1);
            QCOMPARE(f.boxes.shown[0].style, int(runtime::vbCritical));
            QCOMPARE(f.boxes.shown[0].title, u"Ошибка"_s);
            QCOMPARE(f.tree.entries(), before);
            QCOMPARE(f.selected, ColourSelection{});
        }
    }

    void gameFolderMessageUsesLatinC()
    {
        QCOMPARE(messages::BadGameFolder.at(6), QChar(u'c'));
        QCOMPARE(messages::BadGameFolder.at(6).unicode(), char16_t(0x63));
    }

    void mapsFolderGainsSeparator()
    {
        CheckFixture f;
        f.form.text1.clear(); // the install stops at the first check
        const QString typed = f.form.text3;
        f.install();
        QCOMPARE(f.form.text3, typed + u"\\"_s);
        f.install();
        QCOMPARE(f.form.text3, typed + u"\\"_s);

        CheckFixture empty;
        empty.form.text3.clear();
        empty.install();
        QCOMPARE(empty.form.text3, u"\\"_s);
    }

    void gameFolderVariants()
    {
        CheckFixture f;
        f.tree.file(u"Game2/A0.DTA"_s);
        f.form.text1 = f.tree.path(u"game2\\"_s); // ends in a separator, case differs
        f.form.checks[0] = 0;                     // stop at the colour check
        QCOMPARE(f.install(), messages::NoColour);

        // An empty field fails even where the current folder holds a0.dta.
        CheckFixture g;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(g.tree.path(u"Game"_s)));
        g.form.text1.clear();
        const QString shown = g.install();
        QDir::setCurrent(previous);
        QCOMPARE(shown, messages::BadGameFolder);
    }

    void unreadyDriveFailsItsCheck()
    {
        CheckFixture f;
        qputenv("WINEPREFIX", QFile::encodeName(f.tree.path(u"noprefix"_s)));
        f.form.text1 = u"Q:\\Games\\Ortana"_s;
        QCOMPARE(f.install(), messages::BadGameFolder);
        qunsetenv("WINEPREFIX");
    }

    void checksThatCannotBeMadeFail()
    {
        CheckFixture f;
        f.form.text2 = f.tree.path(u"ne*/car.4ds"_s); // a wildcard in a folder is an error
        QCOMPARE(f.install(), messages::BadModelFile);

        CheckFixture nul;
        nul.form.text3 += QChar(0);
        QCOMPARE(nul.install(), messages::BadMapsFolder);
    }

    void mapsFolderKinds()
    {
        CheckFixture hidden;
        hidden.tree.file(u"new/Hidden/.car.bmp"_s);
        hidden.form.text3 = hidden.tree.path(u"new/Hidden"_s);
        QCOMPARE(hidden.install(), messages::BadMapsFolder);

        CheckFixture subfolders;
        subfolders.tree.file(u"new/Sub/inner/car.bmp"_s);
        subfolders.form.text3 = subfolders.tree.path(u"new/Sub"_s);
        QCOMPARE(subfolders.install(), messages::BadMapsFolder);

        for (const QString &texture : {u"skin.TGA"_s, u"skin.bmp"_s}) {
            CheckFixture one;
            one.tree.file(u"new/One/"_s + texture);
            one.form.text3 = one.tree.path(u"new/One"_s);
            one.form.checks[0] = 0;
            QCOMPARE(one.install(), messages::NoColour);
        }
    }

    void modelFileWildcard()
    {
        CheckFixture f;
        f.form.text2 = f.tree.path(u"new/*.4DS"_s);
        f.form.checks[0] = 0;
        QCOMPARE(f.install(), messages::NoColour);
    }

    void coloursRecorded()
    {
        CheckFixture f;
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
