// SPDX-License-Identifier: GPL-3.0-or-later
#include "installfixture.h"

using namespace Qt::StringLiterals;

// Whatever the player types into a path field, the install either stops at the check
// that owns the problem, with its message and without touching a file, or installs the
// car as asked. Fixtures are made on host names as bytes, so that names which are not UTF-8
// are exactly what the program meets.

namespace {

// Windows-1251 names, as an archive packed on Windows unpacks them on Linux.
const QByteArray RawGame = "\xC8\xE3\xF0\xE0";                // "Игра"
const QByteArray RawModel = "\xEC\xEE\xE4\xE5\xEB\xFC.4ds";   // "модель.4ds"
const QByteArray RawMapsFolder = "\xCA\xE0\xF0\xF2\xFB";      // "Карты"
const QByteArray RawTexture = "\xCC\xE0\xF8\xE8\xED\xE0.bmp"; // "Машина.bmp"
const QByteArray RawOnlyTexture = "\xCB\xE8\xF1\xF2.TGA";     // "Лист.TGA"
const QByteArray RawNotes = "\xFF\xFE.txt";
// A game folder whose path is longer than Windows' 260 characters, in Cyrillic.
const QByteArray DeepGame = QString(u"Папка с играми/"_s.repeated(22) + u"Ортана"_s).toUtf8();

// The one entry of a folder named `name` in any (ASCII) case, "" when there is none.
QByteArray entryCaseBlind(const QByteArray &folder, const QByteArray &name)
{
    QByteArray found;
    for (const QByteArray &entry : host::names(folder)) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            if (!found.isEmpty())
                return "<ambiguous>";
            found = entry;
        }
    }
    return found;
}

QString separators(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += i % 2 ? u'\\' : u'/';
    return text;
}

// Every kind of game folder, model file and Maps folder the rows point at; C: is the
// tree, Q: a drive that is not there. Names Windows cannot hold and links are made on POSIX
// hosts alone.
struct OddInputs : Game
{
    OddInputs()
    {
        dir("Fake"), dir("Fake/a0.dta");
        dir(DeepGame), file(DeepGame + "/a0.dta", "game");
        dir("new/Nested"), dir("new/Nested/x.bmp");
        tick({1});
        if (!testhost::posix)
            return;
        dir("   "), file("   /a0.dta", "game");
        dir("cwd/   "), texture("cwd/   ", "skin.bmp"); // what a blank Maps field would name
        dir(RawGame), file(RawGame + "/A0.DTA", "game");

        file("new/" + RawModel, "raw model");
        dir("new/  Maps  "), texture("new/  Maps  ", "skin.bmp");
        dir("new/" + RawMapsFolder), texture("new/" + RawMapsFolder, "skin.bmp");
        dir("new/RawMaps"), texture("new/RawMaps", RawTexture);
        texture("new/RawMaps", "ok.tga"), texture("new/RawMaps", RawNotes);
        dir("new/RawOnly"), texture("new/RawOnly", RawOnlyTexture);
        dir("new/LoopMaps"), texture("new/LoopMaps", "car.bmp");
        link("loop.bmp", "new/LoopMaps/loop.bmp"), link("self", "new/LoopMaps/self");
        link("b.tga", "new/LoopMaps/a.tga"), link("a.tga", "new/LoopMaps/b.tga");
        dir("new/OnlyLoops"), link("loop.bmp", "new/OnlyLoops/loop.bmp");
        link("b.tga", "new/OnlyLoops/a.tga"), link("a.tga", "new/OnlyLoops/b.tga");
    }
};

enum Field
{
    GameField = 1,
    ModelField,
    MapsField
};

const char *const FieldNames[] = {"", "game", "model", "maps"};

// What of POSIX files the rows being added need, if anything.
const char *needs = nullptr;

void fails(Field field, const char *what, const QString &text, Check check)
{
    QTest::addRow("%s: %s", FieldNames[field], what)
        << int(field) << text << int(check) << QByteArray() << QByteArray() << QByteArrayList()
        << QByteArray(needs);
}

void installs(Field field, const char *what, const QString &text,
              const QByteArrayList &textures = {"body.bmp", "glass.tga", "readme.txt"},
              const QByteArray &game = "Game", const QByteArray &model = "new model")
{
    QTest::addRow("%s: %s", FieldNames[field], what)
        << int(field) << text << -1 << game << model << textures << QByteArray(needs);
}

// Adds the rows of `add` as ones that need what `what` says of POSIX files.
void posixRows(const char *what, const std::function<void()> &add)
{
    needs = what;
    add();
    needs = nullptr;
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void matrix_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text"); // "<root>" stands for the tree
        QTest::addColumn<int>("check");    // the check that fails, as int(Check); -1: installs
        // When it installs: the game folder, the model file's bytes, the textures.
        QTest::addColumn<QByteArray>("game");
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArrayList>("textures");
        QTest::addColumn<QByteArray>("posix"); // what of POSIX files the row needs

        const QString nul(QChar(0));
        const QString longName(10000, u'x');
        const QString deep = u"d/"_s.repeated(5000);
        const QString seps = separators(10000);
        const QString dots = u"./"_s.repeated(5000);

        fails(GameField, "empty", QString(), Check::GameFolder);
        fails(GameField, "spaces", u"   "_s, Check::GameFolder);
        posixRows("a name of spaces", [] {
            installs(GameField, "folder named spaces", u"<root>/   "_s,
                     {"body.bmp", "glass.tga", "readme.txt"}, "   ");
        });
        fails(GameField, "NUL at end", u"<root>/Game"_s + nul, Check::GameFolder);
        fails(GameField, "NUL inside", u"<root>/Ga"_s + nul + u"me"_s, Check::GameFolder);
        fails(GameField, "10000-character name", u"<root>/"_s + longName, Check::GameFolder);
        fails(GameField, "10000 characters deep", u"<root>/"_s + deep, Check::GameFolder);
        // Longer than any host path, though every step exists; Windows takes the dots out of a
        // path by its text, which leaves it short.
        posixRows("a path as long as its text", [&] {
            fails(GameField, "10000 characters of dots", u"<root>/"_s + dots + u"Game"_s,
                  Check::GameFolder);
        });
        installs(GameField, "10000 separators", u"<root>"_s + seps + u"Game"_s);
        fails(GameField, "star in folder", u"<root>/Ga*e"_s, Check::GameFolder);
        fails(GameField, "question mark in folder", u"<root>/G?me\\"_s, Check::GameFolder);
        installs(GameField, "dot dot", u"<root>/new/../Game"_s);
        installs(GameField, "dot dot from models", u"<root>/Game/models/.."_s);
        fails(GameField, "dot dot to the tree", u"<root>/Game/.."_s, Check::GameFolder);
        fails(GameField, "dot dot after a file", u"<root>/Game/a0.dta/.."_s, Check::GameFolder);
        fails(GameField, "dot dot alone", u".."_s, Check::GameFolder);
        fails(GameField, "no drive Q:", u"Q:\\Game"_s, Check::GameFolder);
        fails(GameField, "bare drive Q:", u"q:"_s, Check::GameFolder);
        posixRows("Wine's drive C:", [] { installs(GameField, "drive C:", u"C:\\game"_s); });
        fails(GameField, "file as folder", u"<root>/Game/a0.dta"_s, Check::GameFolder);
        fails(GameField, "a0.dta is a folder", u"<root>/Fake"_s, Check::GameFolder);
        posixRows("links and names that are no UTF-8", [] {
            fails(GameField, "link loop", u"<root>/new/LoopMaps/self"_s, Check::GameFolder);
            installs(GameField, "name not UTF-8", u"<root>/"_s + runtime::decodeName(RawGame),
                     {"body.bmp", "glass.tga", "readme.txt"}, RawGame);
        });
        installs(GameField, "over 300 characters deep", u"<root>\\"_s + QString::fromUtf8(DeepGame),
                 {"body.bmp", "glass.tga", "readme.txt"}, DeepGame);

        fails(ModelField, "empty", QString(), Check::ModelFile);
        fails(ModelField, "spaces", u"   "_s, Check::ModelFile);
        fails(ModelField, "NUL", u"<root>/new/car.4ds"_s + nul, Check::ModelFile);
        fails(ModelField, "10000-character name", u"<root>/new/"_s + longName, Check::ModelFile);
        fails(ModelField, "10000 characters deep", u"<root>/"_s + deep + u"car.4ds"_s,
              Check::ModelFile);
        installs(ModelField, "10000 separators", u"<root>/new"_s + seps + u"car.4ds"_s);
        fails(ModelField, "star in folder", u"<root>/n*w/car.4ds"_s, Check::ModelFile);
        installs(ModelField, "dot dot", u"<root>/Game/../new/car.4ds"_s);
        fails(ModelField, "no drive Q:", u"Q:\\new\\car.4ds"_s, Check::ModelFile);
        posixRows("Wine's drive C:",
                  [] { installs(ModelField, "drive C:", u"c:\\NEW\\CAR.4DS"_s); });
        fails(ModelField, "folder as file", u"<root>/new/Maps"_s, Check::ModelFile);
        fails(ModelField, "file as folder", u"<root>/new/car.4ds/car.4ds"_s, Check::ModelFile);
        posixRows("links and names that are no UTF-8", [] {
            fails(ModelField, "link loop", u"<root>/new/LoopMaps/loop.bmp"_s, Check::ModelFile);
            installs(ModelField, "name not UTF-8", u"<root>/new/"_s + runtime::decodeName(RawModel),
                     {"body.bmp", "glass.tga", "readme.txt"}, "Game", "raw model");
        });

        // Blank, the field would name the root folder or the current one.
        fails(MapsField, "empty", QString(), Check::MapsFolder);
        fails(MapsField, "spaces", u"   "_s, Check::MapsFolder);
        posixRows("a name that ends in spaces", [] {
            installs(MapsField, "folder named with spaces", u"<root>/new/  Maps  "_s, {"skin.bmp"});
        });
        fails(MapsField, "NUL", u"<root>/new/Maps"_s + nul, Check::MapsFolder);
        fails(MapsField, "10000-character name", u"<root>/new/"_s + longName, Check::MapsFolder);
        fails(MapsField, "10000 characters deep", u"<root>/"_s + deep, Check::MapsFolder);
        installs(MapsField, "10000 separators", u"<root>/new"_s + seps + u"Maps"_s);
        fails(MapsField, "star in folder", u"<root>/new/Ma*"_s, Check::MapsFolder);
        fails(MapsField, "question mark in folder", u"<root>/n?w/Maps\\"_s, Check::MapsFolder);
        installs(MapsField, "dot dot", u"<root>/Game/../new/Maps"_s);
        fails(MapsField, "dot dot to files only", u"<root>/new/Maps/.."_s, Check::Textures);
        fails(MapsField, "no drive Q:", u"Q:\\new\\Maps"_s, Check::MapsFolder);
        fails(MapsField, "bare drive Q:", u"Q:"_s, Check::MapsFolder);
        posixRows("Wine's drive C:", [] { installs(MapsField, "drive C:", u"c:/new/maps"_s); });
        fails(MapsField, "file as folder", u"<root>/new/car.4ds"_s, Check::MapsFolder);
        fails(MapsField, "only a folder named x.bmp", u"<root>/new/Nested"_s, Check::MapsFolder);
        posixRows("links and names that are no UTF-8", [] {
            installs(MapsField, "link loops beside a texture", u"<root>/new/LoopMaps"_s,
                     {"car.bmp"});
            fails(MapsField, "only link loops", u"<root>/new/OnlyLoops"_s, Check::MapsFolder);
            fails(MapsField, "through a link loop", u"<root>/new/LoopMaps/self/x"_s,
                  Check::MapsFolder);
            installs(MapsField, "file names not UTF-8", u"<root>/new/RawMaps"_s,
                     {RawNotes, RawTexture, "ok.tga"});
            installs(MapsField, "only texture not UTF-8", u"<root>/new/RawOnly"_s,
                     {RawOnlyTexture});
            installs(MapsField, "folder name not UTF-8",
                     u"<root>/new/"_s + runtime::decodeName(RawMapsFolder), {"skin.bmp"});
        });
    }
    void matrix()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(int, check);
        QFETCH(QByteArray, game);
        QFETCH(QByteArray, model);
        QFETCH(QByteArrayList, textures);
        QFETCH(QByteArray, posix);
        if (!posix.isEmpty())
            SKIP_UNLESS_POSIX(posix);

        OddInputs f;
        QString &input = field == GameField    ? f.request.gameFolder
                         : field == ModelField ? f.request.modelFile
                                               : f.request.mapsFolder;
        input = text.replace(u"<root>"_s, runtime::decodeName(f.root));
        const QByteArrayList before = host::snapshot(f.root);
        const QByteArray gameFolder = f.root + '/' + game;
        const QByteArray stockMaps = entryCaseBlind(gameFolder, "maps");
        const QByteArrayList stockTextures =
            stockMaps.isEmpty() ? QByteArrayList() : host::names(gameFolder + '/' + stockMaps);

        f.install();

        if (check >= 0) {
            QCOMPARE(f.outcome.failedCheck, Check(check));
            QCOMPARE(host::snapshot(f.root), before);
            QVERIFY(!f.outcome.colours);
            return;
        }

        QCOMPARE(f.outcome.colours, (ColourSelection{true, false, false, false, false}));
        QVERIFY(f.outcome.installed());

        const QByteArray models = gameFolder + '/' + entryCaseBlind(gameFolder, "models");
        QCOMPARE(host::names(models), (QByteArrayList{"wren00.4ds", "wren10.4ds"}));
        QCOMPARE(host::read(models + "/wren00.4ds"), model);
        QCOMPARE(host::read(models + "/wren10.4ds"), model);

        // Every texture, byte for byte under its own name, beside the stock ones.
        const QByteArray maps = gameFolder + '/' + entryCaseBlind(gameFolder, "maps");
        QByteArrayList expected = textures + stockTextures;
        std::sort(expected.begin(), expected.end());
        QCOMPARE(host::names(maps), expected);
        for (const QByteArray &name : textures)
            QCOMPARE(host::read(maps + '/' + name), Game::content(name));
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
