// SPDX-License-Identifier: GPL-3.0-or-later
// Path splitting, case-blind lookup and listing over a small folder tree with mixed-case,
// Cyrillic and undecodable names, hidden files, links and link loops, and a Wine drive.
// Input: a path (bytes as host names decode them, so also undecodable ones and NULs). The
// tree is the current folder, and a path that starts with a separator is taken below it.

#include "fuzzcheck.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/listing.h"

#include <QDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace runtime;

namespace {

QByteArray g_host; // the tree's host path
QString g_root;    // and as the program spells it
HostPaths g_paths; // the tree as the current folder, and the Wine prefix in it
HostFileSystem g_files;

void makeFolder(const QByteArray &relative)
{
    if (::mkdir((g_host + '/' + relative).constData(), 0755) != 0)
        std::abort();
}

void makeFile(const QByteArray &relative)
{
    const int fd = ::open((g_host + '/' + relative).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        std::abort();
    ::close(fd);
}

void makeLink(const QByteArray &target, const QByteArray &relative)
{
    if (::symlink(target.constData(), (g_host + '/' + relative).constData()) != 0)
        std::abort();
}

// Every link points into its own folder, so a path below the tree never climbs out of it
// by more ".." than it has names.
void buildTree()
{
    makeFolder("Game");
    makeFile("Game/A0.DTA");
    makeFolder("Game/MODELS");
    makeFile("Game/MODELS/wren00.4ds");
    makeFile("Game/MODELS/Wren10.4DS");
    makeFolder("Game/Maps");
    makeFile("Game/Maps/Текстура.BMP");
    makeFile("Game/Maps/car.tga");
    makeFile("Game/Maps/\xCC\xE0\xF8\xE8\xED\xE0.bmp"); // Windows-1251, not UTF-8
    makeFile("Game/Maps/.hidden.bmp");
    makeFolder("Game/Maps/sub.bmp");
    makeLink("car.tga", "Game/Maps/link.tga");
    makeLink("sub.bmp", "Game/Maps/dirlink.bmp");
    makeLink("loop.bmp", "Game/Maps/loop.bmp");
    makeLink("nowhere", "Game/Maps/dangling.bmp");
    makeFolder("Twin");
    makeFolder("Twin/Models");
    makeFolder("Twin/MODELS");
    makeFile("Twin/Models/m.4ds");
    makeFolder("Loop");
    makeLink("b", "Loop/a");
    makeLink("a", "Loop/b");
    makeFolder("prefix");
    makeFolder("prefix/dosdevices");
    makeLink("../..", "prefix/dosdevices/c:");
}

bool isOrdinary(const QByteArray &hostPath)
{
    struct stat st;
    return ::stat(hostPath.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool sortedCaseBlind(const QStringList &names)
{
    return std::is_sorted(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return caseKey(a) < caseKey(b);
    });
}

// Whether an error is one of finding a path: the path's own fault, or the host's errno, also
// from reading a folder on the way (a loop of links, say).
bool resolvingError(const Error &error)
{
    if (error.operation == Operation::ReadFolder)
        return error.kind == ErrorKind::System && error.code;
    return error.operation == Operation::Resolve && (error.kind != ErrorKind::System || error.code);
}

// Listing, or nothing when it raised an error.
std::optional<QStringList> list(const QString &pattern)
{
    try {
        FolderIndex folders(g_files);
        return Listing::all(pattern, g_paths, folders);
    } catch (const RuntimeError &error) {
        FUZZ_CHECK(resolvingError(error.error()), pattern);
        return std::nullopt;
    }
}

QString swapCase(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        c = c.isUpper() ? c.toLower() : c.toUpper();
    return out;
}

void checkListing(const QString &path, const SplitPath &split)
{
    const auto names = list(path);
    if (!names)
        return;
    FUZZ_CHECK(sortedCaseBlind(*names), path);
    if (names->isEmpty())
        return;

    const bool wholeFolder = split.trailingSeparator;
    FolderIndex folders(g_files);
    const auto folder =
        resolveComponents(split, folders, split.components.size() - (wholeFolder ? 0 : 1));
    FUZZ_CHECK(folder, path);
    const QString last = wholeFolder ? u"*"_s : split.components.back();
    for (const QString &name : *names) {
        FUZZ_CHECK(!name.startsWith(u'.'), name);
        FUZZ_CHECK(isOrdinary(joinHost(*folder, encodeName(name))), name);
        if (hasWildcard(last))
            FUZZ_CHECK(matchesWildcard(name, last), name + u" ~ "_s + last);
        else
            FUZZ_CHECK(QString::compare(name, last, Qt::CaseInsensitive) == 0, name);
    }

    if (wholeFolder) {
        // Every ordinary file is a match of "*", and each is listed by its own name, in
        // any case.
        FUZZ_CHECK(list(path + u"*"_s) == names, path);
        for (const QString &name : names->first(std::min<qsizetype>(names->size(), 3))) {
            if (hasWildcard(name))
                continue;
            FUZZ_CHECK(list(path + name) == QStringList{name}, path + name);
            FUZZ_CHECK(list(path + swapCase(name)) == QStringList{name}, path + name);
        }
    }
}

// Removes the tree by its host names, which Qt cannot all spell.
void removeTree()
{
    ::nftw(
        g_host.constData(),
        [](const char *path, const struct stat *, int, FTW *) { return std::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_host = QFile::encodeName(QDir::tempPath()) + "/fuzz_paths-XXXXXX";
    if (!::mkdtemp(g_host.data()))
        std::abort();
    g_root = decodeName(g_host);
    buildTree();
    g_paths = {g_host + "/prefix", g_host, {}};
    std::atexit(removeTree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 512)
        return 0;
    const QString input = decodeName(QByteArrayView(data, qsizetype(size)));
    const bool rooted = input.startsWith(u'/') || input.startsWith(u'\\');
    const QString path = rooted ? g_root + input : input;

    // A drive followed by a name, "C:Games", starts from no root.
    const bool driveWithoutRoot = input.size() > 2 && input[1] == u':' && input[0].isLetter() &&
                                  input[0].unicode() < 0x80 && input[2] != u'/' &&
                                  input[2] != u'\\';
    SplitPath split;
    try {
        split = splitPath(path, g_paths);
        FUZZ_CHECK(!driveWithoutRoot, path);
    } catch (const RuntimeError &error) {
        // A NUL, an unready drive or a drive without its root: every service refuses the path.
        FUZZ_CHECK(error.error().kind == ErrorKind::NulInPath ||
                       error.error().kind == ErrorKind::DriveNotReady ||
                       (driveWithoutRoot && error.error().kind == ErrorKind::NoRoot),
                   path);
        FUZZ_CHECK(!list(path), path);
        return 0;
    }
    for (const QString &component : split.components)
        FUZZ_CHECK(!component.isEmpty() && !component.contains(u'/') && !component.contains(u'\\'),
                   path);
    // The components, joined again, split back into themselves.
    const QString joined = split.components.join(u'\\');
    FUZZ_CHECK(splitPath(u"/"_s + joined, g_paths).components == split.components, path);

    // A path starts at its drive's folder, at the root, or else at the current folder:
    // without one, a relative path is refused.
    const bool drive =
        input.size() >= 2 && input[1] == u':' && input[0].isLetter() && input[0].unicode() < 0x80;
    const QByteArray root =
        drive    ? g_paths.winePrefix + "/dosdevices/" + char(input[0].toLower().unicode()) + ':'
        : rooted ? QByteArray("/")
                 : g_host;
    FUZZ_CHECK(split.root == root, path);
    try {
        const SplitPath alone = splitPath(path, {g_paths.winePrefix, {}, {}});
        FUZZ_CHECK(root != g_host && alone.root == root && alone.components == split.components,
                   path);
    } catch (const RuntimeError &error) {
        FUZZ_CHECK(root == g_host && error.error().kind == ErrorKind::NoCurrentFolder, path);
    }

    // Stay inside the tree: no more ".." than names before them.
    const SplitPath own = splitPath(input, g_paths);
    int depth = 0;
    for (const QString &component : own.components) {
        depth += component == u".."_s ? -1 : component == u"."_s ? 0 : 1;
        if (depth < 0)
            return 0;
    }

    try {
        FolderIndex folders(g_files);
        if (const auto host = resolveExisting(path, g_paths, folders)) {
            struct stat st;
            FUZZ_CHECK(::lstat(host->constData(), &st) == 0, path);
        }
    } catch (const RuntimeError &error) {
        FUZZ_CHECK(resolvingError(error.error()), path);
    }
    checkListing(path, split);
    return 0;
}
