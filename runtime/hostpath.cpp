#include "runtime/hostpath.h"

#include "runtime/posixdir.h"
#include "runtime/runtimeerror.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

} // namespace

QString decodeName(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype ascii = 0;
    while (ascii < n && p[ascii] < 0x80)
        ++ascii;
    if (ascii == n)
        return QString::fromLatin1(bytes);

    QString out = QString::fromLatin1(bytes.first(ascii));
    out.reserve(n);
    for (qsizetype i = ascii; i < n;) {
        const unsigned c = p[i];
        if (c < 0x80) {
            out.append(QChar(char16_t(c)));
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if ((c & 0xE0) == 0xC0) {
            len = 2, cp = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, cp = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, cp = c & 0x07, least = 0x10000;
        }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            const unsigned cc = p[i + k];
            ok = (cc & 0xC0) == 0x80;
            cp = (cp << 6) | (cc & 0x3F);
        }
        ok = ok && cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            out.append(QChar(char16_t(0xDC00 + c)));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(cp)) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray encodeName(QStringView name)
{
    bool plain = true;
    for (QChar c : name)
        plain = plain && !c.isSurrogate();
    if (plain)
        return name.toUtf8();

    QByteArray out;
    out.reserve(name.size() * 3);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            out += name.sliced(i, 2).toUtf8();
            ++i;
        } else if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF) {
            out += char(c.unicode() - 0xDC00);
        } else if (c.isSurrogate()) {
            out += '?'; // a lone surrogate that no host name decodes to
        } else {
            out += name.sliced(i, 1).toUtf8();
        }
    }
    return out;
}

QString systemErrorText(int error)
{
    switch (error) {
    case ENOENT:
        return u"не найдено"_s;
    case ENOTDIR:
        return u"часть пути не является папкой"_s;
    case EISDIR:
        return u"это папка, а не файл"_s;
    case EEXIST:
        return u"уже существует"_s;
    case ENOSPC:
        return u"нет места на диске"_s;
    case EDQUOT:
        return u"превышена дисковая квота"_s;
    case EACCES:
    case EPERM:
        return u"нет доступа"_s;
    case EROFS:
        return u"диск доступен только для чтения"_s;
    case EIO:
        return u"ошибка ввода-вывода"_s;
    case EBUSY:
    case ETXTBSY:
        return u"файл занят"_s;
    case ENAMETOOLONG:
        return u"слишком длинное имя"_s;
    case ELOOP:
        return u"слишком много символических ссылок"_s;
    case EMFILE:
    case ENFILE:
        return u"открыто слишком много файлов"_s;
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool isFolder(const QByteArray &hostPath)
{
    struct stat st;
    return ::stat(hostPath.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

static RuntimeError ambiguousName(const QString &name, const QByteArray &folder)
{
    return RuntimeError(
        u"Имя «%1» неоднозначно: в папке «%2» несколько записей, отличающихся только регистром"_s
            .arg(name, decodeName(folder)));
}

QByteArray joinHost(const QByteArray &folder, const QByteArray &name)
{
    if (folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

void checkComponent(const QString &name)
{
    if (encodeName(name).size() > NAME_MAX)
        throw RuntimeError(u"Слишком длинное имя: «%1…»"_s.arg(name.left(40)));
}

SplitPath splitPath(const QString &path)
{
    if (path.contains(QChar(0)))
        throw RuntimeError(u"Путь содержит нулевой символ"_s);

    SplitPath result;
    QStringView rest = path;
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter() && path[0].unicode() < 0x80) {
        QByteArray prefix = qgetenv("WINEPREFIX");
        if (prefix.isEmpty())
            prefix = qgetenv("HOME") + "/.wine";
        const char letter = char(path[0].toLower().unicode());
        result.root = prefix + "/dosdevices/" + letter + ':';
        struct stat st;
        if (::stat(result.root.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw RuntimeError(u"Диск %1: не готов"_s.arg(path[0].toUpper()));
        rest = rest.sliced(2);
    } else if (!path.isEmpty() && isSeparator(path[0])) {
        result.root = "/";
    } else {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (!cwd)
            throw RuntimeError(u"Текущая папка недоступна: %1"_s.arg(systemErrorText(errno)));
        result.root = cwd.get();
    }

    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || isSeparator(rest[i])) {
            if (i > start)
                result.components.append(rest.sliced(start, i - start).toString());
            start = i + 1;
        }
    }
    result.trailingSeparator = !rest.isEmpty() && isSeparator(rest.back());
    return result;
}

std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &name,
                                    FolderIndex *folders)
{
    // "." and ".." are looked up like any name, so that they are only found in a folder.
    const bool dots = name == u"."_s || name == u".."_s;
    if (!dots)
        checkComponent(name);

    const QByteArray exact = encodeName(name);
    struct stat st;
    if (::lstat(joinHost(folder, exact).constData(), &st) == 0)
        return exact;
    if (errno != ENOENT && errno != ENOTDIR)
        throw RuntimeError(
            u"«%1»: %2"_s.arg(decodeName(joinHost(folder, exact)), systemErrorText(errno)));
    if (dots)
        return std::nullopt;

    if (folders)
        return folders->lookup(folder, name);

    DirHandle dir(::opendir(folder.constData()));
    if (!dir)
        return std::nullopt;
    const QString key = caseKey(name);
    std::optional<QByteArray> found;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArrayView raw(entry->d_name);
        if (caseKey(decodeName(raw)) != key)
            continue;
        if (found)
            throw ambiguousName(name, folder);
        found = raw.toByteArray();
    }
    return found;
}

void sortCaseBlind(QStringList &names)
{
    std::vector<std::pair<QString, QString>> keyed; // case key, name
    keyed.reserve(size_t(names.size()));
    for (QString &name : names)
        keyed.emplace_back(caseKey(name), std::move(name));
    std::sort(keyed.begin(), keyed.end());
    for (qsizetype i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[size_t(i)].second);
}

void FolderIndex::insert(Index &index, const QByteArray &name)
{
    const QString key = caseKey(decodeName(name));
    const auto it = index.names.constFind(key);
    if (it == index.names.constEnd())
        index.names.insert(key, name);
    else if (*it != name)
        index.ambiguous.insert(key);
}

FolderIndex::Index &FolderIndex::index(const QByteArray &folder)
{
    const auto it = m_folders.find(folder);
    if (it != m_folders.end())
        return *it;
    Index &index = m_folders[folder];
    DirHandle dir(::opendir(folder.constData()));
    index.readable = bool(dir);
    while (dir) {
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            break;
        const QByteArrayView raw(entry->d_name);
        if (raw == "." || raw == "..")
            continue;
        const Entry::Kind kind = entry->d_type == DT_REG ? Entry::File
                                 : entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN
                                     ? Entry::Unknown
                                     : Entry::Other;
        index.entries.push_back({raw.toByteArray(), kind});
    }
    return index;
}

// Case keys are made only for folders where a name is looked up, not for every listing.
FolderIndex::Index &FolderIndex::keyedIndex(const QByteArray &folder)
{
    Index &found = index(folder);
    if (!found.keyed) {
        found.names.reserve(qsizetype(found.entries.size()));
        for (const Entry &entry : found.entries)
            insert(found, entry.name);
        found.keyed = true;
    }
    return found;
}

const std::vector<FolderIndex::Entry> *FolderIndex::entries(const QByteArray &folder)
{
    const Index &found = index(folder);
    return found.readable ? &found.entries : nullptr;
}

void FolderIndex::reserved(const QByteArray &folder, const QByteArray &name)
{
    insert(keyedIndex(folder), name);
}

void FolderIndex::created(const QByteArray &folder, const QByteArray &name)
{
    Index &found = index(folder);
    found.entries.push_back({name, Entry::Unknown});
    if (found.keyed)
        insert(found, name);
    m_folders.remove(joinHost(folder, name)); // a folder made anew is read anew
}

std::optional<QByteArray> FolderIndex::lookup(const QByteArray &folder, const QString &name)
{
    const Index &found = keyedIndex(folder);
    const QString key = caseKey(name);
    if (found.ambiguous.contains(key))
        throw ambiguousName(name, folder);
    const auto it = found.names.constFind(key);
    if (it == found.names.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QByteArray> resolveComponents(const SplitPath &path, qsizetype count,
                                            FolderIndex *folders)
{
    if (count < 0)
        count = path.components.size();
    QByteArray host = path.root;
    for (qsizetype i = 0; i < count; ++i) {
        const auto entry = findEntry(host, path.components[i], folders);
        if (!entry)
            return std::nullopt;
        host = joinHost(host, *entry);
    }
    return host;
}

std::optional<QByteArray> resolveExisting(const QString &path, FolderIndex *folders)
{
    return resolveComponents(splitPath(path), -1, folders);
}

} // namespace runtime
