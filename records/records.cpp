#include "records/records.h"

#include "runtime/hostpath.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
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
    return {{u"device"_s, QString::number(identity.device)},
            {u"inode"_s, QString::number(identity.inode)},
            {u"size"_s, QString::number(identity.size)},
            {u"modified"_s, QString::number(identity.modified)},
            {u"mode"_s, qint64(identity.mode)},
            {u"owner"_s, qint64(identity.owner)},
            {u"group"_s, qint64(identity.group)}};
}

template <typename Enum> QString enumKey(Enum value)
{
    return QString::fromLatin1(QMetaEnum::fromType<Enum>().valueToKey(int(value)));
}

QJsonObject errorJson(const Error &error)
{
    return {{u"kind"_s, enumKey(error.kind)},
            {u"operation"_s, enumKey(error.operation)},
            {u"code"_s, error.code},
            {u"path"_s, error.path},
            {u"detail"_s, error.detail}};
}

// Reads the fields of a record, each of the type it must have; anything else is damage.
class Reader
{
public:
    [[noreturn]] static void damaged(const QString &what)
    {
        runtime::raise(ErrorKind::DamagedRecord, Operation::ReadRecord, {}, what);
    }

    static QJsonValue field(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = object.value(name);
        if (value.isUndefined())
            damaged(u"нет поля «%1»"_s.arg(name));
        return value;
    }
    static QString text(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isString())
            damaged(u"поле «%1» не строка"_s.arg(name));
        return value.toString();
    }
    static QByteArray path(const QJsonObject &object, const QString &name)
    {
        const QString value = text(object, name);
        for (const QChar c : value) {
            if (c.unicode() < 0x20 || c.unicode() > 0x7e)
                damaged(u"поле «%1» не путь"_s.arg(name));
        }
        return QByteArray::fromPercentEncoding(value.toLatin1());
    }
    static qint64 integer(const QJsonObject &object, const QString &name, qint64 max)
    {
        const QJsonValue value = field(object, name);
        if (!value.isDouble() || value.toDouble() != double(value.toInteger()) ||
            value.toInteger() < 0 || value.toInteger() > max)
            damaged(u"поле «%1» не число от 0 до %2"_s.arg(name).arg(max));
        return value.toInteger();
    }
    // A 64-bit number, written as text.
    template <typename Number> static Number big(const QJsonObject &object, const QString &name)
    {
        bool ok = false;
        const QString value = text(object, name);
        const Number number = std::is_signed_v<Number> ? Number(value.toLongLong(&ok))
                                                       : Number(value.toULongLong(&ok));
        if (!ok || (std::is_signed_v<Number> && number < 0))
            damaged(u"поле «%1» не число"_s.arg(name));
        return number;
    }
    static QJsonObject object(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isObject())
            damaged(u"поле «%1» не объект"_s.arg(name));
        return value.toObject();
    }
    static QJsonArray array(const QJsonObject &object, const QString &name)
    {
        const QJsonValue value = field(object, name);
        if (!value.isArray())
            damaged(u"поле «%1» не список"_s.arg(name));
        return value.toArray();
    }

    static Identity identity(const QJsonObject &object)
    {
        return {big<quint64>(object, u"device"_s),
                big<quint64>(object, u"inode"_s),
                big<qint64>(object, u"size"_s),
                big<qint64>(object, u"modified"_s),
                quint32(integer(object, u"mode"_s, 07777)),
                quint32(integer(object, u"owner"_s, 0xffffffff)),
                quint32(integer(object, u"group"_s, 0xffffffff))};
    }

    template <typename Enum> static Enum enumValue(const QJsonObject &object, const QString &name)
    {
        bool ok = false;
        const int value =
            QMetaEnum::fromType<Enum>().keyToValue(text(object, name).toLatin1().constData(), &ok);
        if (!ok)
            damaged(u"поле «%1» неизвестно"_s.arg(name));
        return Enum(value);
    }

    static Error error(const QJsonObject &object)
    {
        return {enumValue<ErrorKind>(object, u"kind"_s),
                enumValue<Operation>(object, u"operation"_s),
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
            damaged(u"неизвестное действие «%1»"_s.arg(action));
        change.shown = text(object, u"shown"_s);
        change.target = path(object, u"target"_s);
        const QByteArray inside = gameHost.endsWith('/') ? gameHost : gameHost + '/';
        if (!change.target.startsWith(inside) || change.target.size() == inside.size() ||
            change.target.endsWith('/') || ('/' + change.target + '/').contains("/../") ||
            ('/' + change.target + '/').contains("/./") || change.target.contains("//"))
            damaged(u"файл «%1» вне папки игры"_s.arg(change.shown));
        if (change.action == Change::MadeFolder)
            return change;
        change.written = identity(Reader::object(object, u"written"_s));
        if (change.action == Change::Created)
            return change;
        change.previous = identity(Reader::object(object, u"previous"_s));
        change.kept = text(object, u"kept"_s);
        static const QRegularExpression keptName(u"^(kept-[0-9]{1,9})?$"_s);
        if (!keptName.match(change.kept).hasMatch())
            damaged(u"неверное имя сохранённого файла «%1»"_s.arg(change.kept));
        if (object.contains(u"notKept"_s))
            change.notKept = error(Reader::object(object, u"notKept"_s));
        return change;
    }
};

} // namespace

Identity Identity::of(const FileStatus &status)
{
    return {status.device,        status.inode, status.size, status.modified,
            status.permissions(), status.owner, status.group};
}

bool Identity::matches(const FileStatus &status) const
{
    return status.size == size && status.modified == modified;
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
    const QJsonObject root{{u"format"_s, Format},
                           {u"when"_s, record.when.toString(Qt::ISODateWithMs)},
                           {u"gameFolder"_s, record.gameFolder},
                           {u"gameHost"_s, pathText(record.gameHost)},
                           {u"car"_s, record.car},
                           {u"carModel"_s, record.carModel},
                           {u"colours"_s, colours},
                           {u"undone"_s, record.undone},
                           {u"changes"_s, changes}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

InstallRecord fromJson(const QByteArray &json, const QByteArray &folder)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull())
        Reader::damaged(
            u"не JSON: %1 (байт %2)"_s.arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        Reader::damaged(u"не объект JSON"_s);
    const QJsonObject root = document.object();
    const QJsonValue format = root.value(u"format"_s);
    if (!format.isDouble() || format.toInteger() < 1)
        Reader::damaged(u"нет версии"_s);
    if (format.toInteger() > Format)
        runtime::raise(ErrorKind::NewerRecord, Operation::ReadRecord, {},
                       QString::number(format.toInteger()));

    InstallRecord record;
    record.folder = folder;
    record.when = QDateTime::fromString(Reader::text(root, u"when"_s), Qt::ISODateWithMs);
    if (!record.when.isValid())
        Reader::damaged(u"неверная дата"_s);
    record.when = record.when.toUTC();
    record.gameFolder = Reader::text(root, u"gameFolder"_s);
    record.gameHost = Reader::path(root, u"gameHost"_s);
    if (!record.gameHost.startsWith('/'))
        Reader::damaged(u"папка игры не путь от корня"_s);
    record.car = Reader::text(root, u"car"_s);
    record.carModel = Reader::text(root, u"carModel"_s);
    for (const QJsonValue colour : Reader::array(root, u"colours"_s)) {
        if (!colour.isDouble() || colour.toInteger() < 1 || colour.toInteger() > 4)
            Reader::damaged(u"неверный цвет"_s);
        record.colours.append(int(colour.toInteger()));
    }
    const QJsonValue undone = Reader::field(root, u"undone"_s);
    if (!undone.isBool())
        Reader::damaged(u"поле «undone» не логическое"_s);
    record.undone = undone.toBool();
    for (const QJsonValue change : Reader::array(root, u"changes"_s)) {
        if (!change.isObject())
            Reader::damaged(u"изменение не объект"_s);
        record.changes.append(Reader::change(change.toObject(), record.gameHost));
    }
    return record;
}

qint64 sequence(const QByteArray &folder)
{
    const QByteArray name = folder.mid(folder.lastIndexOf('/') + 1);
    const qsizetype dash = name.indexOf('-');
    bool ok = false;
    const qint64 number = name.left(dash).toLongLong(&ok);
    return ok && dash > 0 ? number : 0;
}

QByteArray installsFolder(const QByteArray &dataFolder)
{
    return dataFolder + "/installs";
}

QList<InstallRecord> readAll(const QByteArray &dataFolder)
{
    QList<InstallRecord> result;
    const QByteArray installs = installsFolder(dataFolder);
    const QDir dir(QFile::decodeName(installs));
    const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        const QByteArray folder = installs + '/' + QFile::encodeName(entry);
        QFile file(QFile::decodeName(folder + '/' + RecordName));
        if (!file.exists())
            continue;
        try {
            if (!file.open(QIODevice::ReadOnly))
                runtime::raiseSystem(EACCES, Operation::ReadRecord);
            if (file.size() > MaxRecordSize)
                runtime::raise(ErrorKind::TooLarge, Operation::ReadRecord, {},
                               QString::number(MaxRecordSize));
            result.append(fromJson(file.read(MaxRecordSize + 1), folder));
        } catch (runtime::RuntimeError &error) {
            runtime::Error named = error.error();
            named.path = file.fileName();
            throw runtime::RuntimeError(named);
        }
    }
    // Installs into one game folder are numbered in the order they ran: the clock may go
    // back, or two installs fall in one millisecond.
    std::stable_sort(result.begin(), result.end(), [](const auto &a, const auto &b) {
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
    const int error = files.makeFolder(path);
    return error == EEXIST ? 0 : error;
}

int write(runtime::FileSystem &files, const InstallRecord &record)
{
    const QByteArray path = record.folder + '/' + RecordName;
    const QByteArray next = path + ".new";
    runtime::Fd fd;
    int error = files.create(next, fd);
    if (error == EEXIST) { // left by a write that was cut short
        files.remove(next);
        error = files.create(next, fd);
    }
    if (!error)
        error = files.write(fd, toJson(record));
    if (!error)
        error = files.rename(next, fd, path);
    if (error)
        files.remove(next);
    return error;
}

int remove(runtime::FileSystem &files, const QByteArray &folder)
{
    // The record goes last: until then a second undo finds it and finishes the work.
    const QDir dir(QFile::decodeName(folder));
    for (const QString &entry : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (entry != QString::fromLatin1(RecordName))
            files.remove(folder + '/' + QFile::encodeName(entry));
    }
    files.remove(folder + '/' + RecordName);
    const int error = files.removeFolder(folder);
    files.flushFolder(folder.left(folder.lastIndexOf('/')));
    return error;
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
    for (const QString &entry : QDir(QFile::decodeName(installs)).entryList(QDir::Dirs))
        last = std::max(last, sequence(QFile::encodeName(entry)));
    const QByteArray name = QByteArray::number(last + 1).rightJustified(8, '0') + '-' +
                            m_record.when.toString(u"yyyyMMdd-HHmmss-zzz"_s).toLatin1() + '-' +
                            QByteArray::number(QRandomGenerator::global()->generate(), 36);
    m_record.folder = installs + '/' + name;
    int error = makeFolders(m_files, m_record.folder);
    // The record is there before anything is kept, so that nothing kept is ever without one.
    if (!error)
        error = records::write(m_files, m_record);
    m_writable = error == 0;
    if (!m_writable)
        m_unwritable =
            runtime::systemError(error, Operation::WriteRecord, QFile::decodeName(m_record.folder));
}

InstallJournal::~InstallJournal() = default;

QString InstallJournal::shown(const QString &destination) const
{
    const QString &game = m_record.gameFolder;
    return destination.startsWith(game) ? destination.mid(game.size()).remove(0, 1) : destination;
}

void InstallJournal::replacing(const QString &destination, const QByteArray &target,
                               const std::optional<FileStatus> &replaced, const FileStatus &made)
{
    Change change;
    change.shown = shown(destination);
    change.target = target;
    change.written = Identity::of(made);
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
                error = m_files.create(kept, out);
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
    if (records::write(m_files, m_record) != 0)
        return {};
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

void InstallJournal::finish(bool wroteAny)
{
    if (m_writable && !wroteAny)
        remove(m_files, m_record.folder);
}

} // namespace records
