// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/error.h"
#include "runtime/filesystem.h"

#include <QByteArray>
#include <optional>

namespace runtime {

// What a copy takes of the file whose place it takes: its owner and its permission bits.
struct Keep
{
    quint32 owner = 0;
    quint32 group = 0;
    quint32 permissions = 0;
};

// A copy that is to take a file's place, as the install and the undo both put one there:
// written whole to a temporary file beside it (without a name where the file system allows,
// else with a hidden one of its own), locked so that no other process takes it for one
// abandoned, given the owner and the bits it is to keep; then flushed, and renamed over the
// file. One that goes without taking its place is removed.
class PendingCopy
{
public:
    explicit PendingCopy(FileSystem &files) : m_files(&files) {}
    ~PendingCopy() { discard(); }
    PendingCopy(PendingCopy &&other) noexcept;
    PendingCopy &operator=(PendingCopy &&other) noexcept;

    // Writes the `size` bytes of `from` beside the entry `name` of the open `folder`, or
    // beside the path `name` where `folder` is not open. Returns 0, or the errno with the
    // operation it failed at in `failed`.
    int write(const Fd &folder, const QByteArray &name, const Fd &from, qint64 size,
              const std::optional<Keep> &keep, Operation &failed);
    // The same in steps, for data that comes in parts: the empty copy, its data in order,
    // and what it keeps of the file it replaces. A step that fails removes the copy.
    int begin(const Fd &folder, const QByteArray &name, Operation &failed);
    int append(const char *data, qint64 size);
    int finish(const std::optional<Keep> &keep, Operation &failed);

    // The volume of the folder it is to be written in, where known: the file's status is
    // read without asking for that again.
    void setVolume(quint64 device) { m_volume = device; }
    const FileStatus &status() const { return m_status; } // as created
    const Fd &file() const { return m_file; }
    // A path that opens it, while it waits: where it has a name and was written beside an
    // entry of an open folder, its name in that folder.
    const QByteArray &path() const { return m_temp; }
    bool named() const { return m_named; }

    int flush() { return m_files->flushFile(m_file); }
    // Set after the last flush of the data: some volumes stamp a flush's time on the file.
    int setModified(qint64 modified) { return m_files->setModified(m_file, modified); }
    // Takes its file's place (`replace` false: only where there is none, else EEXIST); then
    // it is done with.
    int putInPlace(bool replace = true);
    void discard();

private:
    int create(Operation &failed);

    FileSystem *m_files;
    const Fd *m_folder = nullptr; // null: `m_name` is a path
    QByteArray m_name;
    QByteArray m_temp;
    bool m_named = false;
    Fd m_file; // holds the lock until it is renamed or removed
    FileStatus m_status;
    std::optional<quint64> m_volume;
};

// Removes a temporary file that an install or an undo cut short left (`name` in the open
// `folder`, or a path where `folder` is not open): one that no running process holds, and
// that is still under its temporary name.
void removeIfAbandoned(FileSystem &files, const Fd &folder, const QByteArray &name);

} // namespace runtime
