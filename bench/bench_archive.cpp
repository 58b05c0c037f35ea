// SPDX-License-Identifier: GPL-3.0-or-later
// The install straight from a car's archive: the bench's car as a zip (deflate) and a 7z
// (LZMA2), against unpacking it first as players do and installing from the folder, and
// against the floor: the same members unpacked to nowhere, then the same bytes copied and
// flushed. Then the peak memory of an install from a 1 GiB archive, as the window runs it.
#include "bench.h"
#include "texts/messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <archive.h>
#include <archive_entry.h>
#include <tuple>
#include <vector>

using namespace Qt::StringLiterals;

namespace bench {

namespace {

// The car's folder in its archives, as a maker packs it: the model and Maps in a folder named
// after the car, with a readme beside them.
const QString Wrapper = u"Wren Arrow"_s;
const QString ModelName = u"wren.4ds"_s;

// Writes an archive entry by entry, so that no more than one member is in memory.
class ArchiveWriter
{
public:
    ArchiveWriter(const QString &path, const char *format, const char *options) : m_path(path)
    {
        if (archive_write_set_format_by_name(m_archive, format) != ARCHIVE_OK ||
            (options && archive_write_set_options(m_archive, options) != ARCHIVE_OK) ||
            archive_write_open_filename(m_archive, QFile::encodeName(path).constData()) !=
                ARCHIVE_OK)
            qFatal("cannot write %s: %s", qPrintable(path), archive_error_string(m_archive));
    }
    ~ArchiveWriter() { archive_write_free(m_archive); }
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;

    void folder(const QString &name) { add(name + u'/', nullptr); }
    void file(const QString &name, const QByteArray &data) { add(name, &data); }
    void close()
    {
        if (archive_write_close(m_archive) != ARCHIVE_OK)
            qFatal("cannot write %s: %s", qPrintable(m_path), archive_error_string(m_archive));
    }

private:
    void add(const QString &name, const QByteArray *data)
    {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_copy_pathname(entry, name.toUtf8().constData());
        archive_entry_set_filetype(entry, data ? AE_IFREG : AE_IFDIR);
        archive_entry_set_perm(entry, data ? 0644 : 0755);
        archive_entry_set_size(entry, data ? data->size() : 0);
        bool written = archive_write_header(m_archive, entry) == ARCHIVE_OK;
        if (written && data && !data->isEmpty())
            written = archive_write_data(m_archive, data->constData(), size_t(data->size())) ==
                      la_ssize_t(data->size());
        archive_entry_free(entry);
        if (!written)
            qFatal("cannot write %s: %s", qPrintable(m_path), archive_error_string(m_archive));
    }

    QString m_path;
    struct archive *m_archive = archive_write_new();
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

QByteArray randomBytes(qsizetype size, QRandomGenerator &random)
{
    QByteArray data(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

void beginCar(ArchiveWriter &writer)
{
    writer.folder(Wrapper);
    writer.file(Wrapper + u"/readme.txt"_s, "Wren Arrow, a coupe in four colours.\r\n");
    writer.folder(Wrapper + u"/Maps"_s);
}

// The floor of reading an archive: the model and textures unpacked by libarchive into one
// buffer that is thrown away, the readme skipped. Returns the bytes unpacked.
qint64 unpackToNowhere(const QString &path)
{
    static std::vector<char> buffer(256 * 1024);
    struct archive *a = archive_read_new();
    archive_read_support_format_zip(a);
    archive_read_support_format_7zip(a);
    if (archive_read_open_filename(a, QFile::encodeName(path).constData(), 64 * 1024) != ARCHIVE_OK)
        qFatal("cannot read %s: %s", qPrintable(path), archive_error_string(a));
    qint64 total = 0;
    struct archive_entry *entry = nullptr;
    int status;
    while ((status = archive_read_next_header(a, &entry)) == ARCHIVE_OK) {
        if (archive_entry_filetype(entry) != AE_IFREG ||
            QByteArray(archive_entry_pathname(entry)).endsWith("readme.txt"))
            continue; // the next header skips its data
        for (;;) {
            const la_ssize_t got = archive_read_data(a, buffer.data(), buffer.size());
            if (got < 0)
                qFatal("cannot read %s: %s", qPrintable(path), archive_error_string(a));
            if (got == 0)
                break;
            total += got;
        }
    }
    if (status != ARCHIVE_EOF)
        qFatal("cannot read %s: %s", qPrintable(path), archive_error_string(a));
    archive_read_free(a);
    return total;
}

// What players unpack an archive with today: bsdtar, else 7z; empty where neither is installed.
QString unpacker()
{
    if (!QStandardPaths::findExecutable(u"bsdtar"_s).isEmpty())
        return u"bsdtar -xf"_s;
    if (!QStandardPaths::findExecutable(u"7z"_s).isEmpty())
        return u"7z x"_s;
    return {};
}

// The command that unpacks `archive` into `folder` so.
QString unpackCommand(const QString &archive, const QString &folder)
{
    if (unpacker().startsWith(u"bsdtar"_s))
        return u"mkdir -p %2 && bsdtar -xf %1 -C %2"_s.arg(quoted(archive), quoted(folder));
    if (!unpacker().isEmpty())
        return u"7z x -bd -y -o%2 %1 >/dev/null"_s.arg(quoted(archive), quoted(folder));
    return {};
}

void installOrStop(const InstallRequest &form, runtime::FileSystem &files,
                   const runtime::HostPaths &host)
{
    const InstallOutcome outcome = InstallCar(form, files, host, nullptr);
    if (!outcome.installed())
        qFatal("install failed: %s", qPrintable(closingMessage(outcome).text));
}

QString mib(qint64 bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 1);
}

} // namespace

QString Bench::carArchive(const QString &path, const char *format, const char *options) const
{
    ArchiveWriter writer(path, format, options);
    beginCar(writer);
    writer.file(Wrapper + u'/' + ModelName, readAll(model()));
    for (const QString &texture : m_textures)
        writer.file(Wrapper + u"/Maps/"_s + texture, readAll(maps() + texture));
    writer.close();
    return path;
}

Bench::FromArchive Bench::fromArchive(const QString &game, const QString &archive)
{
    const QString unpacked = m_root + u"/unpacked"_s;
    const QString unpack = unpackCommand(archive, unpacked);
    const QString inArchive = archive + u'/' + Wrapper;
    const QString inFolder = unpacked + u'/' + Wrapper;
    const QString floorCopy = copyScript(game, u"bench"_s, maps(), true);
    QList<double> direct, viaFolder, floor;
    const auto once = [&](int round, QList<double> &into, const std::function<void()> &run) {
        QDir(unpacked).removeRecursively();
        clean(game);
        QElapsedTimer clock;
        clock.start();
        run();
        if (round > 0)
            into.append(clock.nsecsElapsed() / 1e6);
    };
    for (int round = 0; round <= m_rounds; ++round) {
        once(round, direct, [&] {
            installOrStop(request(game, inArchive + u'/' + ModelName, inArchive + u"/Maps"_s),
                          m_files, m_host);
        });
        if (!unpack.isEmpty()) {
            once(round, viaFolder, [&] {
                runShell(unpack);
                installOrStop(request(game, inFolder + u'/' + ModelName, inFolder + u"/Maps"_s),
                              m_files, m_host);
            });
        }
        once(round, floor, [&] {
            unpackToNowhere(archive);
            runShell(floorCopy);
        });
    }
    QDir(unpacked).removeRecursively();
    clean(game);
    return {median(direct), viaFolder.isEmpty() ? -1 : median(viaFolder), median(floor)};
}

QString Bench::largeArchive(const QString &path, qint64 modelSize, qint64 total,
                            QStringList &textures) const
{
    QRandomGenerator random(1937);
    ArchiveWriter writer(path, "zip", "zip:compression=store");
    beginCar(writer);
    writer.file(Wrapper + u'/' + ModelName, randomBytes(modelSize, random));
    for (qint64 written = modelSize; written < total;) {
        const qint64 size = std::min<qint64>((50 + random.bounded(351)) * 1024, total - written);
        const QString name = u"Wren_Tex_%1.bmp"_s.arg(textures.size(), 4, 10, QChar(u'0'));
        writer.file(Wrapper + u"/Maps/"_s + name, randomBytes(size, random));
        textures.append(name);
        written += size;
    }
    writer.close();
    return path;
}

Bench::Memory Bench::memoryOfInstall(const QString &game, const QString &car)
{
    auto env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(u"QT_QPA_PLATFORM"_s))
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // The records of the install, as the window keeps them, beside the game folders.
    env.insert(u"XDG_DATA_HOME"_s, m_root + u"/memory-data"_s);
    QProcess process;
    process.setProcessEnvironment(env);
    const QString folder = car + u'/' + Wrapper;
    process.start(QCoreApplication::applicationDirPath() + u"/bench_archive_memory"_s,
                  {game, folder + u'/' + ModelName, folder + u"/Maps"_s, carList()});
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        qFatal("bench_archive_memory failed: %s", process.readAllStandardError().constData());
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 3)
        qFatal("bench_archive_memory said nothing");
    QDir(m_root + u"/memory-data"_s).removeRecursively();
    return {fields[0].toLongLong(), fields[1].toLongLong(), fields[2].toDouble()};
}

void archiveSection(Bench &bench, const QString &root)
{
    const QString game = bench.game(20000);
    for (const auto &[format, options, name] :
         {std::tuple{"zip", "zip:compression=deflate", u"zip (deflate)"_s},
          std::tuple{"7zip", "7zip:compression=lzma2", u"7z (LZMA2)"_s}}) {
        const QString archive = bench.carArchive(
            root + (qstrcmp(format, "zip") == 0 ? u"/car.zip"_s : u"/car.7z"_s), format, options);
        const auto [direct, viaFolder, floor] = bench.fromArchive(game, archive);
        say(u"| install from a %1 of %2 MiB, 20,000 files in maps | %3 | |"_s
                .arg(name, mib(QFileInfo(archive).size()))
                .arg(direct, 0, 'f', 1));
        if (viaFolder < 0)
            say(u"| unpacked, then installed from the folder | | skipped: neither bsdtar "
                u"(package libarchive-tools) nor 7z (package p7zip-full) is installed |"_s);
        else
            say(u"| unpacked with %1, then installed from the folder | %2 | from archive / "
                u"unpacked + install = %3 |"_s.arg(unpacker())
                    .arg(viaFolder, 0, 'f', 1)
                    .arg(direct / viaFolder, 0, 'f', 2));
        say(u"| unpacked to nowhere, then cp + sync, same bytes | %1 | from archive / floor = %2 |"_s
                .arg(floor, 0, 'f', 1)
                .arg(direct / floor, 0, 'f', 2));
        QFile::remove(archive);
    }
    QStringList textures;
    const QString large =
        bench.largeArchive(root + u"/large.zip"_s, qint64(120) << 20, qint64(1) << 30, textures);
    const auto memoryRow = [&](const QString &what, const QString &car) {
        const auto [idle, peak, ms] = bench.memoryOfInstall(game, car);
        say(u"| peak memory, install %1: idle window / after the install (MiB) | %2 / %3 | "
            u"install - idle = %4 MiB, %5 ms |"_s.arg(what)
                .arg(idle / 1024.0, 0, 'f', 1)
                .arg(peak / 1024.0, 0, 'f', 1)
                .arg((peak - idle) / 1024.0, 0, 'f', 1)
                .arg(ms, 0, 'f', 0));
        for (const QString &texture : textures)
            QFile::remove(game + u"/Maps/"_s + texture);
        bench.clean(game);
    };
    memoryRow(u"from a zip (stored) of %1 MiB, %2 textures"_s.arg(mib(QFileInfo(large).size()))
                  .arg(textures.size()),
              large);
    // The same car from its folder: what the install itself holds, archive or not.
    const QString unpacked = root + u"/large"_s;
    if (const QString unpack = unpackCommand(large, unpacked); !unpack.isEmpty()) {
        runShell(unpack);
        memoryRow(u"from the same car unpacked"_s, unpacked);
        QDir(unpacked).removeRecursively();
    }
    QFile::remove(large);
}

} // namespace bench
