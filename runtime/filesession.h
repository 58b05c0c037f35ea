// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/digestworker.h"
#include "runtime/error.h"
#include "runtime/filesystem.h"
#include "runtime/hostpath.h"
#include "runtime/pendingcopy.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace runtime {

// The digests of the data a session's copies write and of the files they replace, by
// target; a file that could not be read has none.
struct Digests
{
    QHash<QByteArray, QByteArray> written;
    QHash<QByteArray, QByteArray> replaced;
    QHash<QByteArray, QByteArray> archives; // by host path, of those read whole
};

// An archive whose members copies are streamed from.
struct ArchiveOrigin
{
    QString shown;     // as the player named it
    QByteArray host;   // the host path it named
    FileStatus status; // as it was when read
};

// What a copy streamed from an archive came from: a member, by its name inside the archive.
struct MemberOrigin
{
    QByteArray archive; // the archive's host path, as ArchiveOrigin has it
    QString member;     // decoded, with its folders
    qint64 size = 0;    // unpacked
    bool operator==(const MemberOrigin &) const = default;
};

// Told of a session's changes before they reach their destinations, so that they can be
// undone: what each copy replaces can be kept while it is still there.
class ChangeJournal
{
public:
    virtual ~ChangeJournal() = default;
    // A copy, as the journal is told of it.
    struct Copy
    {
        QString destination;
        QByteArray target;
        FileStatus source;                  // the file it reads
        std::optional<FileStatus> replaced; // the file at `target`; none when there is none
        FileStatus made;                    // the copy, once written
        // Where it came from an archive, the member; `source` then holds only its size.
        std::optional<MemberOrigin> member;
    };
    // Which digests of a copy's data the journal needs read: those it knows from an earlier
    // install, of the same files unchanged since, it does not.
    struct Wanted
    {
        bool written = true;
        bool replaced = true;
    };
    // The copy is to take `target`'s place.
    virtual Wanted replacing(const Copy &copy) = 0;
    virtual void madeFolder(const QString &destination, const QByteArray &path) = 0;
    // An archive that the copies told next stream members of.
    virtual void readingArchive(const ArchiveOrigin &archive) = 0;
    // A folder of its own whose file system is flushed with the copies' data; "" for none.
    virtual QByteArray folder() const = 0;
    // Where that file system cannot be flushed whole: flushes its own files one by one.
    virtual void flushEach() = 0;
    // Once the copies' data are on the disk and the digests it wanted read, before any is
    // put in place: writes out what it holds.
    virtual void write(const Digests &digests) = 0;
};

// The file work of one install: the index of the folders it reads, and its copies, which
// reach the disk together. Each copy is written to a temporary file, without a name where
// the file system allows, else with a hidden one beside its destination, held locked by
// this process. commit() flushes the data of them all, puts each in its destination's
// place in the order they were made, and then flushes the names. A
// copy whose source is an earlier copy's destination reads that earlier copy. Copies not
// committed are removed with the session.
//
// Before a session first writes into a folder, it removes the temporary files there that
// an install which no longer runs left behind; those of a running install are locked and
// stay.
class FileSession
{
public:
    FileSession(FileSystem &files, const HostPaths &host);
    ~FileSession();
    FileSession(const FileSession &) = delete;
    FileSession &operator=(const FileSession &) = delete;

    FolderIndex &folders() { return m_folders; }
    // Told of every change from now on; none when null.
    void setJournal(ChangeJournal *journal) { m_journal = journal; }
    bool journaled() const { return m_journal != nullptr; }
    const HostPaths &host() const { return m_host; }

    // Copies one file, replacing the destination. The destination's folder is found
    // case-blind, and an existing file that matches the name case-blind is the one
    // replaced, under its own name; a replaced file keeps its permission bits where the
    // volume stores them. A destination that its owner made read-only is not replaced.
    // Copying a file onto itself leaves it alone. Throws RuntimeError when the source is
    // missing or a folder, the destination's folder does not exist, the destination is
    // read-only, or any step fails; its temporary file is then removed.
    void copyFile(const QString &source, const QString &destination);

    // A copy whose data the caller gives, from an archive say: its destination found and
    // checked, and the copy made beside it, as copyFile does; then its data in order; then
    // endCopy stages it with the others, telling the journal `origin` as what it came from.
    // Each throws RuntimeError as copyFile does, and the copy is then removed. A copy begun
    // and not ended is removed by the next beginCopy or with the session. A copy whose source
    // is such a copy, staged or in place, came from the same member.
    void beginCopy(const QString &destination);
    void appendCopy(const char *data, qint64 size);
    void endCopy(const MemberOrigin &origin);
    // The archive the copies streamed next come from, before them; then, once it has been
    // read, its digest (runtime::hashName), "" where it could not be read whole.
    void readingArchive(const ArchiveOrigin &archive);
    void archiveDigest(const QByteArray &host, const QByteArray &digest);

    // Creates one folder whose parent exists (a trailing separator is allowed); its name
    // is flushed to disk with the copies. Throws RuntimeError when an entry of that name,
    // in any case, already exists.
    void makeFolder(const QString &path);

    struct Failure
    {
        QString destination; // as given to copyFile or makeFolder
        Error error;
    };
    // Puts the copies made so far in place; returns those that could not be, or whose
    // names could not be flushed.
    QList<Failure> commit();
    // Puts nothing in place: the copies made so far go, and the folders made, emptied of them.
    void abandon();

private:
    struct Staged;
    struct Target;

    Target decide(const QString &source, const QString &destination);
    void place(Target &target);
    void checkReplaced(Target &target);
    void stage(Target &target);
    static std::optional<Keep> kept(const Target &target);
    void staged(Target &target, PendingCopy copy);
    void record(Target &target, const FileStatus &written);
    void removeAbandonedTemporaries(const QByteArray &folder);
    struct OpenFolder
    {
        Fd fd;
        quint64 device = 0; // its volume, which the copies made in it are on
    };
    const OpenFolder *openFolder(const QByteArray &folder);
    void flushData(std::vector<Staged> &staged, std::vector<Staged *> &flushed);
    Digests digests(const std::vector<Staged *> &flushed);
    void putInPlace();

    FileSystem &m_files;
    HostPaths m_host;
    ChangeJournal *m_journal = nullptr;
    FolderIndex m_folders;
    // The folders copies go into, each opened once an install: the copies are made and put
    // in place by the folder's handle and their one name, not looked for along a path.
    std::unordered_map<QByteArray, OpenFolder> m_openFolders;
    std::vector<Staged> m_staged; // after the folders: a copy removed goes through its folder
    std::size_t m_maxStaged;      // temporary files open at once, at the most
    QSet<QByteArray> m_cleared;   // folders rid of abandoned temporaries
    QList<QPair<QByteArray, QString>> m_newFolders; // parent, and the folder made in it
    QByteArrayList m_madeFolders;                   // their host paths, in order
    QList<Failure> m_failures;                      // of copies put in place early
    DigestWorker m_digests;                         // for the journal
    QHash<QByteArray, QByteArray> m_sourceOf;       // target -> the key of its source's digest
    QSet<QByteArray> m_sourcesRead;                 // their keys
    int m_copiesRead = 0;                           // copies read as sources, for their keys
    QHash<QByteArray, MemberOrigin> m_memberOf;     // target -> the member streamed to it
    QHash<QByteArray, QByteArray> m_archiveDigests; // by the archive's host path
    struct Incoming;
    std::unique_ptr<Incoming> m_incoming; // the copy streamed now
};

} // namespace runtime
