// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/store.h"

#include "runtime/hostpath.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;
using runtime::Fd;
using runtime::FileStatus;

namespace records {

namespace {

const QByteArray HeaderName = "header.json";
const QByteArray UnrecordedPrefix = "unrecorded-";
const QByteArray JsonSuffix = ".json";
constexpr qint64 MaxRecordSize = 64 << 20;

QString shown(const QByteArray &path)
{
    return runtime::decodeName(path);
}

// The errno a folder's "unrecorded-<errno>.json" names; nullopt when it has none.
std::optional<int> unrecordedMark(const QByteArrayList &names, QByteArray &mark)
{
    for (const QByteArray &name : names) {
        if (!name.startsWith(UnrecordedPrefix) || !name.endsWith(JsonSuffix))
            continue;
        bool ok = false;
        const int why = name.sliced(UnrecordedPrefix.size(),
                                    name.size() - UnrecordedPrefix.size() - JsonSuffix.size())
                            .toInt(&ok);
        if (ok && why >= 0) {
            mark = name;
            return why;
        }
    }
    return std::nullopt;
}

// Reads one file of a record's folder, held open: nothing is followed, and only the user's
// own regular file in his own folder is read.
InstallRecord readOne(runtime::FileSystem &files, const Fd &folder, const QByteArray &name,
                      const QByteArray &path, quint32 user)
{
    FileStatus status;
    if (files.status(folder, status) != 0 || !files.isOwnOnly(folder, status, user))
        raise(Problem::Damaged, Step::ReadRecord, {}, {}, int(Damage::Foreign));
    Fd fd;
    if (const int error = files.openEntryAt(folder, name, fd))
        error == ELOOP ? raise(Problem::Damaged, Step::ReadRecord, {}, {}, int(Damage::NotAFile))
                       : raiseSystem(error, Step::ReadRecord);
    if (files.status(fd, status) != 0 || !status.isRegular())
        raise(Problem::Damaged, Step::ReadRecord, {}, {}, int(Damage::NotAFile));
    if (!files.isOwnOnly(fd, status, user))
        raise(Problem::Damaged, Step::ReadRecord, {}, {}, int(Damage::Foreign));
    if (status.size > MaxRecordSize)
        raise(Problem::Damaged, Step::ReadRecord, {}, QString::number(MaxRecordSize),
              int(Damage::TooLarge));
    QByteArray bytes;
    if (const int error = files.read(fd, MaxRecordSize + 1, bytes))
        raiseSystem(error, Step::ReadRecord);
    return fromJson(bytes, path);
}

// The game folder a damaged record names, where that much of it can be read.
QByteArray gameHostOf(runtime::FileSystem &files, const Fd &folder, const QByteArray &name)
{
    Fd fd;
    FileStatus status;
    if (files.openEntryAt(folder, name, fd) != 0 || files.status(fd, status) != 0 ||
        !status.isRegular() || status.size > MaxRecordSize)
        return {};
    QByteArray bytes;
    if (files.read(fd, MaxRecordSize, bytes) != 0)
        return {};
    const QJsonValue host = QJsonDocument::fromJson(bytes).object().value(u"gameHost"_s);
    return host.isString() ? QByteArray::fromPercentEncoding(host.toString().toLatin1())
                           : QByteArray();
}

// Removes the files of an open record folder, the record last, then the folder, closed
// first: a folder held open is not shared for removal (Windows).
int removeHeld(runtime::FileSystem &files, const Fd &installs, const QByteArray &name, Fd &folder)
{
    QByteArrayList names;
    if (const int error = files.readFolder(folder, names))
        return error;
    for (const QByteArray &entry : std::as_const(names)) {
        if (entry != RecordName)
            files.removeAt(folder, entry);
    }
    files.removeAt(folder, RecordName);
    folder.reset();
    const int error = files.removeFolderAt(installs, name);
    files.flushOpenFolder(installs);
    return error;
}

// Opens the installs' folder and takes the records' own lock, which numbering a new install
// and clearing away the interrupted ones take, so that neither meets the other half done.
int lockInstalls(runtime::FileSystem &files, const QByteArray &installs, Fd &folder)
{
    if (const int error = files.openFolderAt(Fd(), installs, folder))
        return error;
    return files.waitForLock(folder);
}

} // namespace

int retried(runtime::FileSystem &files, const std::function<int()> &write)
{
    using namespace std::chrono;
    int error = write();
    const auto end = steady_clock::now() + seconds(2);
    for (auto wait = milliseconds(10); error && files.transient(error) && steady_clock::now() < end;
         wait = std::min(wait * 2, milliseconds(250))) {
        std::this_thread::sleep_for(wait);
        error = write();
    }
    return error;
}

Records Store::readAll() const
{
    Records result;
    const QByteArray installs = installsFolder();
    Fd folder;
    if (const int error = m_files.openFolderAt(Fd(), installs, folder))
        error == ENOENT ? void() : raiseSystem(error, Step::ReadRecord, shown(installs));
    if (!folder.isOpen())
        return result;
    FileStatus status;
    if (m_files.status(folder, status) != 0 || !m_files.isOwnOnly(folder, status, m_user))
        raise(Problem::NotOwn, Step::ReadRecord, shown(installs));
    QByteArrayList names;
    if (const int error = m_files.readFolder(folder, names))
        raiseSystem(error, Step::ReadRecord, shown(installs));
    for (const QByteArray &name : std::as_const(names)) {
        FileStatus entry;
        if (sequence(name) == 0 || m_files.entryStatusAt(folder, name, entry) != 0 ||
            !entry.isFolder())
            continue;
        const QByteArray path = installs + '/' + name;
        Fd record;
        if (const int error = m_files.openFolderAt(folder, name, record)) {
            // It may hold the newest install of any game folder.
            result.damaged.append({path, systemError(error, Step::ReadRecord, shown(path)), {}});
            continue;
        }
        QByteArray file = RecordName, mark;
        std::optional<int> unrecorded;
        if (FileStatus json; m_files.entryStatusAt(record, RecordName, json) == ENOENT) {
            QByteArrayList inside;
            m_files.readFolder(record, inside);
            unrecorded = unrecordedMark(inside, mark);
            if (!unrecorded)
                continue; // an install that runs, or one that changed nothing
            file = mark;
        }
        try {
            InstallRecord read = readOne(m_files, record, file, path, m_user);
            if (unrecorded) {
                read.complete = false;
                read.notWritten = systemError(*unrecorded, Step::WriteRecord);
            }
            result.good.append(read);
        } catch (const RecordsError &error) {
            Error named = error.error();
            named.path = shown(path + '/' + file);
            result.damaged.append({path, named, gameHostOf(m_files, record, file)});
        }
    }
    // Installs are numbered in the order they ran: the clock may go back, or two installs
    // fall in one millisecond.
    std::stable_sort(result.good.begin(), result.good.end(), [](const auto &a, const auto &b) {
        return a.number() != b.number() ? a.number() > b.number() : a.folder > b.folder;
    });
    return result;
}

QByteArray Store::folderOf(qint64 number) const
{
    runtime::FolderListing listing;
    if (number <= 0 || m_files.listFolder(installsFolder(), listing) != 0)
        return {};
    for (const runtime::FolderEntry &entry : listing.entries) {
        if (sequence(entry.name) == number)
            return installsFolder() + '/' + entry.name;
    }
    return {};
}

std::optional<InstallRecord> Store::newestOf(const FolderId &game, const QByteArray &except) const
{
    constexpr int Looked = 8;
    const QByteArray installs = installsFolder();
    Fd all;
    QByteArrayList names;
    if (!game.known() || m_files.openFolderAt(Fd(), installs, all) != 0 ||
        m_files.readFolder(all, names) != 0)
        return std::nullopt;
    names.removeIf([](const QByteArray &name) { return sequence(name) == 0; });
    std::sort(names.begin(), names.end(),
              [](const QByteArray &a, const QByteArray &b) { return sequence(a) > sequence(b); });
    for (const QByteArray &name : names.first(std::min<qsizetype>(names.size(), Looked))) {
        const QByteArray path = installs + '/' + name;
        Fd folder;
        if (path == except || m_files.openFolderAt(all, name, folder) != 0)
            continue;
        try {
            FileStatus header;
            if (m_files.entryStatusAt(folder, HeaderName, header) == 0 &&
                readOne(m_files, folder, HeaderName, path, m_user).game != game)
                continue;
            InstallRecord record = readOne(m_files, folder, RecordName, path, m_user);
            if (record.game == game)
                return record;
        } catch (const RecordsError &) {
        }
    }
    return std::nullopt;
}

int Store::begin(InstallRecord &header, Fd &held) const
{
    const QByteArray installs = installsFolder();
    Fd all;
    QByteArrayList names;
    int error = makeFolders(m_files, installs);
    if (!error)
        error = lockInstalls(m_files, installs, all);
    if (!error)
        error = m_files.readFolder(all, names);
    qint64 last = 0;
    for (const QByteArray &name : std::as_const(names))
        last = std::max(last, sequence(name));
    const QByteArray name = QByteArray::number(last + 1).rightJustified(8, '0') + '-' +
                            header.when.toString(u"yyyyMMdd-HHmmss-zzz"_s).toLatin1() + '-' +
                            QByteArray::number(QRandomGenerator::global()->generate(), 36);
    header.folder = installs + '/' + name;
    header.complete = false;
    if (!error)
        error = m_files.makeFolder(header.folder, 0700);
    if (error)
        return error;
    Fd file;
    error = m_files.openFolderAt(all, name, held);
    if (!error)
        error = m_files.waitForLock(held);
    if (!error)
        error = m_files.createAt(held, HeaderName, 0600, file);
    if (!error)
        error = m_files.write(file, toJson(header));
    if (error) {
        held.reset();
        remove(header.folder);
    }
    return error;
}

int Store::write(const InstallRecord &record) const
{
    Fd folder;
    if (const int error = m_files.openFolderAt(Fd(), record.folder, folder))
        return error;
    const QByteArray next = RecordName + ".new";
    const QByteArray json = toJson(record);
    return retried(m_files, [&] {
        m_files.removeAt(folder, next); // left by a write that was cut short
        Fd fd;
        int error = m_files.createAt(folder, next, 0600, fd);
        if (!error)
            error = m_files.write(fd, json);
        // On the disk before it takes its place: a power cut leaves the record before or
        // this one, never an empty file.
        if (!error)
            error = m_files.flushFile(fd);
        if (!error)
            error = m_files.renameAt(folder, next, folder, RecordName);
        if (!error)
            error = m_files.flushOpenFolder(folder);
        if (error)
            m_files.removeAt(folder, next);
        return error;
    });
}

int Store::markUnrecorded(const QByteArray &folder, int why) const
{
    Fd held;
    if (const int error = m_files.openFolderAt(Fd(), folder, held))
        return error;
    // A record written for the copies put in place so far goes too: it holds less than the
    // install does now.
    const QByteArray mark = UnrecordedPrefix + QByteArray::number(why) + JsonSuffix;
    return retried(m_files, [&] {
        int error = m_files.renameAt(held, RecordName, held, mark);
        if (error == ENOENT)
            error = m_files.renameAt(held, HeaderName, held, mark);
        return error ? error : m_files.flushOpenFolder(held);
    });
}

int Store::remove(const QByteArray &folder, Fd *held) const
{
    // The record goes last: until then a second undo finds it and finishes the work.
    const qsizetype slash = folder.lastIndexOf('/');
    Fd installs, opened;
    if (const int error = m_files.openFolderAt(Fd(), folder.left(slash), installs))
        return error;
    if (!held || !held->isOpen()) {
        if (const int error = m_files.openFolderAt(installs, folder.mid(slash + 1), opened))
            return error;
        held = &opened;
    }
    return removeHeld(m_files, installs, folder.mid(slash + 1), *held);
}

QList<Interrupted> Store::removeInterrupted() const
{
    QList<Interrupted> removed;
    const QByteArray installs = installsFolder();
    Fd all;
    QByteArrayList names;
    if (lockInstalls(m_files, installs, all) != 0 || m_files.readFolder(all, names) != 0)
        return removed;
    for (const QByteArray &name : std::as_const(names)) {
        Fd folder;
        FileStatus record;
        QByteArrayList inside;
        QByteArray mark;
        if (sequence(name) == 0 || m_files.openFolderAt(all, name, folder) != 0 ||
            m_files.entryStatusAt(folder, RecordName, record) != ENOENT ||
            m_files.readFolder(folder, inside) != 0 || unrecordedMark(inside, mark))
            continue;
        // Held by a process that is installing or removing it: not interrupted.
        if (m_files.lock(folder) != 0)
            continue;
        Interrupted interrupted{installs + '/' + name, std::nullopt};
        try {
            if (inside.contains(HeaderName))
                interrupted.header =
                    readOne(m_files, folder, HeaderName, interrupted.folder, m_user);
        } catch (const RecordsError &) {
        }
        if (removeHeld(m_files, all, name, folder) == 0)
            removed.append(interrupted);
    }
    return removed;
}

Store::Forgotten Store::forget(const QByteArray &folder) const
{
    const QByteArray name = folder.mid(folder.lastIndexOf('/') + 1);
    Fd installs, held, forgotten;
    int error = m_files.openFolderAt(Fd(), installsFolder(), installs);
    if (!error)
        error = m_files.openFolderAt(installs, name, held);
    if (!error)
        error = m_files.waitForLock(held);
    if (error)
        raiseSystem(error, Step::Forget, shown(folder));
    Forgotten result{forgottenFolder() + '/' + name, std::nullopt, {}};
    for (const QByteArray &file : {RecordName, HeaderName}) {
        try {
            result.record = readOne(m_files, held, file, folder, m_user);
            break;
        } catch (const RecordsError &) {
        }
    }
    error = makeFolders(m_files, forgottenFolder());
    if (!error)
        error = m_files.openFolderAt(Fd(), forgottenFolder(), forgotten);
    // A folder held open is not shared for a rename (Windows): it is let go, its record read.
    held.reset();
    if (!error)
        error = m_files.renameAt(installs, name, forgotten, name);
    if (error)
        raiseSystem(error, Step::Forget, shown(folder));
    m_files.flushOpenFolder(installs);
    m_files.flushOpenFolder(forgotten);
    // Opened again where it is now.
    m_files.openFolderAt(forgotten, name, held);
    // Named after what they were in the game, numbered, as two may share a name.
    for (const Change &change : result.record ? result.record->changes : QList<Change>()) {
        if (change.kept.isEmpty())
            continue;
        const QByteArray kept = change.kept.toLatin1();
        const QByteArray named =
            kept.mid(5) + ' ' + change.target.mid(change.target.lastIndexOf('/') + 1);
        const bool renamed = m_files.renameAt(held, kept, held, named) == 0;
        result.kept.append({change.shown, renamed ? named : kept});
    }
    m_files.flushOpenFolder(held);
    return result;
}

int Store::writeNote(const QByteArray &folder, const QByteArray &name, const QByteArray &text) const
{
    Fd held, file;
    int error = m_files.openFolderAt(Fd(), folder, held);
    if (!error)
        error = m_files.createAt(held, name, 0600, file);
    if (!error)
        error = m_files.write(file, text);
    if (!error)
        error = m_files.flushFile(file);
    return error;
}

qint64 Store::space(const QByteArray &folder) const
{
    Fd held;
    QByteArrayList names;
    if (m_files.openFolderAt(Fd(), folder, held) != 0 || m_files.readFolder(held, names) != 0)
        return 0;
    qint64 bytes = 0;
    for (const QByteArray &name : std::as_const(names)) {
        FileStatus status;
        if (m_files.entryStatusAt(held, name, status) == 0 && status.isRegular() &&
            status.links == 1)
            bytes += status.size;
    }
    return bytes;
}

int holdFolder(runtime::FileSystem &files, const QByteArray &folder, Fd &held)
{
    if (const int error = files.openFolderAt(Fd(), folder, held))
        return error;
    return files.waitForLock(held);
}

int makeFolders(runtime::FileSystem &files, const QByteArray &path)
{
    FileStatus status;
    if (files.status(path, status) == 0)
        return status.isFolder() ? 0 : ENOTDIR;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0) {
        if (const int error = makeFolders(files, path.left(slash)))
            return error;
    }
    // The records hold what the player's games held: they are his alone to read.
    const int error = files.makePrivateFolder(path);
    return error == EEXIST ? 0 : error;
}

} // namespace records
