// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/record.h"

#include "runtime/hostpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

using namespace Qt::StringLiterals;
using runtime::FileStatus;

namespace records {

namespace {

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
    return {{u"kind"_s, nameOf(error.problem)},
            {u"operation"_s, nameOf(error.step)},
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
        raise(Problem::Damaged, Step::ReadRecord, {}, detail, int(damage));
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

    template <typename Enum>
    static Enum named(std::optional<Enum> (*lookup)(QStringView), const QJsonObject &object,
                      const QString &name)
    {
        const std::optional<Enum> value = lookup(text(object, name));
        if (!value)
            damaged(Damage::UnknownValue, name);
        return *value;
    }

    static Error error(const QJsonObject &object)
    {
        return {named(&problemNamed, object, u"kind"_s),
                named(&stepNamed, object, u"operation"_s),
                int(integer(object, u"code"_s, 4095)),
                text(object, u"path"_s),
                text(object, u"detail"_s),
                std::nullopt};
    }

    static Archive archive(const QJsonObject &object)
    {
        return {text(object, u"shown"_s), path(object, u"host"_s),
                identity(Reader::object(object, u"file"_s))};
    }
    static FromArchive member(const QJsonObject &object, qsizetype archives)
    {
        return {int(integer(object, u"archive"_s, archives - 1)), text(object, u"member"_s)};
    }

    // Only what lies inside the game folder can be changed by an undo, and only kept files
    // of the record's own folder be put back. A member names one of the record's archives.
    static Change change(const QJsonObject &object, const QByteArray &gameHost, qsizetype archives)
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
        if (object.contains(u"source"_s))
            change.source = identity(Reader::object(object, u"source"_s));
        if (object.contains(u"archive"_s))
            change.member = member(object, archives);
        if (object.contains(u"linkedFolder"_s))
            change.linkedFolder = folder(Reader::object(object, u"linkedFolder"_s));
        if (change.action == Change::Created)
            return change;
        change.previous = identity(Reader::object(object, u"previous"_s));
        change.kept = text(object, u"kept"_s);
        // "" or "kept-" and one to nine digits.
        const QStringView number =
            QStringView(change.kept).sliced(std::min<qsizetype>(5, change.kept.size()));
        const bool keptName =
            change.kept.isEmpty() ||
            (change.kept.startsWith(u"kept-"_s) && !number.isEmpty() && number.size() <= 9 &&
             std::all_of(number.begin(), number.end(),
                         [](QChar c) { return c >= u'0' && c <= u'9'; }));
        if (!keptName)
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

qint64 InstallRecord::number() const
{
    return sequence(folder);
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
        if (change.source)
            object.insert(u"source"_s, identityJson(*change.source));
        if (change.member) {
            object.insert(u"archive"_s, change.member->archive);
            object.insert(u"member"_s, change.member->name);
        }
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
    if (!record.archives.isEmpty()) {
        QJsonArray archives;
        for (const Archive &archive : record.archives)
            archives.append(QJsonObject{{u"shown"_s, archive.shown},
                                        {u"host"_s, pathText(archive.host)},
                                        {u"file"_s, identityJson(archive.identity)}});
        root.insert(u"archives"_s, archives);
    }
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
        raise(Problem::Newer, Step::ReadRecord, {}, QString::number(format.toInteger()));

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
    if (root.contains(u"archives"_s)) {
        for (const QJsonValue archive : Reader::array(root, u"archives"_s)) {
            if (!archive.isObject())
                Reader::damaged(Damage::NotAnObject, u"archives"_s);
            record.archives.append(Reader::archive(archive.toObject()));
        }
    }
    for (const QJsonValue change : Reader::array(root, u"changes"_s)) {
        if (!change.isObject())
            Reader::damaged(Damage::NotAnObject, u"changes"_s);
        record.changes.append(
            Reader::change(change.toObject(), record.gameHost, record.archives.size()));
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

} // namespace records
