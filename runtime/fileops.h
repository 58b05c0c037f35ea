#pragma once

#include <QList>
#include <QString>

namespace runtime {

// Copies one file, replacing the destination. The destination's folder is found
// case-blind, and an existing file that matches the name case-blind is the one replaced,
// under its own name. The copy is written to a temporary file beside the destination,
// flushed to disk and renamed over it, so the destination is only ever the old file or
// the whole new one; a replaced file keeps its permission bits. Copying a file onto
// itself leaves it alone. Throws RuntimeError when the source is missing or a folder, the
// destination's folder does not exist, or any step fails; the temporary file is removed.
void copyFile(const QString &source, const QString &destination);

// A run of copies made durable together. While a session is active, each copy is written
// to its temporary file as it is made; commit() then flushes them all to disk at once and
// renames each over its destination, in the order they were made. A copy whose source is
// an earlier copy's destination reads that earlier copy. Copies not committed are removed
// with the session.
class FileSession
{
public:
    FileSession();
    ~FileSession();
    FileSession(const FileSession &) = delete;
    FileSession &operator=(const FileSession &) = delete;

    static FileSession *active();

    struct Failure
    {
        QString destination; // as given to copyFile
        QString reason;
    };
    // Puts the copies made so far in place; returns those that could not be.
    QList<Failure> commit();

private:
    friend void copyFile(const QString &source, const QString &destination);
    struct Staged;
    QList<Staged> m_staged;
    FileSession *m_previous;
};

// Creates one folder whose parent exists (a trailing separator is allowed). Throws
// RuntimeError when an entry of that name, in any case, already exists.
void makeFolder(const QString &path);

// The folder that holds the program's executable.
QString programFolder();

// Test seam: makes the file services fail on demand, as a full disk or a failing drive.
namespace testing {

enum class FaultOp
{
    OpenSource,
    CreateTemp,
    Read,
    Write,
    Sync,
    Rename,
    MakeFolder,
};

struct Fault
{
    FaultOp op;
    int error;         // the errno the operation fails with
    qint64 atByte = 0; // Read and Write: the bytes that pass before the failure
    QString fileName;  // only copies to (or folders of) this name, case-blind; "" any
};

void setFaults(const QList<Fault> &faults);
void clearFaults();

} // namespace testing

} // namespace runtime
