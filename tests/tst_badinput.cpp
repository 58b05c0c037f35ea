#include "install/installcar.h"
#include "runtime/hostpath.h"
#include "testsupport.h"

#include <QByteArrayList>
#include <QRegularExpression>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Whatever the player types into a path field, the install either stops at the check
// that owns the problem, with its message and without touching a file, or installs the
// car as asked. Fixtures are made with POSIX calls on host names as bytes, so that names
// which are not UTF-8 are exactly what the program meets.

namespace {

// Windows-1251 names, as an archive packed on Windows unpacks them on Linux.
const QByteArray RawGame = "\xC8\xE3\xF0\xE0";                // "Игра"
const QByteArray RawModel = "\xEC\xEE\xE4\xE5\xEB\xFC.4ds";   // "модель.4ds"
const QByteArray RawMapsFolder = "\xCA\xE0\xF0\xF2\xFB";      // "Карты"
const QByteArray RawTexture = "\xCC\xE0\xF8\xE8\xED\xE0.bmp"; // "Машина.bmp"
const QByteArray RawOnlyTexture = "\xC1\xEE\xEB\xF2.TGA";     // "Болт.TGA"
const QByteArray RawNotes = "\xFF\xFE.txt";

QByteArray content(const QByteArray &name)
{
    return "texture " + name;
}

void writeFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

QByteArray readFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return "<missing>";
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

// The names in a folder, sorted; links are not followed.
QByteArrayList names(const QByteArray &folder)
{
    QByteArrayList result;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                result.append(name);
        }
        ::closedir(dir);
    }
    std::sort(result.begin(), result.end());
    return result;
}

// Every entry below a folder with the size of each file: the whole state of a tree.
QByteArrayList snapshot(const QByteArray &folder, const QByteArray &relative = {})
{
    QByteArrayList result;
    for (const QByteArray &name : names(folder)) {
        const QByteArray path = folder + '/' + name;
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) {
            result.append(rel + " <gone>");
            continue;
        }
        result.append(rel + ' ' + QByteArray::number(qint64(st.st_size)));
        if (S_ISDIR(st.st_mode))
            result += snapshot(path, rel);
    }
    return result;
}

// The one entry of a folder named `name` in any (ASCII) case, "" when there is none.
QByteArray entryCaseBlind(const QByteArray &folder, const QByteArray &name)
{
    QByteArray found;
    for (const QByteArray &entry : names(folder)) {
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

// A tree of every kind of game folder, model file and Maps folder the rows point at,
// with controls that pass every check; Q: is a drive that is not there, C: the tree.
class Fixture
{
public:
    Fixture()
    {
        dir("cwd");
        dir("Game"), file("Game/a0.dta", "game"), dir("Game/models");
        dir("   "), file("   /a0.dta", "game");
        dir(RawGame), file(RawGame + "/A0.DTA", "game");
        dir("Fake"), dir("Fake/a0.dta");

        dir("new"), file("new/car.4ds", "model"), file("new/" + RawModel, "raw model");
        dir("new/Maps"), texture("new/Maps", "car.bmp"), texture("new/Maps", "car.tga");
        dir("new/  Maps  "), texture("new/  Maps  ", "skin.bmp");
        dir("new/" + RawMapsFolder), texture("new/" + RawMapsFolder, "skin.bmp");
        dir("new/Nested"), dir("new/Nested/x.bmp");
        dir("new/RawMaps"), texture("new/RawMaps", RawTexture);
        texture("new/RawMaps", "ok.tga"), texture("new/RawMaps", RawNotes);
        dir("new/RawOnly"), texture("new/RawOnly", RawOnlyTexture);
        dir("new/LoopMaps"), texture("new/LoopMaps", "car.bmp");
        link("loop.bmp", "new/LoopMaps/loop.bmp"), link("self", "new/LoopMaps/self");
        link("b.tga", "new/LoopMaps/a.tga"), link("a.tga", "new/LoopMaps/b.tga");
        dir("new/OnlyLoops"), link("loop.bmp", "new/OnlyLoops/loop.bmp");
        link("b.tga", "new/OnlyLoops/a.tga"), link("a.tga", "new/OnlyLoops/b.tga");

        dir("prefix"), dir("prefix/dosdevices"), link("../..", "prefix/dosdevices/c:");
        m_prefix = qgetenv("WINEPREFIX");
        qputenv("WINEPREFIX", root + "/prefix");
        m_cwd = QDir::currentPath();
        QDir::setCurrent(QFile::decodeName(root + "/cwd")); // relative paths find nothing

        cars->CarName[0] = u"Bolt Ace"_s;
        cars->CarModel[0] = u"bolt"_s;
        cars->CarColours[0] = u"4"_s;
        cars->CarCount = 1;
        form.text1 = path("Game");
        form.text2 = path("new/car.4ds");
        form.text3 = path("new/Maps");
        form.listIndex = 0;
        form.checks[0] = 1;
    }

    ~Fixture()
    {
        QDir::setCurrent(m_cwd);
        if (m_prefix.isNull())
            qunsetenv("WINEPREFIX");
        else
            qputenv("WINEPREFIX", m_prefix);
        // QTemporaryDir cannot spell every host name, so the tree goes by its bytes.
        ::nftw(
            root.constData(),
            [](const char *entry, const struct stat *, int, FTW *) { return ::remove(entry); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

    QString path(const QByteArray &relative) const
    {
        return runtime::decodeName(root + '/' + relative);
    }

    void install() { InstallCar(form, *cars, selected); }

    TempTree tree;
    const QByteArray root = QFile::encodeName(tree.path());
    std::unique_ptr<CarTable> cars = std::make_unique<CarTable>();
    FakeControls form;
    ColourSelection selected{};
    RecordingMessageBox boxes;

private:
    void dir(const QByteArray &relative)
    {
        QCOMPARE(::mkdir((root + '/' + relative).constData(), 0755), 0);
    }
    void file(const QByteArray &relative, const QByteArray &bytes)
    {
        writeFile(root + '/' + relative, bytes);
    }
    void texture(const QByteArray &folder, const QByteArray &name)
    {
        file(folder + '/' + name, content(name));
    }
    void link(const QByteArray &target, const QByteArray &relative)
    {
        QCOMPARE(::symlink(target.constData(), (root + '/' + relative).constData()), 0);
    }

    QByteArray m_prefix;
    QString m_cwd;
};

enum Field
{
    Game = 1,
    Model,
    Maps
};

const char *const FieldNames[] = {"", "game", "model", "maps"};

void fails(Field field, const char *what, const QString &text, const QString &message)
{
    QTest::addRow("%s: %s", FieldNames[field], what)
        << int(field) << text << message << QByteArray() << QByteArray() << QByteArrayList();
}

void installs(Field field, const char *what, const QString &text,
              const QByteArrayList &textures = {"car.bmp", "car.tga"},
              const QByteArray &game = "Game", const QByteArray &model = "model")
{
    QTest::addRow("%s: %s", FieldNames[field], what)
        << int(field) << text << messages::Installed << game << model << textures;
}

// The message an empty Maps field gives: it names the root folder ("\"), whose files
// are the machine's.
QString emptyMapsFieldMessage()
{
    const QStringList files = QDir(u"/"_s).entryList(QDir::Files);
    if (files.isEmpty())
        return messages::BadMapsFolder;
    if (!files
             .filter(
                 QRegularExpression(u"\\.(bmp|tga)$"_s, QRegularExpression::CaseInsensitiveOption))
             .isEmpty())
        return QString(); // this machine keeps textures in its root folder
    return messages::NoTextures;
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
        QTest::addColumn<QString>("message");
        // When it installs: the game folder, the model file's bytes, the textures.
        QTest::addColumn<QByteArray>("game");
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArrayList>("textures");

        const QString nul(QChar(0));
        const QString longName(10000, u'x');
        const QString deep = u"d/"_s.repeated(5000);
        const QString seps = separators(10000);
        const QString dots = u"./"_s.repeated(5000);

        fails(Game, "empty", QString(), messages::BadGameFolder);
        fails(Game, "spaces", u"   "_s, messages::BadGameFolder);
        installs(Game, "folder named spaces", u"<root>/   "_s, {"car.bmp", "car.tga"}, "   ");
        fails(Game, "NUL at end", u"<root>/Game"_s + nul, messages::BadGameFolder);
        fails(Game, "NUL inside", u"<root>/Ga"_s + nul + u"me"_s, messages::BadGameFolder);
        fails(Game, "10000-character name", u"<root>/"_s + longName, messages::BadGameFolder);
        fails(Game, "10000 characters deep", u"<root>/"_s + deep, messages::BadGameFolder);
        // Longer than any host path, though every step exists.
        fails(Game, "10000 characters of dots", u"<root>/"_s + dots + u"Game"_s,
              messages::BadGameFolder);
        installs(Game, "10000 separators", u"<root>"_s + seps + u"Game"_s);
        fails(Game, "star in folder", u"<root>/Ga*e"_s, messages::BadGameFolder);
        fails(Game, "question mark in folder", u"<root>/G?me\\"_s, messages::BadGameFolder);
        installs(Game, "dot dot", u"<root>/new/../Game"_s);
        installs(Game, "dot dot from models", u"<root>/Game/models/.."_s);
        fails(Game, "dot dot to the tree", u"<root>/Game/.."_s, messages::BadGameFolder);
        fails(Game, "dot dot after a file", u"<root>/Game/a0.dta/.."_s, messages::BadGameFolder);
        fails(Game, "dot dot alone", u".."_s, messages::BadGameFolder);
        fails(Game, "no drive Q:", u"Q:\\Game"_s, messages::BadGameFolder);
        fails(Game, "bare drive Q:", u"q:"_s, messages::BadGameFolder);
        installs(Game, "drive C:", u"C:\\game"_s);
        fails(Game, "file as folder", u"<root>/Game/a0.dta"_s, messages::BadGameFolder);
        fails(Game, "a0.dta is a folder", u"<root>/Fake"_s, messages::BadGameFolder);
        fails(Game, "link loop", u"<root>/new/LoopMaps/self"_s, messages::BadGameFolder);
        installs(Game, "name not UTF-8", u"<root>/"_s + runtime::decodeName(RawGame),
                 {"car.bmp", "car.tga"}, RawGame);

        fails(Model, "empty", QString(), messages::BadModelFile);
        fails(Model, "spaces", u"   "_s, messages::BadModelFile);
        fails(Model, "NUL", u"<root>/new/car.4ds"_s + nul, messages::BadModelFile);
        fails(Model, "10000-character name", u"<root>/new/"_s + longName, messages::BadModelFile);
        fails(Model, "10000 characters deep", u"<root>/"_s + deep + u"car.4ds"_s,
              messages::BadModelFile);
        installs(Model, "10000 separators", u"<root>/new"_s + seps + u"car.4ds"_s);
        fails(Model, "star in folder", u"<root>/n*w/car.4ds"_s, messages::BadModelFile);
        installs(Model, "dot dot", u"<root>/Game/../new/car.4ds"_s);
        fails(Model, "no drive Q:", u"Q:\\new\\car.4ds"_s, messages::BadModelFile);
        installs(Model, "drive C:", u"c:\\NEW\\CAR.4DS"_s);
        fails(Model, "folder as file", u"<root>/new/Maps"_s, messages::BadModelFile);
        fails(Model, "file as folder", u"<root>/new/car.4ds/car.4ds"_s, messages::BadModelFile);
        fails(Model, "link loop", u"<root>/new/LoopMaps/loop.bmp"_s, messages::BadModelFile);
        installs(Model, "name not UTF-8", u"<root>/new/"_s + runtime::decodeName(RawModel),
                 {"car.bmp", "car.tga"}, "Game", "raw model");

        if (const QString message = emptyMapsFieldMessage(); !message.isEmpty())
            fails(Maps, "empty", QString(), message);
        fails(Maps, "spaces", u"   "_s, messages::BadMapsFolder);
        installs(Maps, "folder named with spaces", u"<root>/new/  Maps  "_s, {"skin.bmp"});
        fails(Maps, "NUL", u"<root>/new/Maps"_s + nul, messages::BadMapsFolder);
        fails(Maps, "10000-character name", u"<root>/new/"_s + longName, messages::BadMapsFolder);
        fails(Maps, "10000 characters deep", u"<root>/"_s + deep, messages::BadMapsFolder);
        installs(Maps, "10000 separators", u"<root>/new"_s + seps + u"Maps"_s);
        fails(Maps, "star in folder", u"<root>/new/Ma*"_s, messages::BadMapsFolder);
        fails(Maps, "question mark in folder", u"<root>/n?w/Maps\\"_s, messages::BadMapsFolder);
        installs(Maps, "dot dot", u"<root>/Game/../new/Maps"_s);
        fails(Maps, "dot dot to files only", u"<root>/new/Maps/.."_s, messages::NoTextures);
        fails(Maps, "no drive Q:", u"Q:\\new\\Maps"_s, messages::BadMapsFolder);
        fails(Maps, "bare drive Q:", u"Q:"_s, messages::BadMapsFolder);
        installs(Maps, "drive C:", u"c:/new/maps"_s);
        fails(Maps, "file as folder", u"<root>/new/car.4ds"_s, messages::BadMapsFolder);
        fails(Maps, "only a folder named x.bmp", u"<root>/new/Nested"_s, messages::BadMapsFolder);
        installs(Maps, "link loops beside a texture", u"<root>/new/LoopMaps"_s, {"car.bmp"});
        fails(Maps, "only link loops", u"<root>/new/OnlyLoops"_s, messages::BadMapsFolder);
        fails(Maps, "through a link loop", u"<root>/new/LoopMaps/self/x"_s,
              messages::BadMapsFolder);
        installs(Maps, "file names not UTF-8", u"<root>/new/RawMaps"_s,
                 {RawNotes, RawTexture, "ok.tga"});
        installs(Maps, "only texture not UTF-8", u"<root>/new/RawOnly"_s, {RawOnlyTexture});
        installs(Maps, "folder name not UTF-8",
                 u"<root>/new/"_s + runtime::decodeName(RawMapsFolder), {"skin.bmp"});
    }
    void matrix()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(QByteArray, game);
        QFETCH(QByteArray, model);
        QFETCH(QByteArrayList, textures);

        Fixture f;
        QString &input = field == Game    ? f.form.text1
                         : field == Model ? f.form.text2
                                          : f.form.text3;
        input = text.replace(u"<root>"_s, runtime::decodeName(f.root));
        const QByteArrayList before = snapshot(f.root);

        f.install();

        if (message != messages::Installed) {
            QCOMPARE(f.boxes.shown.size(), 1);
            QCOMPARE(f.boxes.shown[0].text, message);
            QCOMPARE(f.boxes.shown[0].style, int(runtime::vbCritical));
            QCOMPARE(f.boxes.shown[0].title, messages::ErrorTitle);
            QCOMPARE(snapshot(f.root), before);
            QCOMPARE(f.selected, ColourSelection{});
            return;
        }

        QCOMPARE(f.selected, (ColourSelection{true, false, false, false, false}));
        QCOMPARE(f.boxes.shown.size(), 1);
        QCOMPARE(f.boxes.shown[0].text, messages::Installed);

        const QByteArray gameFolder = f.root + '/' + game;
        const QByteArray models = gameFolder + '/' + entryCaseBlind(gameFolder, "models");
        QCOMPARE(names(models), (QByteArrayList{"bolt00.4ds", "bolt10.4ds"}));
        QCOMPARE(readFile(models + "/bolt00.4ds"), model);
        QCOMPARE(readFile(models + "/bolt10.4ds"), model);

        // Every texture, byte for byte under its own name, and nothing else.
        const QByteArray maps = gameFolder + '/' + entryCaseBlind(gameFolder, "maps");
        QByteArrayList sorted = textures;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(names(maps), sorted);
        for (const QByteArray &name : textures)
            QCOMPARE(readFile(maps + '/' + name), content(name));
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
