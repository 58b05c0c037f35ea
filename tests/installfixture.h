#pragma once

#include "install/installcar.h"
#include "runtime/hostpath.h"
#include "testsupport.h"

#include <QByteArrayList>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

inline char *toString(const InstallOutcome::NotWritten &n)
{
    return QTest::toString(n.file + u" — "_s + n.reason);
}

// Records the files an install announces; `before` may act just before one is copied.
class RecordingProgress : public InstallProgress
{
public:
    void copying(int done, int total, const QString &file) override
    {
        files.append(file);
        steps.append({done, total});
        if (before)
            before(file);
    }
    QStringList files;
    QList<QPair<int, int>> steps;
    std::function<void(const QString &)> before;
};

// Host files by their bytes, as the program meets them: names need not be UTF-8.
namespace host {

inline void write(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

inline QByteArray read(const QByteArray &path)
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
inline QByteArrayList names(const QByteArray &folder)
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
inline QByteArrayList snapshot(const QByteArray &folder, const QByteArray &relative = {})
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

} // namespace host

// A game folder with stock files; a new car whose Maps folder holds two textures, a note,
// a hidden file and a subfolder; a car "wren" with three colours; controls that point at
// them with no colour ticked. The drive C: of the Wine prefix is the tree, and the current
// folder an empty one, so that relative paths find nothing. Tests add entries by bytes.
class Game
{
public:
    Game()
    {
        dir("cwd");
        dir("Game"), file("Game/a0.dta", "game");
        dir("Game/models"), file("Game/models/wren00.4ds", "stock 00");
        file("Game/models/wren10.4ds", "stock 10");
        dir("Game/maps"), file("Game/maps/road.bmp", "stock road");
        dir("new"), file("new/car.4ds", "new model");
        dir("new/Maps");
        for (const char *name : {"body.bmp", "glass.tga", "readme.txt", ".hidden.bmp"})
            texture("new/Maps", name);
        dir("new/Maps/sub"), texture("new/Maps/sub", "inner.bmp");

        dir("prefix"), dir("prefix/dosdevices"), link("../..", "prefix/dosdevices/c:");
        m_prefix = qgetenv("WINEPREFIX");
        qputenv("WINEPREFIX", root + "/prefix");
        m_cwd = QDir::currentPath();
        QDir::setCurrent(QFile::decodeName(root + "/cwd"));

        car(0, u"Wren"_s, u"wren"_s, u"3"_s);
        form.text1 = path("Game");
        form.text2 = path("new/car.4ds");
        form.text3 = path("new/Maps");
        form.listIndex = 0;
    }

    ~Game()
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

    // What each texture of the fixture holds.
    static QByteArray content(const QByteArray &name) { return "texture " + name; }

    QString path(const QByteArray &relative) const
    {
        return runtime::decodeName(root + '/' + relative);
    }
    QByteArray hostPath(const QByteArray &relative) const { return root + '/' + relative; }

    void dir(const QByteArray &relative)
    {
        QCOMPARE(::mkdir(hostPath(relative).constData(), 0755), 0);
    }
    void file(const QByteArray &relative, const QByteArray &bytes) const
    {
        host::write(hostPath(relative), bytes);
    }
    void texture(const QByteArray &folder, const QByteArray &name)
    {
        file(folder + '/' + name, content(name));
    }
    void link(const QByteArray &target, const QByteArray &relative)
    {
        QCOMPARE(::symlink(target.constData(), hostPath(relative).constData()), 0);
    }

    void car(int index, const QString &name, const QString &model, const QString &colours)
    {
        cars->CarName[index] = name;
        cars->CarModel[index] = model;
        cars->CarColours[index] = colours;
        cars->CarCount = std::max(cars->CarCount, index + 1);
    }

    void tick(std::initializer_list<int> boxes)
    {
        for (int box : boxes)
            form.checks[box - 1] = 1;
    }

    const InstallOutcome &install()
    {
        outcome = InstallCar(form, *cars, selected, &progress, faults);
        return outcome;
    }

    QByteArray game(const QByteArray &relative) const
    {
        return host::read(hostPath("Game/" + relative));
    }

    // Every entry of the game folder, relative to it, sorted.
    QStringList gameEntries() const
    {
        QStringList entries;
        for (const QByteArray &entry : host::snapshot(hostPath("Game")))
            entries.append(runtime::decodeName(entry.left(entry.lastIndexOf(' '))));
        entries.sort();
        return entries;
    }

    // The install passed its checks and wrote every file.
    bool succeeded() const { return outcome.installed(); }

    TempTree tree;
    const QByteArray root = QFile::encodeName(tree.path());
    std::unique_ptr<CarTable> cars = std::make_unique<CarTable>();
    FakeControls form;
    ColourSelection selected{};
    RecordingProgress progress;
    QList<runtime::testing::Fault> faults;
    InstallOutcome outcome;

private:
    QByteArray m_prefix;
    QString m_cwd;
};
