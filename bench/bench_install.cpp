// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the install against cp, recorded and not, and over the car it installed before;
// its scaling with the size of the game folder, the checks over a large Maps folder, the
// install on a file system that clones files, start-up against a bare Qt window, and the
// install straight from a car's archive. Prints a Markdown table.
// Usage: quillmere_bench [--rounds N] [--dir PATH] [--only SECTION]
#include "bench.h"
#include "cloningvolume.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace bench;

namespace {

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

void installSection(Bench &bench)
{
    const auto [install, cp, cpSync] = bench.sideBySide(bench.game(20000));
    say(u"| install, 20,000 files in maps | %1 | |"_s.arg(install, 0, 'f', 1));
    say(u"| cp, same files | %1 | install / cp = %2 |"_s.arg(cp, 0, 'f', 1)
            .arg(install / cp, 0, 'f', 2));
    say(u"| cp + sync, same files | %1 | install / (cp + sync) = %2 |"_s.arg(cpSync, 0, 'f', 1)
            .arg(install / cpSync, 0, 'f', 2));
}

// The install that keeps what it replaces against the one that does not, both replacing
// the eight stock models, taking turns round by round.
void recordsSection(Bench &bench, int rounds)
{
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

// The car installed over itself, recorded, against the same bytes copied with cp to fresh
// names and over the installed files, each followed by sync -f.
void overSection(Bench &bench)
{
    const QString game = bench.game(20000);
    for (const bool earlierRecorded : {true, false}) {
        const auto [install, freshNames, sameFiles] = bench.overItself(game, earlierRecorded);
        say(u"| install over the same car, recorded, %1, 20,000 files in maps | %2 | |"_s
                .arg(earlierRecorded ? u"its earlier install recorded too"_s
                                     : u"no earlier record"_s)
                .arg(install, 0, 'f', 1));
        say(u"| cp + sync, same bytes to fresh names | %1 | install / (cp + sync, fresh names) = %2 |"_s
                .arg(freshNames, 0, 'f', 1)
                .arg(install / freshNames, 0, 'f', 2));
        say(u"| cp -f + sync, over the installed files | %1 | install / (cp -f + sync, same files) = %2 |"_s
                .arg(sameFiles, 0, 'f', 1)
                .arg(install / sameFiles, 0, 'f', 2));
    }
}

void scalingSection(Bench &bench, int rounds)
{
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

// The install case again, on file systems where a copy can be a clone: XFS made with
// reflink=1, and btrfs, which some distributions install by default.
void cloningSection(const QString &root, int rounds, const QString &type, const QString &name)
{
    QString why = CloningVolume::unavailable(type);
    std::unique_ptr<CloningVolume> volume;
    if (why.isEmpty()) {
        volume = std::make_unique<CloningVolume>(root, type);
        why = volume->error();
    }
    if (!why.isEmpty()) {
        say(u"| install on %1 | | skipped: %2 |"_s.arg(name, why));
        return;
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
    say(u"| free space one install used on %1, of the MiB it copied | %2 of %3 | %4 |"_s.arg(name)
            .arg(space.taken / 1048576.0, 0, 'f', 1)
            .arg(space.copied / 1048576.0, 0, 'f', 1)
            .arg(space.taken * 10 < space.copied ? u"clones"_s : u"copies"_s));
}

void startupSection(Bench &bench)
{
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
    if (section(u"install"_s))
        installSection(bench);
    if (section(u"records"_s))
        recordsSection(bench, rounds);
    if (section(u"over"_s))
        overSection(bench);
    if (section(u"scaling"_s))
        scalingSection(bench, rounds);
    if (section(u"checks"_s))
        say(u"| checks, 50,000 files and no texture in Maps | %1 | |"_s.arg(bench.checks(), 0, 'f',
                                                                            2));
    for (const auto &[type, name] :
         {std::pair{u"xfs"_s, u"XFS with reflink=1"_s}, std::pair{u"btrfs"_s, u"btrfs"_s}}) {
        if (section(u"reflink"_s) || section(type))
            cloningSection(root.path(), rounds, type, name);
    }
    if (section(u"startup"_s))
        startupSection(bench);
    if (section(u"archive"_s))
        archiveSection(bench, root.path());
    return 0;
}
