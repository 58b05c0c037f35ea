#pragma once

#include "runtime/hostpath.h"

#include <QList>
#include <QSet>
#include <QString>
#include <vector>

namespace runtime {

namespace testing {

// An operation of the file services that a test can make fail, as a full disk or a failing
// drive would.
enum class FaultOp
{
    OpenSource,
    Access, // the destination is found not writable
    CreateTemp,
    Read,
    Write,
    Sync,
    Rename,
    SyncFolder, // the flush of a folder that received new names
    MakeFolder,
};

struct Fault
{
    FaultOp op;
    int error;         // the errno the operation fails with
    qint64 atByte = 0; // Read and Write: the bytes that pass before the failure
    QString fileName;  // only copies to (or folders of) this name, case-blind; "" any
};

} // namespace testing

// The file work of one install: the index of the folders it reads, and its copies, which
// reach the disk together. Each copy is written to a hidden temporary file beside its
// destination, held locked by this process; commit() flushes them all to disk at once,
// renames each over its destination in the order they were made, and flushes the folders
// that received them. A copy whose source is an earlier copy's destination reads that
// earlier copy. Copies not committed are removed with the session.
//
// Before a session first writes into a folder, it removes the temporary files there that
// an install which no longer runs left behind; those of a running install are locked and
// stay.
class FileSession
{
public:
    // `plannedFaults`: for tests, the operations that are to fail.
    explicit FileSession(QList<testing::Fault> plannedFaults = {});
    ~FileSession();
    FileSession(const FileSession &) = delete;
    FileSession &operator=(const FileSession &) = delete;

    FolderIndex &folders() { return m_folders; }

    struct Failure
    {
        QString destination; // as given to copyFile or makeFolder
        QString reason;
    };
    // Puts the copies made so far in place; returns those that could not be, or whose
    // folder could not be flushed.
    QList<Failure> commit();

private:
    friend void copyFile(FileSession &, const QString &, const QString &);
    friend void makeFolder(const QString &, FileSession *);
    struct Staged;

    const testing::Fault *fault(testing::FaultOp op, const QString &fileName) const;
    void removeAbandonedTemporaries(const QByteArray &folder);
    void putInPlace();

    FolderIndex m_folders;
    QList<testing::Fault> m_faults;
    std::vector<Staged> m_staged;
    std::size_t m_maxStaged;                        // temporary files open at once, at the most
    QSet<QByteArray> m_cleared;                     // folders rid of abandoned temporaries
    QList<QPair<QByteArray, QString>> m_newFolders; // parent, and the folder made in it
    QList<Failure> m_failures;                      // of copies put in place early
};

// Copies one file within a session, replacing the destination. The destination's folder
// is found case-blind, and an existing file that matches the name case-blind is the one
// replaced, under its own name; a replaced file keeps its permission bits. A destination
// that its owner made read-only is not replaced. Copying a file onto itself leaves it
// alone. Throws RuntimeError when the source is missing or a folder, the destination's
// folder does not exist, the destination is read-only, or any step fails; its temporary
// file is then removed.
void copyFile(FileSession &session, const QString &source, const QString &destination);

// Creates one folder whose parent exists (a trailing separator is allowed); within a
// session, its name is flushed to disk with the session's copies. Throws RuntimeError when
// an entry of that name, in any case, already exists.
void makeFolder(const QString &path, FileSession *session = nullptr);

// The folder that holds the program's executable.
QString programFolder();

} // namespace runtime
