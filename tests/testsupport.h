// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/hostpath.h"
#include "runtime/messagebox.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

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
        return runtime::vbOK;
    }

    QList<Shown> shown;

private:
    runtime::MessageBoxService *m_previous;
};

// Host files by their bytes, as the program meets them: names need not be UTF-8.
namespace host {

// Makes a folder and the folders above it.
inline void makeFolders(const QByteArray &path)
{
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1))
        ::mkdir(path.left(slash).constData(), 0755);
    ::mkdir(path.constData(), 0755);
}

// Writes a file, making the folders above it.
inline void write(const QByteArray &path, const QByteArray &bytes)
{
    makeFolders(path.left(path.lastIndexOf('/')));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, path.constData());
    QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    ::close(fd);
}

inline QByteArray read(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return "<missing>";
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

// The names in a folder, sorted; links are not followed.
inline QByteArrayList names(const QByteArray &folder)
{
    QByteArrayList result;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                result.append(name);
        }
        ::closedir(dir);
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
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) {
            result.append(rel + " <gone>");
            continue;
        }
        result.append(rel + ' ' + QByteArray::number(qint64(st.st_size)));
        if (S_ISDIR(st.st_mode))
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

} // namespace host

// A folder tree in a temporary folder, built by relative paths with "/" separators: by their
// bytes, as the host has them, or by name.
class TempTree
{
    QTemporaryDir m_dir; // first: the root is its path

public:
    const QByteArray root = QFile::encodeName(m_dir.path());

    TempTree() { QVERIFY(m_dir.isValid()); }
    ~TempTree()
    {
        // QTemporaryDir cannot spell every host name, so the tree goes by its bytes.
        ::nftw(
            root.constData(),
            [](const char *entry, const struct stat *, int, FTW *) { return ::remove(entry); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

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
        QCOMPARE(::symlink(target.constData(), hostPath(relative).constData()), 0);
    }
    QByteArray read(QStringView relative) const
    {
        return host::read(hostPath(runtime::encodeName(relative)));
    }
    // Every entry under the tree, relative, sorted: the whole state of the tree.
    QStringList entries() const { return host::entries(root); }
};
