// SPDX-License-Identifier: GPL-3.0-or-later
// What the sections of quillmere_bench share: the bench's car, its game folders, the
// installs and copies timed in them, and the timing of rounds.
#pragma once

#include "install/installcar.h"
#include "records/store.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QRandomGenerator;

namespace bench {

// All four colours of the bench's one car.
InstallRequest request(const QString &game, const QString &model, const QString &maps);

void say(const QString &text);
void writeFile(const QString &path, qsizetype size, QRandomGenerator &random);
double median(QList<double> values);

// Median milliseconds of `rounds` runs after one warm-up; `reset` runs untimed before each.
// With `cpuMs`, also the median processor time the process spent in them, which leaves
// out the time spent waiting for the disk.
double timed(int rounds, const std::function<void()> &reset, const std::function<void()> &run,
             double *cpuMs = nullptr);

void runShell(const QString &script);
QString quoted(const QString &path);

class Bench;

// The install straight from the car's archive (bench_archive.cpp); `root` holds the archives.
void archiveSection(Bench &bench, const QString &root);

class Bench
{
public:
    runtime::FileSystem &files() { return m_files; }
    Bench(const QString &root, int rounds);

    QString model() const;
    QString maps() const;

    // A game folder whose maps folder holds `textures` files.
    QString game(int textures);

    // Removes what an install wrote, so that every round writes new files, and lets the
    // disk settle so that no round pays for the writes of the one before.
    // With `stock`, the car's model files are there to be replaced, as stock files of 2 MiB;
    // the records of earlier rounds go too.
    void clean(const QString &game, bool stock = false);

    // An install that replaces the stock models; `recorded` keeps what it replaces, to be
    // undone.
    double install(const QString &game, int rounds = 0, double *cpuMs = nullptr,
                   std::optional<bool> recorded = std::nullopt);

    struct SideBySide
    {
        double install;
        double cp;
        double cpSync;
    };

    // The install, cp and cp + sync into one game folder, taking turns round by round so
    // that the disk's slow moments fall on all three alike.
    SideBySide sideBySide(const QString &game);

    struct Space
    {
        qint64 copied; // bytes of the files one install copies
        qint64 taken;  // bytes of free space it used up
    };

    // The disk space one install takes against the bytes it copies: next to nothing where
    // the file system clones the files instead of copying their data.
    Space spaceOfInstall(const QString &game, std::optional<bool> recorded = std::nullopt);

    double copy(const QString &game, bool sync, int rounds = 0);

    struct OverItself
    {
        double install;    // the car installed again, recorded to be undone
        double freshNames; // cp + sync of the same bytes to new names beside it
        double sameFiles;  // cp -f + sync over the installed files themselves
    };

    // The car installed over itself, recorded, as a player does when trying a car again;
    // against the same bytes copied to fresh names and over the same files, taking turns
    // round by round. Each round starts with the car installed, and the record of that
    // install or none. In bench_over.cpp.
    // With `earlierRecorded`, the install before it was recorded too, as a player's own was.
    OverItself overItself(const QString &game, bool earlierRecorded);

    double checks();

    struct Startup
    {
        double inProcessMs;
        double wallMs;
        qint64 peakKiB;
    };

    // Each program started as a whole process, the programs taking turns round by round so
    // that the machine's slow moments fall on all of them alike.
    QList<Startup> startup(const QStringList &programs, const QString &carList);

    QString carList();

    // The bench's car written as an archive at `path` in libarchive's `format`, with its
    // writer's `options`: the model and Maps in a folder "Wren Arrow", with a readme. In
    // bench_archive.cpp, as what follows.
    QString carArchive(const QString &path, const char *format, const char *options) const;

    struct FromArchive
    {
        double archive;  // the install straight from the archive
        double unpacked; // the archive unpacked as players do, then installed; -1 without a tool
        double floor;    // its members unpacked to nowhere, then cp + sync of the same bytes
    };

    // The three taking turns round by round, each from the install's files removed.
    FromArchive fromArchive(const QString &game, const QString &archive);

    // A car of `total` bytes as a zip of stored members: a model of `modelSize` bytes and
    // textures of 50 to 400 KiB, whose names go to `textures`.
    QString largeArchive(const QString &path, qint64 modelSize, qint64 total,
                         QStringList &textures) const;

    struct Memory
    {
        qint64 idleKiB; // the main window shown with the car list loaded
        qint64 peakKiB; // after the install
        double ms;
    };

    // An install from `car` (an archive, or a folder, holding "Wren Arrow") as the main
    // window runs it, recorded, in a process of its own (bench_archive_memory), and that
    // process's peak resident memory before and after it.
    Memory memoryOfInstall(const QString &game, const QString &car);

private:
    // The shell commands that copy the model to the eight model files MODELS/<stem>DC.4ds
    // and every file in `textures` (ending in '/') into Maps; with `sync`, then sync -f.
    QString copyScript(const QString &game, const QString &stem, const QString &textures,
                       bool sync) const;

    // For overItself: the textures under other names, the round's starting state, and the
    // count of the files the records keep.
    QString againTextures() const;
    void resetOver(const QString &game, bool earlierRecorded);
    qsizetype keptFiles() const;

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
    const records::Store m_records{m_files, m_recorded.dataFolder, m_recorded.user};
    // The records an install into the host's folders keeps: none without a data folder.
    const records::Store *recordsOf(const runtime::HostPaths &host) const
    {
        return host.dataFolder.isEmpty() ? nullptr : &m_records;
    }
    QStringList m_textures;
};

} // namespace bench
