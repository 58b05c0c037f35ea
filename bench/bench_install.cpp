// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the install against cp, its scaling with the size of the game folder, the
// checks over a large Maps folder, the install on a file system that clones files, and
// start-up against a bare Qt window. Prints a Markdown table.
// Usage: quillmere_bench [--rounds N] [--dir PATH] [--only SECTION]
#include "catalogue/cartable.h"
#include "install/installcar.h"
#include "install/messages.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// All four colours of the bench's one car.
InstallRequest request(const QString &game, const QString &model, const QString &maps)
{
    return {game, model, maps, Car{u"Bench"_s, u"bench"_s, 4}, {1, 1, 1, 1}};
}

void say(const QString &text)
{
    std::printf("%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

void writeFile(const QString &path, qsizetype size, QRandomGenerator &random)
{
    QByteArray data(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != size)
        qFatal("cannot write %s", qPrintable(path));
}

// Empty files with mixed-case names, as a game's folders hold them.
void fillFolder(const QString &folder, int count, const QString &stem)
{
    QDir().mkpath(folder);
    static const QString forms[] = {u"%1_%2.BMP"_s, u"%1_%2.tga"_s, u"%1_%2.Bmp"_s};
    for (int i = 0; i < count; ++i) {
        QFile file(folder + u'/' +
                   forms[i % 3].arg(i % 2 ? stem.toUpper() : stem).arg(i, 5, 10, QChar(u'0')));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(file.fileName()));
    }
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median milliseconds of `rounds` runs after one warm-up; `reset` runs untimed before each.
// With `cpuMs`, also the median processor time the process spent in them, which leaves
// out the time spent waiting for the disk.
double timed(int rounds, const std::function<void()> &reset, const std::function<void()> &run,
             double *cpuMs = nullptr)
{
    QList<double> ms;
    QList<double> cpu;
    for (int round = 0; round <= rounds; ++round) {
        reset();
        QElapsedTimer clock;
        clock.start();
        const std::clock_t cpuStart = std::clock();
        run();
        if (round > 0) {
            ms.append(clock.nsecsElapsed() / 1e6);
            cpu.append(double(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC);
        }
    }
    if (cpuMs)
        *cpuMs = median(cpu);
    return median(ms);
}

void runShell(const QString &script)
{
    QProcess shell;
    shell.start(u"/bin/sh"_s, {u"-c"_s, script});
    if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
        qFatal("shell failed: %s", shell.readAllStandardError().constData());
}

QString quoted(const QString &path)
{
    return u"'"_s + path + u"'"_s;
}

// The floor for reading a folder: the kernel's own listing of it, getdents64 into one buffer
// with nothing done to the names. Returns the number of entries, "." and ".." included.
qsizetype bareListing(const QByteArray &folder)
{
    static char buffer[64 * 1024];
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        qFatal("cannot open %s", folder.constData());
    qsizetype entries = 0;
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n < 0)
            qFatal("getdents64 failed on %s", folder.constData());
        if (n == 0)
            break;
        // d_reclen, the record's length, follows the 8-byte inode and offset fields.
        for (long at = 0; at < n; ++entries) {
            unsigned short length;
            std::memcpy(&length, buffer + at + 16, sizeof length);
            at += length;
        }
    }
    ::close(fd);
    return entries;
}

constexpr qsizetype StockModelSize = 2 * 1024 * 1024;

class Bench
{
public:
    runtime::FileSystem &files() { return m_files; }
    Bench(const QString &root, int rounds) : m_root(root), m_rounds(rounds)
    {
        QRandomGenerator random(1935);
        QDir().mkpath(m_root + u"/src/Maps"_s);
        writeFile(model(), 20 * 1024 * 1024, random);
        for (int i = 0; i < 500; ++i) {
            const QString name =
                u"Car_Tex_%1.%2"_s.arg(i, 3, 10, QChar(u'0')).arg(i % 4 ? u"bmp"_s : u"TGA"_s);
            writeFile(maps() + name, (50 + qsizetype(random.bounded(351))) * 1024, random);
            m_textures.append(name);
        }
    }

    QString model() const { return m_root + u"/src/car.4ds"_s; }
    QString maps() const { return m_root + u"/src/Maps/"_s; }

    // A game folder whose maps folder holds `textures` files.
    QString game(int textures)
    {
        const QString game = m_root + u"/game_%1"_s.arg(textures);
        QDir().mkpath(game);
        QFile(game + u"/A0.DTA"_s).open(QIODevice::WriteOnly);
        fillFolder(game + u"/MODELS"_s, 2000, u"stock"_s);
        fillFolder(game + u"/Maps"_s, textures, u"road"_s);
        return game;
    }

    // Removes what an install wrote, so that every round writes new files, and lets the
    // disk settle so that no round pays for the writes of the one before.
    // With `stock`, the car's model files are there to be replaced, as stock files of 2 MiB;
    // the records of earlier rounds go too.
    void clean(const QString &game, bool stock = false)
    {
        for (const QString &texture : m_textures)
            QFile::remove(game + u"/Maps/"_s + texture);
        QRandomGenerator random(1936);
        for (int d = 0; d < 2; ++d) {
            for (int c = 0; c < 4; ++c) {
                const QString file = game + u"/MODELS/bench%1%2.4ds"_s.arg(d).arg(c);
                QFile::remove(file);
                if (stock)
                    writeFile(file, StockModelSize, random);
            }
        }
        QDir(QFile::decodeName(m_recorded.dataFolder)).removeRecursively();
        runShell(u"sync"_s);
    }

    // An install that replaces the stock models; `recorded` keeps what it replaces, to be
    // undone.
    double install(const QString &game, int rounds = 0, double *cpuMs = nullptr,
                   std::optional<bool> recorded = std::nullopt)
    {
        const InstallRequest form = request(game, model(), maps());
        const runtime::HostPaths &host = recorded.value_or(false) ? m_recorded : m_host;
        InstallOutcome outcome;
        const double ms = timed(
            rounds > 0 ? rounds : m_rounds, [&] { clean(game, recorded.has_value()); },
            [&] { outcome = InstallCar(form, m_files, host, nullptr); }, cpuMs);
        if (!outcome.installed())
            qFatal("install failed: %s", qPrintable(closingMessage(outcome).text));
        return ms;
    }

    struct SideBySide
    {
        double install;
        double cp;
        double cpSync;
    };

    // The install, cp and cp + sync into one game folder, taking turns round by round so
    // that the disk's slow moments fall on all three alike.
    SideBySide sideBySide(const QString &game)
    {
        QList<double> install, cp, cpSync;
        for (int round = 0; round < m_rounds; ++round) {
            install.append(this->install(game, 1));
            cp.append(copy(game, false, 1));
            cpSync.append(copy(game, true, 1));
        }
        return {median(install), median(cp), median(cpSync)};
    }

    struct Space
    {
        qint64 copied; // bytes of the files one install copies
        qint64 taken;  // bytes of free space it used up
    };

    // The disk space one install takes against the bytes it copies: next to nothing where
    // the file system clones the files instead of copying their data.
    Space spaceOfInstall(const QString &game, std::optional<bool> recorded = std::nullopt)
    {
        Space space{QFileInfo(model()).size() * 8, 0};
        for (const QString &texture : m_textures)
            space.copied += QFileInfo(maps() + texture).size();
        clean(game, recorded.has_value());
        const qint64 before = QStorageInfo(game).bytesFree();
        const InstallRequest form = request(game, model(), maps());
        InstallCar(form, m_files, recorded.value_or(false) ? m_recorded : m_host, nullptr);
        runShell(u"sync"_s);
        space.taken = before - QStorageInfo(game).bytesFree();
        return space;
    }

    double copy(const QString &game, bool sync, int rounds = 0)
    {
        QString script;
        for (int d = 0; d < 2; ++d)
            for (int c = 0; c < 4; ++c)
                script += u"cp -f %1 %2/MODELS/bench%3%4.4ds\n"_s.arg(quoted(model()), quoted(game))
                              .arg(d)
                              .arg(c);
        script += u"cp -f %1* %2/Maps/\n"_s.arg(quoted(maps()), quoted(game));
        if (sync)
            script += u"sync -f %1/Maps\n"_s.arg(quoted(game));
        return timed(
            rounds > 0 ? rounds : m_rounds, [&] { clean(game); }, [&] { runShell(script); });
    }

    double checks()
    {
        const QString noTextures = m_root + u"/notextures/"_s;
        QDir().mkpath(noTextures);
        for (int i = 0; i < 50000; ++i)
            QFile(noTextures + u"Tex_%1.dds"_s.arg(i, 5, 10, QChar(u'0')))
                .open(QIODevice::WriteOnly);
        const InstallRequest form = request(game(0), model(), noTextures);
        InstallOutcome outcome;
        const double ms = timed(
            m_rounds, [] {}, [&] { outcome = InstallCar(form, m_files, m_host, nullptr); });
        if (outcome.failedCheck != Check::Textures)
            qFatal("unexpected: %s", qPrintable(closingMessage(outcome).text));
        return ms;
    }

    struct Startup
    {
        double inProcessMs;
        double wallMs;
        qint64 peakKiB;
    };

    // Each program started as a whole process, the programs taking turns round by round so
    // that the machine's slow moments fall on all of them alike.
    QList<Startup> startup(const QStringList &programs, const QString &carList)
    {
        QList<QList<double>> inside(programs.size()), wall(programs.size());
        QList<qint64> peak(programs.size(), 0);
        auto env = QProcessEnvironment::systemEnvironment();
        if (!env.contains(u"QT_QPA_PLATFORM"_s))
            env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        for (int round = 0; round <= m_rounds; ++round) {
            for (qsizetype i = 0; i < programs.size(); ++i) {
                QProcess process;
                process.setProcessEnvironment(env);
                QElapsedTimer clock;
                clock.start();
                process.start(programs[i], {carList});
                if (!process.waitForFinished(-1) || process.exitCode() != 0)
                    qFatal("%s failed", qPrintable(programs[i]));
                const double ms = clock.nsecsElapsed() / 1e6;
                const QList<QByteArray> fields =
                    process.readAllStandardOutput().trimmed().split(' ');
                if (round == 0 || fields.size() != 2)
                    continue;
                inside[i].append(fields[0].toDouble() / 1000);
                wall[i].append(ms);
                peak[i] = std::max(peak[i], fields[1].toLongLong());
            }
        }
        QList<Startup> results;
        for (qsizetype i = 0; i < programs.size(); ++i)
            results.append({median(inside[i]), median(wall[i]), peak[i]});
        return results;
    }

    QString carList()
    {
        const QString path = m_root + u"/cars.txt"_s;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        for (int i = 0; i < 1001; ++i)
            file.write("\"Car " + QByteArray::number(i) + ", coupe\",car" + QByteArray::number(i) +
                       "," + QByteArray::number(i % 4 + 1) + "\r\n");
        return path;
    }

private:
    QString m_root;
    int m_rounds;
    runtime::HostFileSystem m_files;
    // Installs without records, unless a case says otherwise; those with them keep their
    // records beside the game folders.
    const runtime::HostPaths m_host = [] {
        runtime::HostPaths host = runtime::HostPaths::ofProcess();
        host.dataFolder.clear();
        return host;
    }();
    const runtime::HostPaths m_recorded = [this] {
        runtime::HostPaths host = m_host;
        host.dataFolder = QFile::encodeName(m_root) + "/data";
        return host;
    }();
    QStringList m_textures;
};

// A small file system that clones files, made on a loop device and mounted: XFS with
// reflink=1, or btrfs. A watchdog shell, started before anything is
// made, unmounts it, detaches the loop device and removes the image once this process closes
// its end of the pipe: when the object is destroyed, and just the same when the benchmark
// fails or is killed.
class CloningVolume
{
public:
    // Why the volume cannot be made here; empty when it can.
    static QString unavailable(const QString &type)
    {
        if (::geteuid() != 0)
            return u"not run as root"_s;
        if (tool(u"mkfs."_s + type).isEmpty())
            return u"no mkfs.%1 (package %2)"_s.arg(type, type == u"xfs"_s ? u"xfsprogs"_s
                                                                           : u"btrfs-progs"_s);
        if (tool(u"losetup"_s).isEmpty())
            return u"no losetup"_s;
        return {};
    }

    // Makes the image and the mount point in `dir`.
    CloningVolume(const QString &dir, const QString &type)
        : m_image(dir + u"/%1.img"_s.arg(type)), m_mountPoint(dir + u"/"_s + type)
    {
        static const QString watchdog = uR"(trap '' HUP INT TERM
cat >/dev/null
umount "$1" 2>/dev/null || umount --lazy "$1" 2>/dev/null
losetup --list --noheadings --output NAME --associated "$2" 2>/dev/null |
while read -r device; do losetup --detach "$device"; done
rm -f "$2"
rmdir "$1" 2>/dev/null
! mountpoint -q "$1" && [ ! -e "$2" ])"_s;
        m_watchdog.start(u"/bin/sh"_s, {u"-c"_s, watchdog, u"watchdog"_s, m_mountPoint, m_image});
        if (!m_watchdog.waitForStarted()) {
            m_error = u"cannot start the watchdog: %1"_s.arg(m_watchdog.errorString());
            return;
        }
        QFile image(m_image);
        if (!image.open(QIODevice::WriteOnly) || !image.resize(ImageSize)) {
            m_error = u"cannot make %1: %2"_s.arg(m_image, image.errorString());
            return;
        }
        image.close();
        QDir().mkpath(m_mountPoint);
        QString device;
        if (run(u"losetup"_s, {u"--find"_s, u"--show"_s, m_image}, &device) &&
            run(u"mkfs."_s + type, type == u"xfs"_s
                                       ? QStringList{u"-q"_s, u"-m"_s, u"reflink=1"_s, device}
                                       : QStringList{u"-q"_s, device}) &&
            run(u"mount"_s, {device, m_mountPoint}))
            m_device = device;
    }

    ~CloningVolume()
    {
        m_watchdog.closeWriteChannel();
        if (!m_watchdog.waitForFinished(-1) || m_watchdog.exitCode() != 0)
            std::fprintf(stderr, "could not remove %s\n", qPrintable(m_mountPoint));
    }

    CloningVolume(const CloningVolume &) = delete;
    CloningVolume &operator=(const CloningVolume &) = delete;

    // Why the volume was not made; empty when it is mounted.
    QString error() const { return m_error; }
    QString path() const { return m_mountPoint; }
    QString device() const { return m_device; }

    static constexpr qint64 ImageSize = 1024 * 1024 * 1024;

private:
    static QString tool(const QString &name)
    {
        const QString found = QStandardPaths::findExecutable(name);
        return found.isEmpty() ? QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s})
                               : found;
    }

    bool run(const QString &name, const QStringList &arguments, QString *output = nullptr)
    {
        QProcess process;
        process.start(tool(name), arguments);
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            m_error = u"%1 failed (exit code %2) %3"_s.arg(name)
                          .arg(process.exitCode())
                          .arg(QString::fromLocal8Bit(process.readAllStandardError().trimmed()));
            return false;
        }
        if (output)
            *output = QString::fromLocal8Bit(process.readAllStandardOutput().trimmed());
        return true;
    }

    QString m_image;
    QString m_mountPoint;
    QString m_device;
    QString m_error;
    QProcess m_watchdog;
};

QString cpuName()
{
    QFile info(u"/proc/cpuinfo"_s);
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n'))
            if (line.startsWith("model name"))
                return QString::fromUtf8(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return QSysInfo::currentCpuArchitecture();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Quillmere"_s);
    int rounds = 5;
    QString dir = qEnvironmentVariable("TMPDIR", u"/var/tmp"_s);
    QString only;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--rounds"_s)
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == u"--dir"_s)
            dir = args[i + 1];
        else if (args[i] == u"--only"_s)
            only = args[i + 1];
    }
    QDir().mkpath(dir);
    QTemporaryDir root(dir + u"/quillmere-bench-XXXXXX"_s);
    if (!root.isValid())
        qFatal("cannot make a folder in %s", qPrintable(dir));

    say(u"Machine: %1, %2 cores, %3 %4; folder %5; median of %6 rounds after a warm-up."_s
            .arg(cpuName())
            .arg(QThread::idealThreadCount())
            .arg(QSysInfo::kernelType(), QSysInfo::kernelVersion(), dir)
            .arg(rounds));
    Bench bench(root.path(), rounds);

    say(u"\n| case | ms | ratio |\n|---|---|---|"_s);
    const auto section = [&](const QString &name) {
        return only.isEmpty() || only == name;
    };
    if (section(u"install"_s)) {
        const auto [install, cp, cpSync] = bench.sideBySide(bench.game(20000));
        say(u"| install, 20,000 files in maps | %1 | |"_s.arg(install, 0, 'f', 1));
        say(u"| cp, same files | %1 | install / cp = %2 |"_s.arg(cp, 0, 'f', 1)
                .arg(install / cp, 0, 'f', 2));
        say(u"| cp + sync, same files | %1 | install / (cp + sync) = %2 |"_s.arg(cpSync, 0, 'f', 1)
                .arg(install / cpSync, 0, 'f', 2));
    }

    if (section(u"records"_s)) {
        // The install that keeps what it replaces against the one that does not, both
        // replacing the eight stock models, taking turns round by round.
        const QString game = bench.game(20000);
        QList<double> plain, recorded;
        for (int round = 0; round < rounds; ++round) {
            plain.append(bench.install(game, 1, nullptr, false));
            recorded.append(bench.install(game, 1, nullptr, true));
        }
        say(u"| install replacing 8 stock models, 20,000 files in maps, no records | %1 | |"_s.arg(
            median(plain), 0, 'f', 1));
        say(u"| same, recorded to be undone | %1 | recorded / not = %2 |"_s
                .arg(median(recorded), 0, 'f', 1)
                .arg(median(recorded) / median(plain), 0, 'f', 3));
        for (const bool records : {false, true}) {
            const auto [copied, taken] = bench.spaceOfInstall(game, records);
            say(u"| free space one install used%1, of the MiB it copied | %2 of %3 | %4 |"_s
                    .arg(records ? u", recorded"_s : u", not recorded"_s)
                    .arg(taken / 1048576.0, 0, 'f', 1)
                    .arg(copied / 1048576.0, 0, 'f', 1)
                    .arg(double(taken) / double(copied), 0, 'f', 3));
        }
    }

    if (section(u"scaling"_s)) {
        // The sizes take turns round by round, so that the disk's moods fall on all alike.
        const QList<int> sizes = {0, 2000, 20000, 50000};
        QStringList games;
        for (int size : sizes)
            games.append(bench.game(size));
        QList<QList<double>> times(sizes.size());
        QList<QList<double>> cpu(sizes.size());
        QList<QList<double>> copies(sizes.size());
        for (int round = 0; round < rounds; ++round) {
            for (qsizetype i = 0; i < sizes.size(); ++i) {
                double cpuMs = 0;
                times[i].append(bench.install(games[i], 1, &cpuMs));
                cpu[i].append(cpuMs);
                copies[i].append(bench.copy(games[i], true, 1));
            }
        }
        // What the size of the folder can add at most: reading it once, case-blind. The
        // textures of the last install are removed first, so that both reads below see the
        // 50,000 names alone.
        bench.clean(games.last());
        const QByteArray largest = QFile::encodeName(games.last() + u"/Maps"_s);
        const double index = timed(
            rounds, [] {},
            [&] {
                runtime::FolderIndex folders(bench.files());
                if (folders.lookup(largest, u"NO_SUCH_TEXTURE.BMP"_s))
                    qFatal("unexpected name");
            });
        // Its floor: the same folder listed by a bare getdents64 loop.
        const double listing = timed(
            rounds, [] {},
            [&] {
                if (bareListing(largest) != 50000 + 2)
                    qFatal("unexpected number of names");
            });
        say(u"| reading a maps folder of 50,000 files once, case-blind | %1 | / bare listing = %2 |"_s
                .arg(index, 0, 'f', 1)
                .arg(index / listing, 0, 'f', 2));
        say(u"| listing the same folder, bare getdents64 loop | %1 | |"_s.arg(listing, 0, 'f', 1));
        // Each size against the empty folder: wall time, processor time alone (the disk's
        // waits left out), and cp + sync into the same folders (the file system's own share).
        const auto rows = [&](const QString &what, const QList<QList<double>> &samples) {
            for (qsizetype i = 0; i < sizes.size(); ++i) {
                const double ms = median(samples[i]);
                say(u"| %1, %2 files in maps | %3 | / empty = %4 |"_s.arg(what)
                        .arg(sizes[i])
                        .arg(ms, 0, 'f', 1)
                        .arg(ms / median(samples[0]), 0, 'f', 2));
            }
        };
        rows(u"install"_s, times);
        rows(u"install, processor time"_s, cpu);
        rows(u"cp + sync"_s, copies);
    }

    if (section(u"checks"_s))
        say(u"| checks, 50,000 files and no texture in Maps | %1 | |"_s.arg(bench.checks(), 0, 'f',
                                                                            2));

    // The install case again, on file systems where a copy can be a clone: XFS made with
    // reflink=1, and btrfs, which Fedora installs by default.
    for (const auto &[type, name] :
         {std::pair{u"xfs"_s, u"XFS with reflink=1"_s}, std::pair{u"btrfs"_s, u"btrfs"_s}}) {
        if (!section(u"reflink"_s) && !section(type))
            continue;
        QString why = CloningVolume::unavailable(type);
        std::unique_ptr<CloningVolume> volume;
        if (why.isEmpty()) {
            volume = std::make_unique<CloningVolume>(root.path(), type);
            why = volume->error();
        }
        if (!why.isEmpty()) {
            say(u"| install on %1 | | skipped: %2 |"_s.arg(name, why));
            continue;
        }
        Bench cloning(volume->path(), rounds);
        const QString game = cloning.game(20000);
        const auto [install, cp, cpSync] = cloning.sideBySide(game);
        const Bench::Space space = cloning.spaceOfInstall(game);
        say(u"| install on %1 (%2 MiB image on %3), 20,000 files in maps | %4 | |"_s.arg(name)
                .arg(CloningVolume::ImageSize >> 20)
                .arg(volume->device())
                .arg(install, 0, 'f', 1));
        say(u"| cp on %1, same files | %2 | install / cp = %3 |"_s.arg(name)
                .arg(cp, 0, 'f', 1)
                .arg(install / cp, 0, 'f', 2));
        say(u"| cp + sync on %1, same files | %2 | install / (cp + sync) = %3 |"_s.arg(name)
                .arg(cpSync, 0, 'f', 1)
                .arg(install / cpSync, 0, 'f', 2));
        say(u"| free space one install used on %1, of the MiB it copied | %2 of %3 | %4 |"_s
                .arg(name)
                .arg(space.taken / 1048576.0, 0, 'f', 1)
                .arg(space.copied / 1048576.0, 0, 'f', 1)
                .arg(space.taken * 10 < space.copied ? u"clones"_s : u"copies"_s));
    }

    if (!section(u"startup"_s))
        return 0;
    const QString here = QCoreApplication::applicationDirPath();
    const QString cars = bench.carList();
    const auto started =
        bench.startup({here + u"/bench_startup_form"_s, here + u"/bench_startup_bare"_s,
                       here + u"/bench_startup_text"_s},
                      cars);
    const auto &form = started[0];
    const auto &bare = started[1];
    const auto &text = started[2];
    say(u"| start-up, main window with 1,001 cars (in process / process) | %1 / %2 | / bare = %3 / %4 |"_s
            .arg(form.inProcessMs, 0, 'f', 1)
            .arg(form.wallMs, 0, 'f', 1)
            .arg(form.inProcessMs / bare.inProcessMs, 0, 'f', 2)
            .arg(form.wallMs / bare.wallMs, 0, 'f', 2));
    say(u"| start-up, bare window with one combo box | %1 / %2 | |"_s
            .arg(bare.inProcessMs, 0, 'f', 1)
            .arg(bare.wallMs, 0, 'f', 1));
    say(u"| start-up, bare window whose combo box shows one name | %1 / %2 | main / this = %3 / %4 |"_s
            .arg(text.inProcessMs, 0, 'f', 1)
            .arg(text.wallMs, 0, 'f', 1)
            .arg(form.inProcessMs / text.inProcessMs, 0, 'f', 2)
            .arg(form.wallMs / text.wallMs, 0, 'f', 2));
    say(u"| peak memory, main window / window that shows one name / bare (MiB) | %1 / %2 / %3 | main - one name = %4 MiB |"_s
            .arg(form.peakKiB / 1024.0, 0, 'f', 1)
            .arg(text.peakKiB / 1024.0, 0, 'f', 1)
            .arg(bare.peakKiB / 1024.0, 0, 'f', 1)
            .arg((form.peakKiB - text.peakKiB) / 1024.0, 0, 'f', 1));
    return 0;
}
