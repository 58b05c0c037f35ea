// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/records.h"

#include "runtime/hostpath.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>

using namespace Qt::StringLiterals;
using runtime::Error;
using runtime::ErrorKind;
using runtime::FileStatus;
using runtime::Operation;

namespace records {

namespace {

const QByteArray RecordName = "record.json";
constexpr qint64 MaxRecordSize = 64 << 20;

// Host paths are bytes: stored percent-encoded, so that any name survives JSON.
QString pathText(const QByteArray &path)
{
    return QString::fromLatin1(path.toPercentEncoding("/ "));
}

// The names of the error kinds and operations as records store them: fixed here, so that a
// renamed enumerator leaves old records readable.
constexpr std::pair<ErrorKind, const char *> KindNames[] = {
    {ErrorKind::System, "System"},
    {ErrorKind::NotFound, "NotFound"},
    {ErrorKind::ReadOnly, "ReadOnly"},
    {ErrorKind::AmbiguousName, "AmbiguousName"},
    {ErrorKind::NameTooLong, "NameTooLong"},
    {ErrorKind::NulInPath, "NulInPath"},
    {ErrorKind::DriveNotReady, "DriveNotReady"},
    {ErrorKind::WildcardInFolder, "WildcardInFolder"},
    {ErrorKind::NoFileName, "NoFileName"},
    {ErrorKind::NoCurrentFolder, "NoCurrentFolder"},
    {ErrorKind::NotANumber, "NotANumber"},
    {ErrorKind::CutShort, "CutShort"},
    {ErrorKind::NotAnInteger, "NotAnInteger"},
    {ErrorKind::OutOfRange, "OutOfRange"},
    {ErrorKind::TooLarge, "TooLarge"},
    {ErrorKind::TooManyRecords, "TooManyRecords"},
    {ErrorKind::NoSuchRecord, "NoSuchRecord"},
    {ErrorKind::NameTaken, "NameTaken"},
    {ErrorKind::NoDialog, "NoDialog"},
    {ErrorKind::DamagedRecord, "DamagedRecord"},
    {ErrorKind::NewerRecord, "NewerRecord"},
    {ErrorKind::NoDataFolder, "NoDataFolder"},
    {ErrorKind::NotRecorded, "NotRecorded"},
    {ErrorKind::NotOwnRecords, "NotOwnRecords"},
    {ErrorKind::NotNewest, "NotNewest"},
};
constexpr std::pair<Operation, const char *> OperationNames[] = {
    {Operation::Resolve, "Resolve"},
    {Operation::ReadFolder, "ReadFolder"},
    {Operation::Open, "Open"},
    {Operation::Access, "Access"},
    {Operation::CreateTemporary, "CreateTemporary"},
    {Operation::Lock, "Lock"},
    {Operation::Copy, "Copy"},
    {Operation::SetMode, "SetMode"},
    {Operation::Flush, "Flush"},
    {Operation::Rename, "Rename"},
    {Operation::MakeFolder, "MakeFolder"},
    {Operation::ReadText, "ReadText"},
    {Operation::ParseText, "ParseText"},
    {Operation::ShowDialog, "ShowDialog"},
    {Operation::Keep, "Keep"},
    {Operation::ReadRecord, "ReadRecord"},
    {Operation::WriteRecord, "WriteRecord"},
    {Operation::Restore, "Restore"},
    {Operation::Remove, "Remove"},
};

template <typename Enum, std::size_t N>
QString nameOf(const std::pair<Enum, const char *> (&names)[N], Enum value)
{
    for (const auto &[known, name] : names) {
        if (known == value)
            return QString::fromLatin1(name);
    }
    return {};
}

const char *actionName(Change::Action action)
{
    switch (action) {
    case Change::Replaced:
        return "replaced";
    case Change::Created:
        return "created";
    case Change::MadeFolder:
        return "folder";
    }
    return "";
}

QJsonObject identityJson(const Identity &identity)
{
    QJsonObject object{{u"device"_s, QString::number(identity.device)},
                       {u"inode"_s, QString::number(identity.inode)},
                       {u"size"_s, QString::number(identity.size)},
                       {u"modified"_s, QString::number(identity.modified)},
                       {u"mode"_s, qint64(identity.mode)},
                       {u"owner"_s, qint64(identity.owner)},
                       {u"group"_s, qint64(identity.group)}};
    if (!identity.digest.isEmpty())
        object.insert(QString::fromLatin1(runtime::hashName),
                      QString::fromLatin1(identity.digest.toHex()));
    if (identity.link)
        object.insert(u"link"_s, true);
    return object;
}

QJsonObject folderJson(const FolderId &folder)
{
    return {{u"device"_s, QString::number(folder.device)},
            {u"inode"_s, QString::number(folder.inode)}};
}

QJsonObject errorJson(const Error &error)
{
    return {{u"kind"_s, nameOf(KindNames, error.kind)},
            {u"operation"_s, nameOf(OperationNames, error.operation)},
            {u"code"_s, error.code},
            {u"path"_s, error.path},
            {u"detail"_s, error.detail}};
}

// Reads the fields of a record, each of the type it must have; anything else is damage.
class Reader
{
public:
    [[noreturn]] static void damaged(Damage damage, const QString &detail = {})
    {
        throw runtime::RuntimeError(
            {ErrorKind::DamagedRecord, Operation::ReadRecord, int(damage), {}, detail, 0});
    }

    static QJsonValue field(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = object.value(name);
        if (value.isUndefined())
            damaged(Damage::MissingField, name);
        return value;
    }
    static QString text(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isString())
            damaged(Damage::NotText, name);
        return value.toString();
    }
    static QByteArray path(const QJsonObject &object, const QString &name)
    {
        const QString value = text(object, name);
        for (const QChar c : value) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7e)
                damaged(Damage::NotAPath, name);
        }
        return QByteArray::fromPercentEncoding(value.toLatin1());
    }
    static qint64 integer(const QJsonObject &object, const QString &name, qint64 max)
    {
        const QJsonValue value = field(object, name);
        if (!value.isDouble() || value.toDouble() != double(value.toInteger()) ||
            value.toInteger() < 0 || value.toInteger() > max)
            damaged(Damage::NotANumber, name);
        return value.toInteger();
    }
    static bool flag(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isBool())
            damaged(Damage::NotAFlag, name);
        return value.toBool();
    }
    // A 64-bit number, written as text.
    template <typename Number> static Number big(const QJsonObject &object, const QString &name)
    {
        bool ok = false;
        const QString value = text(object, name);
        const Number number = std::is_signed_v<Number> ? Number(value.toLongLong(&ok))
                                                       : Number(value.toULongLong(&ok));
        if (!ok || (std::is_signed_v<Number> && number < 0))
            damaged(Damage::NotANumber, name);
        return number;
    }
    static QJsonObject object(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isObject())
            damaged(Damage::NotAnObject, name);
        return value.toObject();
    }
    static QJsonArray array(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isArray())
            damaged(Damage::NotAList, name);
        return value.toArray();
    }

    static Identity identity(const QJsonObject &object)
    {
        Identity identity{big<quint64>(object, u"device"_s),
                          big<quint64>(object, u"inode"_s),
                          big<qint64>(object, u"size"_s),
                          big<qint64>(object, u"modified"_s),
                          quint32(integer(object, u"mode"_s, 07777)),
                          quint32(integer(object, u"owner"_s, 0xffffffff)),
                          quint32(integer(object, u"group"_s, 0xffffffff)),
                          {},
                          object.contains(u"link"_s) && flag(object, u"link"_s)};
        const QString digestName = QString::fromLatin1(runtime::hashName);
        if (object.contains(digestName)) {
            const QString hex = text(object, digestName);
            identity.digest = QByteArray::fromHex(hex.toLatin1());
            if (hex.size() != 64 || identity.digest.toHex() != hex.toLatin1())
                damaged(Damage::NotText, digestName);
        }
        return identity;
    }
    static FolderId folder(const QJsonObject &object)
    {
        return {big<quint64>(object, u"device"_s), big<quint64>(object, u"inode"_s)};
    }

    template <typename Enum, std::size_t N>
    static Enum named(const std::pair<Enum, const char *> (&names)[N], const QJsonObject &object,
                      const QString &name)
    {
        const QString value = text(object, name);
        for (const auto &[known, spelt] : names) {
            if (value == QLatin1StringView(spelt))
                return known;
        }
        damaged(Damage::UnknownValue, name);
    }

    static Error error(const QJsonObject &object)
    {
        return {named(KindNames, object, u"kind"_s),
                named(OperationNames, object, u"operation"_s),
                int(integer(object, u"code"_s, 4095)),
                text(object, u"path"_s),
                text(object, u"detail"_s),
                0};
    }

    // Only what lies inside the game folder can be changed by an undo, and only kept files
    // of the record's own folder be put back.
    static Change change(const QJsonObject &object, const QByteArray &gameHost)
    {
        Change change;
        const QString action = text(object, u"action"_s);
        if (action == u"replaced"_s)
            change.action = Change::Replaced;
        else if (action == u"created"_s)
            change.action = Change::Created;
        else if (action == u"folder"_s)
            change.action = Change::MadeFolder;
        else
            damaged(Damage::UnknownValue, u"action"_s);
        change.shown = text(object, u"shown"_s);
        change.target = path(object, u"target"_s);
        const QByteArray inside = gameHost.endsWith('/') ? gameHost : gameHost + '/';
        if (!change.target.startsWith(inside) || change.target.size() == inside.size() ||
            change.target.endsWith('/') || ('/' + change.target + '/').contains("/../") ||
            ('/' + change.target + '/').contains("/./") || change.target.contains("//"))
            damaged(Damage::OutsideGame, change.shown);
        if (change.action == Change::MadeFolder)
            return change;
        change.written = identity(Reader::object(object, u"written"_s));
        if (object.contains(u"linkedFolder"_s))
            change.linkedFolder = folder(Reader::object(object, u"linkedFolder"_s));
        if (change.action == Change::Created)
            return change;
        change.previous = identity(Reader::object(object, u"previous"_s));
        change.kept = text(object, u"kept"_s);
        static const QRegularExpression keptName(u"^(kept-[0-9]{1,9})?$"_s);
        if (!keptName.match(change.kept).hasMatch())
            damaged(Damage::BadKeptName, change.kept);
        if (object.contains(u"notKept"_s))
            change.notKept = error(Reader::object(object, u"notKept"_s));
        return change;
    }
};

} // namespace

Identity Identity::of(const FileStatus &status, const QByteArray &digest)
{
    return {status.device, status.inode, status.size, status.modified, status.permissions(),
            status.owner,  status.group, digest,      status.isLink()};
}

bool Identity::mayBe(const FileStatus &status) const
{
    return status.size == size && (!digest.isEmpty() || status.modified == modified);
}

int InstallRecord::files() const
{
    return int(std::count_if(changes.begin(), changes.end(),
                             [](const Change &c) { return c.action != Change::MadeFolder; }));
}

QByteArray toJson(const InstallRecord &record)
{
    QJsonArray changes;
    for (const Change &change : record.changes) {
        QJsonObject object{{u"action"_s, QString::fromLatin1(actionName(change.action))},
                           {u"shown"_s, change.shown},
                           {u"target"_s, pathText(change.target)}};
        if (change.action != Change::MadeFolder)
            object.insert(u"written"_s, identityJson(change.written));
        if (change.linkedFolder)
            object.insert(u"linkedFolder"_s, folderJson(*change.linkedFolder));
        if (change.action == Change::Replaced) {
            object.insert(u"previous"_s, identityJson(change.previous));
            object.insert(u"kept"_s, change.kept);
            if (change.notKept)
                object.insert(u"notKept"_s, errorJson(*change.notKept));
        }
        changes.append(object);
    }
    QJsonArray colours;
    for (int colour : record.colours)
        colours.append(colour);
    QJsonObject root{{u"format"_s, Format},
                     {u"when"_s, record.when.toString(Qt::ISODateWithMs)},
                     {u"gameFolder"_s, record.gameFolder},
                     {u"gameHost"_s, pathText(record.gameHost)},
                     {u"game"_s, folderJson(record.game)},
                     {u"car"_s, record.car},
                     {u"carModel"_s, record.carModel},
                     {u"colours"_s, colours},
                     {u"undone"_s, record.undone},
                     {u"complete"_s, record.complete},
                     {u"changes"_s, changes}};
    if (record.notWritten)
        root.insert(u"notWritten"_s, errorJson(*record.notWritten));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

InstallRecord fromJson(const QByteArray &json, const QByteArray &folder)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull())
        Reader::damaged(Damage::NotJson, QString::number(parseError.offset));
    if (!document.isObject())
        Reader::damaged(Damage::NotAnObject);
    const QJsonObject root = document.object();
    const QJsonValue format = root.value(u"format"_s);
    if (!format.isDouble() || format.toInteger() < 1)
        Reader::damaged(Damage::NoFormat);
    if (format.toInteger() > Format)
        runtime::raise(ErrorKind::NewerRecord, Operation::ReadRecord, {},
                       QString::number(format.toInteger()));

    InstallRecord record;
    record.folder = folder;
    record.when = QDateTime::fromString(Reader::text(root, u"when"_s), Qt::ISODateWithMs);
    if (!record.when.isValid())
        Reader::damaged(Damage::BadDate, u"when"_s);
    record.when = record.when.toUTC();
    record.gameFolder = Reader::text(root, u"gameFolder"_s);
    record.gameHost = Reader::path(root, u"gameHost"_s);
    if (!runtime::isAbsoluteHost(record.gameHost))
        Reader::damaged(Damage::NotFromRoot, u"gameHost"_s);
    // Version 1 knew neither the game folder's identity nor records cut short.
    if (format.toInteger() >= 2) {
        record.game = Reader::folder(Reader::object(root, u"game"_s));
        record.complete = Reader::flag(root, u"complete"_s);
        if (root.contains(u"notWritten"_s))
            record.notWritten = Reader::error(Reader::object(root, u"notWritten"_s));
    }
    record.car = Reader::text(root, u"car"_s);
    record.carModel = Reader::text(root, u"carModel"_s);
    for (const QJsonValue colour : Reader::array(root, u"colours"_s)) {
        if (!colour.isDouble() || colour.toInteger() < 1 || colour.toInteger() > 4)
            Reader::damaged(Damage::UnknownValue, u"colours"_s);
        record.colours.append(int(colour.toInteger()));
    }
    record.undone = Reader::flag(root, u"undone"_s);
    for (const QJsonValue change : Reader::array(root, u"changes"_s)) {
        if (!change.isObject())
            Reader::damaged(Damage::NotAnObject, u"changes"_s);
        record.changes.append(Reader::change(change.toObject(), record.gameHost));
    }
    return record;
}

qint64 sequence(const QByteArray &folder)
{
    const QByteArray name = folder.mid(folder.lastIndexOf('/') + 1);
    // A game folder's lock file, "<volume>-<index>.lock", is none, whatever digits its
    // volume's number has (a Windows serial number may have only decimal ones).
    if (name.endsWith(".lock"))
        return 0;
    const qsizetype dash = name.indexOf('-');
    bool ok = false;
    const qint64 number = name.left(dash).toLongLong(&ok);
    return ok && dash > 0 ? number : 0;
}

QByteArray installsFolder(const QByteArray &dataFolder)
{
    return dataFolder + "/installs";
}

namespace {

// Whether a folder or file of the records is the user's own, and no one else's to change.
bool ownOnly(const FileStatus &status, quint32 user)
{
    return status.owner == user && (status.permissions() & 022) == 0;
}

// Reads one record from its folder, held open: nothing is followed, and only the user's
// own regular file is read.
InstallRecord readOne(runtime::FileSystem &files, const runtime::Fd &folder, const QByteArray &path,
                      quint32 user)
{
    FileStatus status;
    if (files.status(folder, status) != 0 || !ownOnly(status, user))
        Reader::damaged(Damage::Foreign);
    runtime::Fd fd;
    if (const int error = files.openEntryAt(folder, RecordName, fd))
        error == ELOOP ? Reader::damaged(Damage::NotAFile)
                       : runtime::raiseSystem(error, Operation::ReadRecord);
    if (files.status(fd, status) != 0 || !status.isRegular())
        Reader::damaged(Damage::NotAFile);
    if (!ownOnly(status, user))
        Reader::damaged(Damage::Foreign);
    if (status.size > MaxRecordSize)
        runtime::raise(ErrorKind::TooLarge, Operation::ReadRecord, {},
                       QString::number(MaxRecordSize));
    QByteArray bytes;
    if (const int error = files.read(fd, MaxRecordSize + 1, bytes))
        runtime::raiseSystem(error, Operation::ReadRecord);
    return fromJson(bytes, path);
}

// The game folder a damaged record names, where that much of it can be read.
QByteArray gameHostOf(runtime::FileSystem &files, const runtime::Fd &folder)
{
    runtime::Fd fd;
    FileStatus status;
    if (files.openEntryAt(folder, RecordName, fd) != 0 || files.status(fd, status) != 0 ||
        !status.isRegular() || status.size > MaxRecordSize)
        return {};
    QByteArray bytes;
    if (files.read(fd, MaxRecordSize, bytes) != 0)
        return {};
    const QJsonValue host = QJsonDocument::fromJson(bytes).object().value(u"gameHost"_s);
    return host.isString() ? QByteArray::fromPercentEncoding(host.toString().toLatin1())
                           : QByteArray();
}

// Removes the files of an open record folder, the record last, then the folder.
int removeHeld(runtime::FileSystem &files, const runtime::Fd &installs, const QByteArray &name,
               const runtime::Fd &folder)
{
    QByteArrayList names;
    if (const int error = files.readFolder(folder, names))
        return error;
    for (const QByteArray &entry : std::as_const(names)) {
        if (entry != RecordName)
            files.removeAt(folder, entry);
    }
    files.removeAt(folder, RecordName);
    const int error = files.removeFolderAt(installs, name);
    files.flushOpenFolder(installs);
    return error;
}

} // namespace

Records readAll(runtime::FileSystem &files, const QByteArray &dataFolder, quint32 user)
{
    Records result;
    const QByteArray installs = installsFolder(dataFolder);
    runtime::Fd folder;
    if (const int error = files.openFolderAt(runtime::Fd(), installs, folder))
        error == ENOENT
            ? void()
            : runtime::raiseSystem(error, Operation::ReadFolder, runtime::decodeName(installs));
    if (!folder.isOpen())
        return result;
    FileStatus status;
    if (files.status(folder, status) != 0 || !ownOnly(status, user))
        runtime::raise(ErrorKind::NotOwnRecords, Operation::ReadRecord,
                       runtime::decodeName(installs));
    QByteArrayList names;
    if (const int error = files.readFolder(folder, names))
        runtime::raiseSystem(error, Operation::ReadFolder, runtime::decodeName(installs));
    for (const QByteArray &name : std::as_const(names)) {
        FileStatus entry;
        if (sequence(name) == 0 || files.entryStatusAt(folder, name, entry) != 0 ||
            !entry.isFolder())
            continue;
        const QByteArray path = installs + '/' + name;
        runtime::Fd record;
        if (files.openFolderAt(folder, name, record) != 0)
            continue;
        if (FileStatus json; files.entryStatusAt(record, RecordName, json) == ENOENT)
            continue; // never written, or being removed
        try {
            result.good.append(readOne(files, record, path, user));
        } catch (const runtime::RuntimeError &error) {
            runtime::Error named = error.error();
            named.path = runtime::decodeName(path + '/' + RecordName);
            result.damaged.append({path, named, gameHostOf(files, record)});
        }
    }
    // Installs into one game folder are numbered in the order they ran: the clock may go
    // back, or two installs fall in one millisecond.
    std::stable_sort(result.good.begin(), result.good.end(), [](const auto &a, const auto &b) {
        const qint64 first = sequence(a.folder), second = sequence(b.folder);
        if (first != second)
            return first > second;
        return a.when != b.when ? a.when > b.when : a.folder > b.folder;
    });
    return result;
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
    const int error = files.makeFolder(path, 0700);
    return error == EEXIST ? 0 : error;
}

int write(runtime::FileSystem &files, const InstallRecord &record)
{
    runtime::Fd folder;
    int error = files.openFolderAt(runtime::Fd(), record.folder, folder);
    if (error)
        return error;
    const QByteArray next = RecordName + ".new";
    runtime::Fd fd;
    error = files.createAt(folder, next, 0600, fd);
    if (error == EEXIST) { // left by a write that was cut short
        files.removeAt(folder, next);
        error = files.createAt(folder, next, 0600, fd);
    }
    if (!error)
        error = files.write(fd, toJson(record));
    // On the disk before it takes the place of the record before: a power cut leaves the
    // one or the other, never an empty file.
    if (!error)
        error = files.flushFile(fd);
    if (!error)
        error = files.renameAt(folder, next, folder, RecordName);
    if (error)
        files.removeAt(folder, next);
    return error;
}

int remove(runtime::FileSystem &files, const QByteArray &folder)
{
    // The record goes last: until then a second undo finds it and finishes the work.
    const qsizetype slash = folder.lastIndexOf('/');
    runtime::Fd installs, held;
    if (const int error = files.openFolderAt(runtime::Fd(), folder.left(slash), installs))
        return error;
    if (const int error = files.openFolderAt(installs, folder.mid(slash + 1), held))
        return error;
    return removeHeld(files, installs, folder.mid(slash + 1), held);
}

void removeAbandoned(runtime::FileSystem &files, const QByteArray &dataFolder)
{
    runtime::Fd installs;
    QByteArrayList names;
    if (files.openFolderAt(runtime::Fd(), installsFolder(dataFolder), installs) != 0 ||
        files.readFolder(installs, names) != 0)
        return;
    for (const QByteArray &name : std::as_const(names)) {
        runtime::Fd folder;
        FileStatus record;
        if (sequence(name) == 0 || files.openFolderAt(installs, name, folder) != 0 ||
            files.entryStatusAt(folder, RecordName, record) != ENOENT)
            continue;
        // Held by a process that is writing it or removing it: not abandoned.
        if (files.lock(folder) == 0)
            removeHeld(files, installs, name, folder);
    }
}

int holdFolder(runtime::FileSystem &files, const QByteArray &folder, runtime::Fd &held)
{
    if (const int error = files.openFolderAt(runtime::Fd(), folder, held))
        return error;
    return files.waitForLock(held);
}

int FolderLock::take(runtime::FileSystem &files, const QByteArray &dataFolder,
                     const FileStatus &game, const std::function<void()> &waiting)
{
    const QByteArray installs = installsFolder(dataFolder);
    if (const int error = makeFolders(files, installs))
        return error;
    m_path = installs + '/' + QByteArray::number(game.device, 16) + '-' +
             QByteArray::number(game.inode, 16) + ".lock";
    for (;;) {
        m_fd.reset();
        int error = files.create(m_path, m_fd);
        if (error == EEXIST)
            error = files.open(m_path, m_fd);
        if (error == ENOENT)
            continue; // removed between the two
        if (error)
            return error;
        error = files.lock(m_fd);
        if (error == EWOULDBLOCK) {
            if (waiting)
                waiting();
            error = files.waitForLock(m_fd);
        }
        if (error)
            return error;
        // The holder before may have removed the file: then this lock locks nothing.
        FileStatus held, now;
        if (files.status(m_fd, held) == 0 && files.status(m_path, now) == 0 &&
            held.device == now.device && held.inode == now.inode)
            return 0;
    }
}

void FolderLock::remove(runtime::FileSystem &files)
{
    if (m_fd.isOpen())
        files.remove(m_path);
}

InstallJournal::InstallJournal(runtime::FileSystem &files, const QByteArray &dataFolder,
                               InstallRecord header)
    : m_files(files), m_record(std::move(header))
{
    // Numbered after the last install recorded: those into one game folder take turns.
    const QByteArray installs = installsFolder(dataFolder);
    qint64 last = 0;
    runtime::FolderListing listing;
    if (files.listFolder(installs, listing) == 0)
        for (const runtime::FolderEntry &entry : listing.entries)
            last = std::max(last, sequence(entry.name));
    const QByteArray name = QByteArray::number(last + 1).rightJustified(8, '0') + '-' +
                            m_record.when.toString(u"yyyyMMdd-HHmmss-zzz"_s).toLatin1() + '-' +
                            QByteArray::number(QRandomGenerator::global()->generate(), 36);
    m_record.folder = installs + '/' + name;
    m_record.complete = false;
    FileStatus game;
    if (m_files.status(m_record.gameHost, game) == 0)
        m_record.game = {game.device, game.inode};
    int error = makeFolders(m_files, m_record.folder);
    if (!error)
        error = holdFolder(m_files, m_record.folder, m_held);
    // The record is there before anything is kept, so that nothing kept is ever without one;
    // until it is written whole, it says that it is not.
    if (!error)
        error = records::write(m_files, m_record);
    m_writable = error == 0;
    if (!m_writable)
        m_unwritable = runtime::systemError(error, Operation::WriteRecord,
                                            runtime::decodeName(m_record.folder));
}

InstallJournal::~InstallJournal() = default;

QString InstallJournal::shown(const QString &destination) const
{
    const QString &game = m_record.gameFolder;
    return destination.startsWith(game) ? destination.mid(game.size()).remove(0, 1) : destination;
}

// The folder of a file the install reached through a link inside the game folder; asked
// once a folder.
std::optional<FolderId> InstallJournal::linkedFolder(const QByteArray &target)
{
    const QByteArray game = m_record.gameHost;
    const QByteArray folder = target.left(target.lastIndexOf('/'));
    const auto known = m_linkedFolders.constFind(folder);
    if (known != m_linkedFolders.cend())
        return *known;
    std::optional<FolderId> linked;
    for (qsizetype at = game.size() + 1; folder.startsWith(game + '/') && at <= folder.size();) {
        qsizetype end = folder.indexOf('/', at);
        if (end < 0)
            end = folder.size();
        FileStatus status, reached;
        if (m_files.entryStatus(folder.left(end), status) == 0 && status.isLink()) {
            if (m_files.status(folder, reached) == 0)
                linked = FolderId{reached.device, reached.inode};
            break;
        }
        at = end + 1;
    }
    m_linkedFolders.insert(folder, linked);
    return linked;
}

void InstallJournal::replacing(const QString &destination, const QByteArray &target,
                               const std::optional<FileStatus> &replaced, const FileStatus &made)
{
    Change change;
    change.shown = shown(destination);
    change.target = target;
    change.written = Identity::of(made);
    change.linkedFolder = linkedFolder(target);
    if (!replaced) {
        m_record.changes.append(change);
        return;
    }
    change.action = Change::Replaced;
    // What is replaced is the entry itself: a link in the game folder is kept as a link.
    FileStatus entry = *replaced;
    m_files.entryStatus(target, entry);
    change.previous = Identity::of(entry);
    const auto notKept = [&](int error) {
        change.notKept = runtime::systemError(error, Operation::Keep, change.shown);
    };
    if (!m_writable) {
        change.notKept = m_unwritable;
    } else {
        const QString name = u"kept-%1"_s.arg(m_record.changes.size());
        const QByteArray kept = m_record.folder + '/' + name.toLatin1();
        // A second name of the replaced file costs nothing; elsewhere it is cloned or copied.
        const int linked = m_files.link(target, kept);
        if (linked == 0) {
            change.kept = name;
        } else if (!entry.isRegular()) {
            notKept(linked);
        } else {
            runtime::Fd in, out;
            bool cloned = false;
            int error = m_files.open(target, in);
            if (!error)
                error = m_files.createAt(m_held, name.toLatin1(), 0600, out);
            if (!error)
                error = m_files.copy(in, out, replaced->size, cloned);
            if (error) {
                if (out.isOpen())
                    m_files.remove(kept);
                notKept(error);
            } else {
                change.kept = name;
                m_copies.append(kept);
            }
        }
    }
    m_record.changes.append(change);
}

void InstallJournal::madeFolder(const QString &destination, const QByteArray &path)
{
    Change change;
    change.action = Change::MadeFolder;
    change.shown = shown(destination);
    change.target = path;
    m_record.changes.append(change);
}

QByteArray InstallJournal::write()
{
    if (!m_writable)
        return {};
    m_record.complete = true;
    if (const int error = records::write(m_files, m_record)) {
        // The install goes on unrecorded: its record says so, where it still can.
        m_record.complete = false;
        m_record.changes.clear();
        m_record.notWritten = runtime::systemError(error, Operation::WriteRecord,
                                                   runtime::decodeName(m_record.folder));
        records::write(m_files, m_record);
        m_writable = false;
        return {};
    }
    return m_record.folder;
}

void InstallJournal::flushEach()
{
    for (const QByteArray &path :
         std::as_const(m_copies) + QList<QByteArray>{m_record.folder + '/' + RecordName}) {
        runtime::Fd fd;
        if (m_files.open(path, fd) == 0)
            m_files.flushFile(fd);
    }
    m_files.flushFolder(m_record.folder);
    const QByteArray installs = m_record.folder.left(m_record.folder.lastIndexOf('/'));
    m_files.flushFolder(installs);
    m_files.flushFolder(installs.left(installs.lastIndexOf('/')));
}

// The record as written before the flush is whole without them: an undo then knows the files
// by their size and time. With them, by their data too.
void InstallJournal::digests(const QHash<QByteArray, QByteArray> &ofTargets)
{
    if (!m_writable || !m_record.complete)
        return;
    bool learnt = false;
    for (Change &change : m_record.changes) {
        const auto digest = ofTargets.constFind(change.target);
        if (change.action != Change::MadeFolder && digest != ofTargets.cend() &&
            change.written.digest != *digest) {
            change.written.digest = *digest;
            learnt = true;
        }
    }
    if (learnt)
        records::write(m_files, m_record);
}

void InstallJournal::finish(bool wroteAny)
{
    if (m_writable && !wroteAny)
        remove(m_files, m_record.folder);
}

} // namespace records
