#include "runtime/hostpath.h"

#include "runtime/posixdir.h"
#include "runtime/runtimeerror.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
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
    const QByteArray key = foldedName(exact);
    std::optional<QByteArray> found;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArrayView raw(entry->d_name);
        if (foldedName(raw) != key)
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

QByteArray foldedName(QByteArrayView hostName)
{
    QByteArray key(hostName.size(), Qt::Uninitialized);
    char *out = key.data();
    for (const char c : hostName) {
        if (c & 0x80)
            return encodeName(decodeName(hostName).toCaseFolded());
        *out++ = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
    }
    return key;
}

namespace {

// Hashes a key the same way wherever it comes from.
quint32 keyHash(QByteArrayView key)
{
    return quint32(qHashBits(key.data(), size_t(key.size()), 0));
}

} // namespace

// One folder's names: the kernel's listing in one buffer, the names added since, and an
// open-addressing table from folded names to names, made when a name is first looked up.
struct FolderIndex::Folder
{
    bool readable = false;
    std::vector<char> listing; // the kernel's records, as read
    std::vector<Entry> entries;
    std::deque<QByteArray> added; // names created or reserved since the listing

    struct Slot
    {
        const char *name = nullptr; // empty when null
        quint32 nameSize = 0;
        quint32 hash = 0;
        quint32 keyOffset = 0; // in `keys`; the name itself when keySize is 0
        quint32 keySize = 0;
        bool ambiguous = false;
    };
    bool keyed = false;
    std::vector<Slot> table; // a power of two, at most half full
    std::size_t used = 0;
    QByteArray keys; // the folded names that differ from their names

    QByteArrayView keyOf(const Slot &slot) const
    {
        return slot.keySize ? QByteArrayView(keys.constData() + slot.keyOffset, slot.keySize)
                            : QByteArrayView(slot.name, slot.nameSize);
    }

    Slot &find(QByteArrayView key, quint32 hash)
    {
        const std::size_t mask = table.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = table[i];
            if (!slot.name || (slot.hash == hash && keyOf(slot) == key))
                return slot;
        }
    }

    void grow()
    {
        std::vector<Slot> old = std::exchange(table, std::vector<Slot>(table.size() * 2));
        for (const Slot &slot : old) {
            if (slot.name)
                find(keyOf(slot), slot.hash) = slot;
        }
    }

    void insert(const char *name)
    {
        if ((used + 1) * 2 > table.size())
            grow();
        const QByteArrayView raw(name);
        const QByteArray folded = foldedName(raw);
        const quint32 hash = keyHash(folded);
        Slot &slot = find(folded, hash);
        if (slot.name) {
            slot.ambiguous = slot.ambiguous || raw != QByteArrayView(slot.name, slot.nameSize);
            return;
        }
        slot = {name, quint32(raw.size()), hash, 0, 0, false};
        if (folded != raw) {
            slot.keyOffset = quint32(keys.size());
            slot.keySize = quint32(folded.size());
            keys += folded;
        }
        ++used;
    }

    void makeKeys()
    {
        std::size_t size = 16;
        while (size < entries.size() * 2 + 2)
            size *= 2;
        table.assign(size, Slot());
        for (const Entry &entry : entries)
            insert(entry.name);
        keyed = true;
    }

    void read(const QByteArray &path)
    {
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        readable = fd >= 0;
        if (!readable)
            return;
        // Records are read in bulk; the buffer grows while the folder fills it.
        std::size_t filled = 0;
        listing.resize(64 * 1024);
        for (;;) {
            if (listing.size() - filled < 32 * 1024)
                listing.resize(listing.size() * 2);
            const ssize_t n = ::getdents64(fd, listing.data() + filled, listing.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            filled += std::size_t(n);
        }
        ::close(fd);
        for (std::size_t at = 0; at < filled;) {
            const auto *record = reinterpret_cast<const dirent64 *>(listing.data() + at);
            at += record->d_reclen;
            const char *name = record->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            const Entry::Kind kind = record->d_type == DT_REG ? Entry::File
                                     : record->d_type == DT_LNK || record->d_type == DT_UNKNOWN
                                         ? Entry::Unknown
                                         : Entry::Other;
            entries.push_back({name, kind});
        }
    }

    const char *add(const QByteArray &name)
    {
        added.push_back(name);
        return added.back().constData();
    }
};

FolderIndex::FolderIndex() = default;
FolderIndex::~FolderIndex() = default;

FolderIndex::Folder &FolderIndex::folder(const QByteArray &path)
{
    auto &found = m_folders[path];
    if (!found) {
        found = std::make_unique<Folder>();
        found->read(path);
    }
    return *found;
}

// Names are keyed only in folders where one is looked up, not for every listing.
FolderIndex::Folder &FolderIndex::keyed(const QByteArray &path)
{
    Folder &found = folder(path);
    if (!found.keyed)
        found.makeKeys();
    return found;
}

const std::vector<FolderIndex::Entry> *FolderIndex::entries(const QByteArray &path)
{
    const Folder &found = folder(path);
    return found.readable ? &found.entries : nullptr;
}

void FolderIndex::reserved(const QByteArray &path, const QByteArray &name)
{
    Folder &found = keyed(path);
    found.insert(found.add(name));
}

void FolderIndex::created(const QByteArray &path, const QByteArray &name)
{
    Folder &found = folder(path);
    const char *stored = found.add(name);
    found.entries.push_back({stored, Entry::Unknown});
    if (found.keyed)
        found.insert(stored);
    m_folders.erase(joinHost(path, name)); // a folder made anew is read anew
}

std::optional<QByteArray> FolderIndex::lookup(const QByteArray &path, const QString &name)
{
    Folder &found = keyed(path);
    const QByteArray folded = foldedName(encodeName(name));
    const Folder::Slot &slot = found.find(folded, keyHash(folded));
    if (!slot.name)
        return std::nullopt;
    if (slot.ambiguous)
        throw ambiguousName(name, path);
    return QByteArray(slot.name, slot.nameSize);
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
