// SPDX-License-Identifier: GPL-3.0-or-later
// How the player writes paths: a path split into its root and names, the names Windows
// keeps, and a path as the player reads it.
#include "runtime/error.h"
#include "runtime/hostpath.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

} // namespace

bool isReservedName(QStringView name)
{
    // Microsoft, "Naming Files, Paths, and Namespaces": a name with ':' names a stream of a
    // file; the names of devices, also followed by an extension ("NUL.txt", "NUL.tar.gz"),
    // open the device. Windows drops the spaces at the end of the name before the extension
    // too ("CON .txt"). The superscript digits are among COM and LPT's in that list.
    if (name.contains(u':'))
        return true;
    const qsizetype dot = name.indexOf(u'.');
    QStringView base = dot < 0 ? name : name.first(dot);
    while (base.endsWith(u' '))
        base.chop(1);
    for (const char16_t *device : {u"CON", u"PRN", u"AUX", u"NUL"}) {
        if (base.compare(QStringView(device), Qt::CaseInsensitive) == 0)
            return true;
    }
    if (base.size() != 4)
        return false;
    const QStringView stem = base.first(3);
    const char16_t digit = base[3].unicode();
    const bool port = stem.compare(u"COM", Qt::CaseInsensitive) == 0 ||
                      stem.compare(u"LPT", Qt::CaseInsensitive) == 0;
    return port && ((digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
                    digit == u'\u00B3');
}

QString shownPath(const QString &path, PathStyle style)
{
    return style == PathStyle::Windows ? QString(path).replace(u'/', u'\\') : path;
}

namespace {

bool isDriveLetter(QStringView path)
{
    return path.size() >= 2 && path[1] == u':' && path[0].isLetter() && path[0].unicode() < 0x80;
}

// The host folder of a drive's root; `rest` is what follows "C:", which must start from its
// root: "C:Games" is the drive's current folder, which a player rarely means, which Wine
// does not keep, and which on Windows is the state of the console the program was started
// from (Microsoft, "Naming Files, Paths, and Namespaces": "C:tmp.txt" refers to a file in
// the current directory on drive C).
QByteArray driveFolder(const QString &path, QStringView drive, QStringView rest,
                       const HostPaths &host)
{
    if (!rest.isEmpty() && !isSeparator(rest[0]))
        raise(ErrorKind::NoRoot, Operation::Resolve, path);
    const QByteArray root = driveRoot(char(drive[0].toLower().unicode()), host);
    if (root.isEmpty())
        raise(ErrorKind::DriveNotReady, Operation::Resolve, path,
              drive.first(1).toString().toUpper());
    return root;
}

// The root of a path in Windows' style that starts from a share, \\server\share, or is
// verbatim, \\?\C:\ or \\?\UNC\server\share (Microsoft, "Naming Files, Paths, and
// Namespaces"; a share's path in the file dialog's spelling, "//server/share"). `rest`
// becomes what follows the root.
QByteArray windowsRoot(const QString &path, QStringView &rest, const HostPaths &host)
{
    // Verbatim paths are written with backslashes only.
    if (rest.startsWith(u"\\\\?\\")) {
        rest = rest.sliced(4);
        if (isDriveLetter(rest)) {
            const QStringView drive = rest.first(2);
            rest = rest.sliced(2);
            return driveFolder(path, drive, rest, host);
        }
        if (!rest.startsWith(u"UNC\\", Qt::CaseInsensitive))
            raise(ErrorKind::NoRoot, Operation::Resolve, path);
        rest = rest.sliced(4);
    } else {
        rest = rest.sliced(2);
    }
    // The server and the share, each a name.
    QStringList names;
    while (names.size() < 2) {
        const qsizetype end = std::find_if(rest.begin(), rest.end(), isSeparator) - rest.begin();
        const QStringView name = rest.first(end);
        if (name.isEmpty() || name == u"." || name == u"?")
            raise(ErrorKind::NoRoot, Operation::Resolve, path);
        names.append(name.toString());
        rest = rest.sliced(end);
        if (names.size() < 2 && !rest.isEmpty())
            rest = rest.sliced(1);
    }
    return "//" + encodeName(names[0]) + '/' + encodeName(names[1]) + '/';
}

} // namespace

SplitPath splitPath(const QString &path, const HostPaths &host)
{
    if (path.contains(QChar(0)))
        raise(ErrorKind::NulInPath, Operation::Resolve, path);

    const bool windows = host.style == PathStyle::Windows;
    SplitPath result;
    QStringView rest = path;
    if (isDriveLetter(path)) {
        rest = rest.sliced(2);
        result.root = driveFolder(path, QStringView(path).first(2), rest, host);
    } else if (windows && path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        result.root = windowsRoot(path, rest, host);
    } else if (!path.isEmpty() && isSeparator(path[0])) {
        result.root = "/";
    } else {
        if (host.currentFolder.isEmpty())
            raise(ErrorKind::NoCurrentFolder, Operation::Resolve, path);
        result.root = host.currentFolder;
    }

    qsizetype start = 0;
    for (qsizetype i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || isSeparator(rest[i])) {
            if (i > start)
                result.components.append(rest.sliced(start, i - start).toString());
            start = i + 1;
        }
    }
    if (windows) {
        for (const QString &name : std::as_const(result.components)) {
            if (isReservedName(name))
                raise(ErrorKind::ReservedName, Operation::Resolve, path, name);
        }
    }
    result.trailingSeparator = !rest.isEmpty() && isSeparator(rest.back());
    return result;
}

} // namespace runtime
