// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archivereader.h"

#include "archive/archivenames.h"
#include "runtime/error.h"
#include "runtime/processinfo.h"

#include <archive.h>
#include <archive_entry.h>
#include <array>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;
using runtime::ErrorKind;
using runtime::Operation;

namespace archives {

namespace {

constexpr qint64 ReadSize = 64 * 1024;

// A member may unpack to `ratio` times its packed bytes, and to this many freely: a small
// member of a solid block may come from data read before it.
constexpr qint64 FreeBytes = 64 * 1024;

// Names in an unnamed code page come through as Latin-1, one character a byte, from which
// their bytes are taken back; as UTF-8, they show which names the archive marked as Unicode:
// only those read the same both ways.
const char *const AsBytes = "zip:hdrcharset=ISO-8859-1,rar:hdrcharset=ISO-8859-1";
const char *const AsUtf8 = "zip:hdrcharset=UTF-8,rar:hdrcharset=UTF-8";

// Takes a member's data, and keeps none of it.
struct Discard : MemberSink
{
    void begin(const Member &) override {}
    int data(const char *, qint64) override { return 0; }
    void end(const Member &) override {}
};

bool isAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// CRC-32 as zip and RAR keep it, continued from `crc` (0 to begin).
quint32 crc32(quint32 crc, const char *bytes, qint64 size)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (qint64 i = 0; i < size; ++i)
        crc = table[(crc ^ uchar(bytes[i])) & 0xff] ^ (crc >> 8);
    return ~crc;
}

quint32 le(const uchar *p, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// A RAR 5 number, 7 bits a byte, lowest first; 0 where it runs past `end`.
quint64 vint(const uchar *&at, const uchar *end)
{
    quint64 value = 0;
    for (int shift = 0; at < end && shift < 64; shift += 7) {
        value |= quint64(*at & 0x7f) << shift;
        if (!(*at++ & 0x80))
            return value;
    }
    at = end;
    return 0;
}

// Of the RAR 5 block at `b`: the data's CRC-32 where it is a stored file's; else `size`,
// the bytes of the block with its data, is set where it is no file's.
std::optional<quint32> rar5Block(const uchar *b, const uchar *end, quint64 &size)
{
    const uchar *at = b + 4; // after the header's own CRC
    const quint64 head = vint(at, end);
    size = head ? quint64(at - b) + head : 0;
    const quint64 type = vint(at, end), flags = vint(at, end);
    if (flags & 1) // extra area
        vint(at, end);
    if (flags & 2) // data
        size += vint(at, end);
    if (type != 2)
        return std::nullopt;
    size = 0;
    const quint64 fileFlags = vint(at, end);
    vint(at, end), vint(at, end); // unpacked size, attributes
    at += fileFlags & 2 ? 4 : 0;  // modified
    if (!(fileFlags & 4) || end - at < 5)
        return std::nullopt;
    const quint32 crc = le(at, 4);
    at += 4;
    const quint64 method = (vint(at, end) >> 7) & 7;
    return method == 0 ? std::optional(crc) : std::nullopt;
}

// The CRC-32 a RAR archive keeps of a stored member's data, which libarchive 3.6 never
// checks: from the first file block at or after `from`, where the reader began the member's
// header. None for a member packed otherwise, or where the blocks cannot be followed.
std::optional<quint32> storedRarCrc(runtime::FileSystem &files, const runtime::Fd &fd, qint64 from,
                                    bool rar5)
{
    uchar b[128];
    for (int blocks = 0; blocks < 64; ++blocks) {
        qint64 got = 0;
        if (files.readAt(fd, from, reinterpret_cast<char *>(b), sizeof b, got) != 0 || got < 7)
            return std::nullopt;
        quint64 size = 0;
        if (std::memcmp(b, "Rar!\x1a\x07", 6) == 0) {
            size = rar5 ? 8 : 7;
        } else if (rar5) {
            const auto crc = rar5Block(b, b + got, size);
            if (!size)
                return crc;
        } else {
            if (b[2] == 0x74) // a file's
                return got >= 26 && b[25] == 0x30 ? std::optional(le(b + 16, 4)) : std::nullopt;
            size = le(b + 5, 2) < 7 ? 0 : le(b + 5, 2);
            if (size && (le(b + 3, 2) & 0x8000)) // data follows
                size += got >= 11 ? le(b + 7, 4) : 0;
            if (!size)
                return std::nullopt;
        }
        from += qint64(size);
    }
    return std::nullopt;
}

} // namespace

// The compression method libarchive says it cannot unpack, "" where it says none: "Unsupported
// ZIP compression method (14: lzma)", "Unknown codec ID: 21", "RAR solid archive support
// unavailable". Found without a regular expression, which on a thread would leave it a
// thread-local stack that could hang the Windows program's exit.
QString unpackMethod(const QString &said)
{
    if (const qsizetype at = said.indexOf(u"nknown codec ID: "_s); at >= 0) {
        qsizetype end = at + 17;
        while (end < said.size() && (said[end].isLetterOrNumber() || said[end] == u'_'))
            ++end;
        return said.mid(at + 17, end - at - 17);
    }
    const qsizetype unsupported = said.indexOf(u"nsupported"_s);
    if (unsupported >= 0) {
        const qsizetype open = said.indexOf(u'(', unsupported);
        const qsizetype colon = said.indexOf(u": "_s, open);
        const qsizetype close = said.indexOf(u')', colon);
        bool number = false;
        if (open >= 0 && colon > open && close > colon)
            said.mid(open + 1, colon - open - 1).toInt(&number);
        if (number)
            return said.mid(colon + 2, close - colon - 2);
        if (said.indexOf(u"RAR"_s, unsupported) >= 0)
            return said.mid(std::max<qsizetype>(0, unsupported - 1)); // its capital too
    }
    const qsizetype rar = said.indexOf(u"RAR "_s);
    const qsizetype unavailable = said.indexOf(u"unavailable"_s, rar);
    if (rar >= 0 && unavailable > rar)
        return said.mid(rar, unavailable + 11 - rar);
    return {};
}

// The archive's file, read through the program's file system.
struct ArchiveReader::Source
{
    runtime::FileSystem *files = nullptr;
    runtime::Fd fd;
    qint64 size = 0;
    qint64 position = 0;
    qint64 delivered = 0; // bytes handed to the reader
    int error = 0;
    std::vector<char> buffer = std::vector<char>(ReadSize);
    ReadWatcher *watcher = nullptr;

    static la_ssize_t read(struct archive *, void *data, const void **block)
    {
        auto *source = static_cast<Source *>(data);
        qint64 got = 0;
        source->error = source->files->readAt(source->fd, source->position, source->buffer.data(),
                                              ReadSize, got);
        if (source->error)
            return -1;
        if (source->watcher)
            source->watcher->read(source->fd, source->size, source->position, source->buffer.data(),
                                  got);
        source->position += got;
        source->delivered += got;
        *block = source->buffer.data();
        return la_ssize_t(got);
    }
    static la_int64_t skip(struct archive *, void *data, la_int64_t request)
    {
        auto *source = static_cast<Source *>(data);
        const qint64 skipped = std::clamp<qint64>(request, 0, source->size - source->position);
        source->position += skipped;
        return skipped;
    }
    static la_int64_t seek(struct archive *, void *data, la_int64_t offset, int whence)
    {
        auto *source = static_cast<Source *>(data);
        const qint64 from = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? source->position
                                                 : source->size;
        if (from + offset < 0)
            return ARCHIVE_FATAL;
        source->position = from + offset;
        return source->position;
    }
};

// One reading of the archive from its start.
struct ArchiveReader::Pass
{
    Source source;
    struct archive *archive = nullptr;
    runtime::Utf8Text utf8; // the reader's names, on POSIX
    ~Pass()
    {
        if (archive)
            archive_read_free(archive);
    }
};

ArchiveReader::ArchiveReader(runtime::FileSystem &files, const QByteArray &host,
                             const QString &shown, Limits limits)
    : m_files(files), m_host(host), m_shown(shown), m_limits(limits)
{}

ArchiveReader::~ArchiveReader() = default;

qint64 ArchiveReader::archiveSize() const
{
    return m_size;
}

std::unique_ptr<ArchiveReader::Pass> ArchiveReader::open(const char *options, ReadWatcher *watcher)
{
    auto pass = std::make_unique<Pass>();
    Source &source = pass->source;
    source.files = &m_files;
    source.watcher = watcher;
    int error = m_files.open(m_host, source.fd);
    runtime::FileStatus status;
    if (!error)
        error = m_files.status(source.fd, status);
    if (error == ENOENT)
        runtime::raise(ErrorKind::NotFound, Operation::Open, m_shown);
    if (error)
        runtime::raiseSystem(error, Operation::Open, m_shown);
    if (status.isFolder())
        runtime::raise(ErrorKind::NotAnArchive, Operation::ReadArchive, m_shown);
    source.size = m_size = status.size;
    struct archive *a = pass->archive = archive_read_new();
    if (!a)
        runtime::raiseSystem(ENOMEM, Operation::ReadArchive, m_shown);
    archive_read_support_format_zip(a);
    archive_read_support_format_7zip(a);
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    archive_read_set_options(a, options);
    archive_read_set_callback_data(a, &source);
    archive_read_set_read_callback(a, &Source::read);
    archive_read_set_skip_callback(a, &Source::skip);
    archive_read_set_seek_callback(a, &Source::seek);
    if (const int opened = archive_read_open1(a); opened != ARCHIVE_OK)
        fail(*pass, opened);
    return pass;
}

void ArchiveReader::fail(Pass &pass, int status)
{
    if (pass.source.error)
        runtime::raiseSystem(pass.source.error, Operation::ReadArchive, m_shown);
    if (status == ARCHIVE_FATAL && archive_errno(pass.archive) == ENOMEM)
        runtime::raiseSystem(ENOMEM, Operation::ReadArchive, m_shown);
    const QString said = QString::fromUtf8(archive_error_string(pass.archive));
    // No reader took it: none was asked what it holds.
    if (archive_format(pass.archive) == 0)
        runtime::raise(ErrorKind::NotAnArchive, Operation::ReadArchive, m_shown);
    // An encrypted member is known by its header (listPass); a header read where damage led
    // may say so too, and is a damaged one.
    if (said.contains(u"ncrypt"_s) || said.contains(u"assword"_s) || said.contains(u"assphrase"_s))
        runtime::raise(ErrorKind::Encrypted, Operation::ReadArchive, m_shown);
    if (const QString method = unpackMethod(said); !method.isEmpty())
        runtime::raise(ErrorKind::UnknownMethod, Operation::ReadArchive, m_shown, method);
    runtime::raise(ErrorKind::Damaged, Operation::ReadArchive, m_shown, said);
}

// The members as one reading decodes their names. `unicode`: whether every name is text the
// archive marked as Unicode, or ASCII.
QList<Member> ArchiveReader::listPass(const char *options, bool &unicode)
{
    const auto pass = open(options);
    QList<Member> members;
    unicode = true;
    struct archive_entry *entry = nullptr;
    for (;;) {
        const int next = archive_read_next_header(pass->archive, &entry);
        if (next == ARCHIVE_EOF)
            break;
        if (next < ARCHIVE_WARN)
            fail(*pass, next);
        if (members.size() >= m_limits.members)
            runtime::raise(ErrorKind::TooManyMembers, Operation::ReadArchive, m_shown,
                           QString::number(m_limits.members));
        if (archive_entry_is_encrypted(entry))
            runtime::raise(ErrorKind::Encrypted, Operation::ReadArchive, m_shown);
        Member member;
        member.index = int(members.size());
        // As wide text: on Windows libarchive keeps names so, and gives no UTF-8 for one it
        // converted from a code page other than the system's.
        const wchar_t *wide = archive_entry_pathname_w(entry);
        const char *raw = archive_entry_pathname(entry);
        member.path = wide ? QString::fromWCharArray(wide)
                           : decodeBytes(raw ? raw : "", NameBytes::Other); // not expected
        const int format = archive_format(pass->archive) & ARCHIVE_FORMAT_BASE_MASK;
        m_zip = format == ARCHIVE_FORMAT_ZIP;
        if (!isAscii(member.path) && (format == ARCHIVE_FORMAT_ZIP || format == ARCHIVE_FORMAT_RAR))
            unicode = false;
        const auto type = archive_entry_filetype(entry);
        member.kind = type == AE_IFDIR                                     ? Member::Folder
                      : type == AE_IFREG && !archive_entry_hardlink(entry) ? Member::File
                                                                           : Member::Other;
        member.size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : -1;
        members.append(std::move(member));
        if (const int skipped = archive_read_data_skip(pass->archive); skipped < ARCHIVE_WARN)
            fail(*pass, skipped);
    }
    return members;
}

const QList<Member> &ArchiveReader::members()
{
    if (m_members)
        return *m_members;
    bool unicode = true;
    QList<Member> members = listPass(AsBytes, unicode);
    if (!unicode) {
        bool ignored = true;
        const QList<Member> asUtf8 = listPass(AsUtf8, ignored);
        for (qsizetype i = 0; i < members.size() && i < asUtf8.size(); ++i) {
            Member &m = members[i];
            if (!isAscii(m.path) && m.path != asUtf8[i].path)
                m.path = decodeBytes(m.path.toLatin1(), m_zip ? NameBytes::Zip : NameBytes::Other);
        }
    }
    for (Member &m : members)
        m.components = memberComponents(m.path).value_or(QStringList());
    m_members = std::move(members);
    return *m_members;
}

void ArchiveReader::read(const QSet<int> &wanted, MemberSink &sink,
                         const std::function<void(qint64, qint64)> &progress)
{
    const QList<Member> &list = members();
    qint64 total = 0;
    int last = -1;
    for (const int index : wanted) {
        total += std::max<qint64>(list.value(index).size, 0);
        last = std::max(last, index);
    }
    if (total > m_limits.bytes)
        runtime::raise(ErrorKind::TooMuchData, Operation::ReadArchive, m_shown,
                       QString::number(m_limits.bytes));
    const auto pass = open(AsBytes, m_watcher);
    m_read = 0;
    // libarchive 3.6 puts off skipping a 7z's members until one is read, and then cannot read
    // it where the skipped ones were large, in its solid block: "Truncated 7-Zip file body".
    // Until one is read, they are read through.
    Discard discard;
    bool begun = false;
    struct archive_entry *entry = nullptr;
    for (int index = 0; index <= last; ++index) {
        const int next = archive_read_next_header(pass->archive, &entry);
        if (next == ARCHIVE_EOF)
            runtime::raise(ErrorKind::Damaged, Operation::ReadArchive, m_shown);
        if (next < ARCHIVE_WARN)
            fail(*pass, next);
        const bool sevenZip =
            (archive_format(pass->archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_7ZIP;
        if (wanted.contains(index) && index < list.size()) {
            readMember(*pass, list[index], sink);
            begun = true;
        } else if (!begun && sevenZip && index < list.size())
            readMember(*pass, list[index], discard);
        else if (const int skipped = archive_read_data_skip(pass->archive); skipped < ARCHIVE_WARN)
            fail(*pass, skipped);
        if (progress)
            progress(pass->source.position, m_size);
    }
    if (m_watcher)
        m_watcher->done(pass->source.fd, pass->source.size);
}

// Streams one member's data to the sink, within the limits.
void ArchiveReader::readMember(Pass &pass, const Member &member, MemberSink &sink)
{
    const int format = archive_format(pass.archive) & ARCHIVE_FORMAT_BASE_MASK;
    const std::optional<quint32> stored =
        format == ARCHIVE_FORMAT_RAR || format == ARCHIVE_FORMAT_RAR_V5
            ? storedRarCrc(m_files, pass.source.fd, archive_read_header_position(pass.archive),
                           format == ARCHIVE_FORMAT_RAR_V5)
            : std::nullopt;
    const bool kept = stored.has_value();
    const quint32 expected = stored.value_or(0);
    quint32 crc = 0;
    sink.begin(member);
    const qint64 packedBefore = pass.source.delivered;
    std::vector<char> buffer(ReadSize * 4);
    qint64 unpacked = 0;
    for (;;) {
        const la_ssize_t got = archive_read_data(pass.archive, buffer.data(), buffer.size());
        if (got == 0)
            break;
        if (got < 0)
            fail(pass, int(got));
        unpacked += got;
        m_read += got;
        const qint64 packed = pass.source.delivered - packedBefore;
        if ((member.size >= 0 && unpacked > member.size) ||
            unpacked > m_limits.ratio * std::max(packed, FreeBytes))
            runtime::raise(ErrorKind::TooMuchData, Operation::ReadArchive, m_shown);
        if (m_read > m_limits.bytes)
            runtime::raise(ErrorKind::TooMuchData, Operation::ReadArchive, m_shown,
                           QString::number(m_limits.bytes));
        if (kept)
            crc = crc32(crc, buffer.data(), got);
        if (const int error = sink.data(buffer.data(), got))
            runtime::raiseSystem(error, Operation::Copy, m_shown);
    }
    if (kept && crc != expected)
        runtime::raise(ErrorKind::Damaged, Operation::ReadArchive, m_shown,
                       u"RAR bad CRC: 0x%1 should be 0x%2"_s.arg(crc, 0, 16).arg(expected, 0, 16));
    sink.end(member);
}

} // namespace archives
