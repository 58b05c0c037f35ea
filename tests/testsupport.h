// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/messagebox.h"
#include "testhost.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <limits>
#include <optional>

// Skips the test, or its row, where the host's files are not POSIX ones: what it needs is
// POSIX by nature, as `what` says.
#define SKIP_UNLESS_POSIX(what)                                                                    \
    do {                                                                                           \
        if (!testhost::posix)                                                                      \
            QSKIP(QByteArray("POSIX by nature: ").append(what).constData());                       \
    } while (false)

// A name or host path as the host tells them apart: case-blind where its names are
// (Windows), so that one found as typed, "game" for "Game", is the same. "" for none.
inline QString hostKey(const QString &text)
{
    return testhost::posix ? text : text.toCaseFolded();
}
inline QString hostPathKey(const std::optional<QByteArray> &path)
{
    return hostKey(path ? runtime::decodeName(*path) : QString());
}

// What a player's "read-only" leaves of a file's permissions: chmod a-w, or Windows'
// read-only attribute.
inline constexpr QFile::Permissions ReadOnlyPermissions =
    QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;

// A file's permissions for its owner, its group and others, as Qt tells them.
inline QFile::Permissions ownPermissions(const QString &path)
{
    return QFileInfo(path).permissions() &
           ~QFile::Permissions(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
}

// Records message boxes instead of showing them.
class RecordingMessageBox : public runtime::MessageBoxService
{
public:
    struct Shown
    {
        QString text;
        int style;
        QString title;
    };

    RecordingMessageBox() { m_previous = runtime::setMessageBoxService(this); }
    ~RecordingMessageBox() override { runtime::setMessageBoxService(m_previous); }

    int show(const QString &text, int style, const QString &title) override
    {
        shown.append({text, style, title});
        return style & runtime::vbYesNo ? answer : runtime::vbOK;
    }

    std::optional<int> choose(const QString &text, const QStringList &items,
                              const QString &title) override
    {
        shown.append({text, -1, title});
        offered = items;
        return choice;
    }

    QList<Shown> shown;
    int answer = runtime::vbNo; // to a question
    QStringList offered;        // in the last list to choose from
    std::optional<int> choice;  // from it; nullopt: the user cancels

private:
    runtime::MessageBoxService *m_previous;
};

// Host files by their bytes, as the program meets them: names need not be UTF-8. They are
// made, read and removed through the host's file system, the program's own.
namespace host {

inline runtime::HostFileSystem &files()
{
    static runtime::HostFileSystem files;
    return files;
}

// Makes a folder and the folders above it.
inline void makeFolders(const QByteArray &path)
{
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1))
        files().makeFolder(path.left(slash), 0755);
    files().makeFolder(path, 0755);
}

// Writes a file, making the folders above it. A file that was there is replaced and keeps
// its permission bits; a new one is the owner's to write, everyone's to read (0644).
inline void write(const QByteArray &path, const QByteArray &bytes)
{
    makeFolders(path.left(path.lastIndexOf('/')));
    runtime::FileStatus old;
    const bool replaced = files().entryStatus(path, old) == 0;
    if (replaced)
        QCOMPARE(files().remove(path), 0);
    runtime::Fd file;
    QCOMPARE(files().create(path, file), 0);
    QCOMPARE(files().write(file, bytes), 0);
    files().setMode(file, old.isRegular() ? old.permissions() : 0644); // where the host has them
}

inline QByteArray read(const QByteArray &path)
{
    runtime::Fd file;
    QByteArray bytes;
    if (files().open(path, file) != 0 ||
        files().read(file, std::numeric_limits<qint64>::max(), bytes) != 0)
        return "<missing>";
    return bytes;
}

// The names in a folder, sorted; links are not followed.
inline QByteArrayList names(const QByteArray &folder)
{
    QByteArrayList result;
    runtime::FolderListing listing;
    if (files().listFolder(folder, listing) == 0) {
        for (const runtime::FolderEntry &entry : listing.entries)
            result.append(entry.name);
    }
    std::sort(result.begin(), result.end());
    return result;
}

// Every entry below a folder with the size of each file: the whole state of a tree.
inline QByteArrayList snapshot(const QByteArray &folder, const QByteArray &relative = {})
{
    QByteArrayList result;
    for (const QByteArray &name : names(folder)) {
        const QByteArray path = folder + '/' + name;
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        runtime::FileStatus status;
        if (files().entryStatus(path, status) != 0) {
            result.append(rel + " <gone>");
            continue;
        }
        result.append(rel + ' ' + QByteArray::number(status.size));
        if (status.isFolder())
            result += snapshot(path, rel);
    }
    return result;
}

// The entries of a snapshot, without their sizes, as names, sorted.
inline QStringList entries(const QByteArray &folder)
{
    QStringList result;
    for (const QByteArray &entry : snapshot(folder))
        result.append(runtime::decodeName(entry.left(entry.lastIndexOf(' '))));
    result.sort();
    return result;
}

// Gives a host file or folder permission bits, as POSIX numbers them.
inline void setMode(const QByteArray &path, quint32 mode)
{
    runtime::Fd file;
    QCOMPARE(files().open(path, file), 0);
    QCOMPARE(files().setMode(file, mode), 0);
}

// Removes a file, link or folder tree; links are not followed.
inline void removeTree(const QByteArray &path)
{
    runtime::FileStatus status;
    if (files().entryStatus(path, status) == 0 && status.isFolder()) {
        for (const QByteArray &name : names(path))
            removeTree(path + '/' + name);
        files().removeFolder(path);
    } else {
        files().remove(path);
    }
}

} // namespace host

// A folder tree in a temporary folder, built by relative paths with "/" separators: by their
// bytes, as the host has them, or by name.
class TempTree
{
    QTemporaryDir m_dir; // first: the root is its path

public:
    const QByteArray root = runtime::encodeName(m_dir.path());

    TempTree() { QVERIFY(m_dir.isValid()); }
    // QTemporaryDir cannot spell every host name, so the tree goes by its bytes; it takes
    // what is left, such as a file with Windows' read-only attribute.
    ~TempTree() { host::removeTree(root); }

    QByteArray hostPath(const QByteArray &relative) const { return root + '/' + relative; }
    QString path(const QByteArray &relative) const
    {
        return runtime::decodeName(hostPath(relative));
    }
    QString path(QStringView relative = {}) const
    {
        return relative.isEmpty() ? runtime::decodeName(root) : path(runtime::encodeName(relative));
    }
    QString file(const QByteArray &relative, const QByteArray &content = "x") const
    {
        host::write(hostPath(relative), content);
        return path(relative);
    }
    QString file(QStringView relative, const QByteArray &content = "x") const
    {
        return file(runtime::encodeName(relative), content);
    }
    QString dir(const QByteArray &relative) const
    {
        host::makeFolders(hostPath(relative));
        return path(relative);
    }
    QString dir(QStringView relative) const { return dir(runtime::encodeName(relative)); }
    void link(const QByteArray &target, const QByteArray &relative) const
    {
        QCOMPARE(testhost::symlink(target, hostPath(relative)), 0);
    }
    QByteArray read(QStringView relative) const
    {
        return host::read(hostPath(runtime::encodeName(relative)));
    }
    // Every entry under the tree, relative, sorted: the whole state of the tree.
    QStringList entries() const { return host::entries(root); }
};
