// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/filesystem.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

struct archive;

namespace archives {

// How much of an archive is read, at most: archives come from strangers.
struct Limits
{
    int members = 200'000;          // entries listed
    qint64 bytes = qint64(4) << 30; // unpacked, of the members read
    qint64 ratio = 1000;            // unpacked to packed bytes, of each member
};

// One entry of an archive, as its list gives it.
struct Member
{
    enum Kind : quint8
    {
        File,
        Folder,
        Other, // a link, a second name of a file, a device: nothing a copy takes
    };
    int index = 0;          // in the archive's order, from 0
    QString path;           // as decoded, with the archive's separators
    QStringList components; // empty for a path a folder could not hold (memberComponents)
    Kind kind = File;
    qint64 size = -1; // unpacked, as the header says; -1 where it says nothing
};

// What takes the data of the members read, one after another in the archive's order.
class MemberSink
{
public:
    virtual ~MemberSink() = default;
    virtual void begin(const Member &member) = 0;
    // Returns 0, or the errno that stops the reading.
    virtual int data(const char *bytes, qint64 size) = 0;
    virtual void end(const Member &member) = 0;
};

// Sees the archive's bytes as a reading of its members reads them from its file: in blocks,
// some more than once, not always in order.
class ReadWatcher
{
public:
    virtual ~ReadWatcher() = default;
    // `size` bytes at `at` of the file of `fileSize` bytes, read through `fd`.
    virtual void read(const runtime::Fd &fd, qint64 fileSize, qint64 at, const char *data,
                      qint64 size) = 0;
    // The reading is over; `fd` is still open.
    virtual void done(const runtime::Fd &fd, qint64 fileSize) = 0;
};

// An archive file read through the program's file system: its list, and its members' data
// streamed in one pass. Failures are thrown as runtime errors on `shown`, the archive's path
// as the player wrote it, with Operation::ReadArchive.
class ArchiveReader
{
public:
    ArchiveReader(runtime::FileSystem &files, const QByteArray &host, const QString &shown,
                  Limits limits = {});
    ~ArchiveReader();

    const QList<Member> &members();
    // The data of the members whose indexes are `wanted`, each read once; bytes of the archive
    // read so far go to `progress`, where given.
    void read(const QSet<int> &wanted, MemberSink &sink,
              const std::function<void(qint64 done, qint64 total)> &progress = {});
    qint64 archiveSize() const;
    // Shown what read() reads; none when null.
    void setWatcher(ReadWatcher *watcher) { m_watcher = watcher; }

private:
    struct Source;
    struct Pass;
    std::unique_ptr<Pass> open(const char *options, ReadWatcher *watcher = nullptr);
    QList<Member> listPass(const char *options, bool &unicode);
    void readMember(Pass &pass, const Member &member, MemberSink &sink);
    [[noreturn]] void fail(Pass &pass, int status);

    runtime::FileSystem &m_files;
    QByteArray m_host;
    QString m_shown;
    Limits m_limits;
    std::optional<QList<Member>> m_members;
    qint64 m_size = -1;
    bool m_zip = false;
    qint64 m_read = 0; // unpacked, of the members read
    ReadWatcher *m_watcher = nullptr;
};

// The compression method libarchive's message `said` names as one it cannot unpack; "" where
// it names none: "Unsupported ZIP compression method (14: lzma)" gives "lzma", "Unknown
// codec ID: 21" gives "21".
QString unpackMethod(const QString &said);

} // namespace archives
