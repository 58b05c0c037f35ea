// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/hostpath.h"

#include "runtime/error.h"
#include "runtime/filesystem.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

constexpr quint64 EachByte = 0x0101010101010101ull;
constexpr quint64 HighBits = 0x8080808080808080ull;

// Eight bytes of a name, or the last ones followed by zeros.
quint64 loadWord(const char *p, std::size_t n)
{
    quint64 word = 0;
    if (n >= 8)
        std::memcpy(&word, p, 8);
    else
        for (std::size_t i = 0; i < n; ++i)
            word |= quint64(quint8(p[i])) << (8 * i);
    return word;
}

quint32 hashKey(const char *key, std::size_t size)
{
    quint64 hash = 0x9e3779b97f4a7c15ull ^ size;
    for (std::size_t i = 0; i < size; i += 8)
        hash = (hash ^ loadWord(key + i, size - i)) * 0xff51afd7ed558ccdull;
    hash ^= hash >> 32;
    return quint32(hash);
}

// Appends the bytes under which names equal but for case are one to `keys`, and returns
// their hash: ASCII names are folded eight bytes at a time, others through Unicode case
// folding.
quint32 foldInto(QByteArrayView hostName, std::string &keys)
{
    const std::size_t size = std::size_t(hostName.size());
    const std::size_t start = keys.size();
    keys.resize(start + size);
    char *out = keys.data() + start;
    for (std::size_t i = 0; i < size; i += 8) {
        quint64 word = loadWord(hostName.data() + i, size - i);
        if (word & HighBits) {
            const QByteArray folded = encodeName(decodeName(hostName).toCaseFolded());
            keys.resize(start);
            keys.append(folded.constData(), std::size_t(folded.size()));
            return hashKey(keys.data() + start, keys.size() - start);
        }
        // The high bit of a byte ends up set where 'A' <= byte <= 'Z'; 0x20 makes it small.
        const quint64 capitals =
            ((word + (0x80 - 'A') * EachByte) ^ (word + (0x80 - 'Z' - 1) * EachByte)) & HighBits;
        word |= capitals >> 2;
        if (size - i >= 8)
            std::memcpy(out + i, &word, 8);
        else
            for (std::size_t k = 0; k < size - i; ++k)
                out[i + k] = char(word >> (8 * k));
    }
    return hashKey(out, size);
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

bool isFolder(FileSystem &files, const QByteArray &hostPath)
{
    FileStatus status;
    return files.status(hostPath, status) == 0 && status.isFolder();
}

bool isOrdinaryFile(FileSystem &files, const QByteArray &hostPath)
{
    FileStatus status;
    return files.status(hostPath, status) == 0 && status.isRegular();
}

[[noreturn]] static void ambiguousName(const QString &name, const QString &folder)
{
    raise(ErrorKind::AmbiguousName, Operation::Resolve, folder, name);
}

QByteArray joinHost(const QByteArray &folder, const QByteArray &name)
{
    if (folder.endsWith('/'))
        return folder + name;
    return folder + '/' + name;
}

void checkComponent(const QString &name)
{
    if (isNameTooLong(name))
        raise(ErrorKind::NameTooLong, Operation::Resolve, QString(), name);
}

std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &name,
                                    FolderIndex &folders)
{
    // "." and ".." are looked up like any name, so that they are only found in a folder.
    const bool dots = name == u"."_s || name == u".."_s;
    if (!dots)
        checkComponent(name);

    // A name the folder's index lacks is not asked for: in a large folder that is a search
    // of the whole folder where names are case-blind (Wine).
    if (!dots && folders.lacks(folder, name))
        return std::nullopt;
    // Where the host's names are case-blind, this finds the entry in any case.
    const QByteArray exact = encodeName(name);
    FileStatus status;
    const int error = folders.files().entryStatus(joinHost(folder, exact), status);
    if (error == 0)
        return exact;
    if (error != ENOENT && error != ENOTDIR)
        raiseSystem(error, Operation::Resolve, decodeName(joinHost(folder, exact)));
    if (dots)
        return std::nullopt;
    return folders.lookup(folder, name);
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

// One folder's names: the kernel's listing in one buffer, the names added since, and an
// open-addressing table from folded names to names, made when a name is first looked up.
struct FolderIndex::Folder
{
    int error = 0; // why the folder could not be listed
    FolderListing listing;
    std::vector<Entry> &entries = listing.entries;
    std::deque<QByteArray> added; // names created or reserved since the listing

    // A name as the table knows it.
    struct Name
    {
        const char *name;
        quint32 nameSize;
        quint32 keyOffset; // in `keys`
        quint32 keySize;
        bool ambiguous; // several names share the key
    };
    struct Slot
    {
        quint32 hash;
        quint32 name; // 1 + the index in `names`; 0 when empty
    };
    bool keyed = false;
    std::vector<Name> names;
    std::vector<Slot> table; // a power of two, at most half full
    std::string keys;        // the folded names, one after another

    std::string_view keyOf(const Name &n) const { return {keys.data() + n.keyOffset, n.keySize}; }

    // The slot of the key, or the empty one where it would go.
    Slot &find(std::string_view key, quint32 hash)
    {
        const std::size_t mask = table.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = table[i];
            if (!slot.name || (slot.hash == hash && keyOf(names[slot.name - 1]) == key))
                return slot;
        }
    }

    void grow()
    {
        std::vector<Slot> old = std::exchange(table, std::vector<Slot>(table.size() * 2));
        const std::size_t mask = table.size() - 1;
        for (const Slot &slot : old) {
            std::size_t i = slot.hash & mask;
            while (slot.name && table[i].name)
                i = (i + 1) & mask;
            if (slot.name)
                table[i] = slot;
        }
    }

    void insert(const char *name)
    {
        if ((names.size() + 1) * 2 > table.size())
            grow();
        const std::size_t nameSize = std::strlen(name);
        const std::size_t keyOffset = keys.size();
        const quint32 hash = foldInto(QByteArrayView(name, qsizetype(nameSize)), keys);
        const std::string_view key(keys.data() + keyOffset, keys.size() - keyOffset);
        Slot &slot = find(key, hash);
        if (slot.name) {
            Name &known = names[slot.name - 1];
            known.ambiguous = known.ambiguous || known.nameSize != nameSize ||
                              std::memcmp(known.name, name, nameSize) != 0;
            keys.resize(keyOffset);
            return;
        }
        names.push_back(
            {name, quint32(nameSize), quint32(keyOffset), quint32(keys.size() - keyOffset), false});
        slot = {hash, quint32(names.size())};
    }

    void makeKeys()
    {
        std::size_t size = 16;
        while (size < entries.size() * 2 + 2)
            size *= 2;
        table.assign(size, Slot{0, 0});
        names.reserve(entries.size());
        keys.reserve(entries.size() * 24);
        for (const Entry &entry : entries)
            insert(entry.name);
        keyed = true;
    }

    void read(FileSystem &files, const QByteArray &path)
    {
        error = files.listFolder(path, listing);
        if (error)
            entries.clear();
    }

    const char *add(const QByteArray &name)
    {
        added.push_back(name);
        return added.back().constData();
    }

    // The slot of the entries equal to `name` but for case, or an empty one.
    Slot &slotOf(const QString &name)
    {
        std::string folded;
        const quint32 hash = foldInto(encodeName(name), folded);
        return find(folded, hash);
    }

    // The one entry equal to `name` but for case; throws when several are.
    std::optional<QByteArray> match(const QString &name, const QString &folder)
    {
        const Slot &slot = slotOf(name);
        if (!slot.name)
            return std::nullopt;
        const Name &entry = names[slot.name - 1];
        if (entry.ambiguous)
            ambiguousName(name, folder);
        return QByteArray(entry.name, entry.nameSize);
    }
};

FolderIndex::FolderIndex(FileSystem &files) : m_files(files) {}
FolderIndex::~FolderIndex() = default;

FolderIndex::Folder &FolderIndex::folder(const QByteArray &path)
{
    auto &found = m_folders[path];
    if (!found) {
        found = std::make_unique<Folder>();
        found->read(m_files, path);
    }
    // A folder that is not there has no names; one that is there but cannot be read is an
    // error, not an empty folder.
    if (found->error && found->error != ENOENT && found->error != ENOTDIR)
        raiseSystem(found->error, Operation::ReadFolder, decodeName(path));
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
    return found.error ? nullptr : &found.entries;
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

bool FolderIndex::lacks(const QByteArray &path, const QString &name)
{
    const auto found = m_folders.find(path);
    if (found == m_folders.end() || found->second->error)
        return false;
    Folder &folder = *found->second;
    if (!folder.keyed)
        folder.makeKeys();
    return folder.slotOf(name).name == 0;
}

std::optional<QByteArray> FolderIndex::lookup(const QByteArray &path, const QString &name)
{
    return keyed(path).match(name, decodeName(path));
}

int findEntryAt(FileSystem &files, const Fd &folder, const QByteArray &name, const QString &shown,
                QByteArray &found, FileStatus &status)
{
    found = name;
    if (files.entryStatusAt(folder, name, status) == 0)
        return 0;
    QByteArrayList names;
    if (const int error = files.readFolder(folder, names))
        return error;
    FolderIndex::Folder listed;
    for (const QByteArray &entry : std::as_const(names))
        listed.entries.push_back({entry.constData(), FolderEntry::Unknown});
    listed.makeKeys();
    const auto match = listed.match(decodeName(name), shown);
    if (!match)
        return ENOENT;
    found = *match;
    return files.entryStatusAt(folder, found, status);
}

std::optional<QByteArray> resolveComponents(const SplitPath &path, FolderIndex &folders,
                                            qsizetype count)
{
    if (count < 0)
        count = path.components.size();
    // With an index, a path of the folder last resolved, or of a file in it, starts there.
    const auto key = [&](qsizetype n) {
        QByteArray bytes = path.root;
        for (qsizetype i = 0; i < n; ++i)
            bytes += '\0' + encodeName(path.components[i]);
        return bytes;
    };
    QByteArray host = path.root;
    qsizetype i = 0;
    if (count > 0) {
        if (const auto known = folders.resolved.constFind(key(count));
            known != folders.resolved.cend())
            return *known;
        if (const auto known = folders.resolved.constFind(key(count - 1));
            known != folders.resolved.cend())
            host = *known, i = count - 1;
    }
    for (; i < count; ++i) {
        if (i == count - 1 && i > 0)
            folders.resolved.insert(key(i), host);
        const auto entry = findEntry(host, path.components[i], folders);
        if (!entry)
            return std::nullopt;
        host = joinHost(host, *entry);
    }
    if (count > 0)
        folders.resolved.insert(key(count), host);
    return host;
}

std::optional<QByteArray> resolveExisting(const QString &path, const HostPaths &host,
                                          FolderIndex &folders)
{
    return resolveComponents(splitPath(path, host), folders);
}

} // namespace runtime
