// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "install/installcar.h"
#include "records/undo.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "testsupport.h"
#include "texts/messages.h"

#include <QHash>
#include <QMetaEnum>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

inline char *toString(const InstallOutcome::NotWritten &n)
{
    return QTest::toString(n.file + u" — "_s + messages::reason(n.error));
}

// The name of a host error the tests meet, "ENOSPC"; the number of any other.
inline QString errorName(int code)
{
    static const std::pair<int, const char *> names[] = {
        {EACCES, "EACCES"}, {EBUSY, "EBUSY"},   {EDQUOT, "EDQUOT"}, {EEXIST, "EEXIST"},
        {EIO, "EIO"},       {EISDIR, "EISDIR"}, {ENOENT, "ENOENT"}, {ENOSPC, "ENOSPC"},
        {ENOSYS, "ENOSYS"}, {EROFS, "EROFS"},
    };
    for (const auto &[known, name] : names) {
        if (code == known)
            return QLatin1StringView(name);
    }
    return QString::number(code);
}

// What an outcome says of each file not written, briefly: "maps\\x.bmp ENOSPC" for an
// error of the host, "models\\a.4ds ReadOnly" for one of the program's kinds.
inline QStringList brief(const QList<InstallOutcome::NotWritten> &notWritten)
{
    QStringList result;
    for (const auto &[file, error] : notWritten) {
        const QString why =
            error.kind == runtime::ErrorKind::System
                ? errorName(error.code)
                : QLatin1StringView(
                      QMetaEnum::fromType<runtime::ErrorKind>().valueToKey(int(error.kind)));
        result.append(file + u' ' + why);
    }
    return result;
}

// Records the files an install announces; `before` may act just before one is copied.
class RecordingProgress : public InstallProgress
{
public:
    void copying(int done, int total, const QString &file) override
    {
        files.append(file);
        steps.append({done, total});
        if (before)
            before(file);
    }
    QStringList files;
    QList<QPair<int, int>> steps;
    std::function<void(const QString &)> before;
};

// The host's file system, but for the operations a test makes fail on files of a chosen
// name, as a full disk or a failing drive would. It logs the work done, in order.
class TestFileSystem : public runtime::HostFileSystem
{
public:
    enum Op
    {
        Open,
        Access,
        CreateTemporary,
        Copy,
        SetMode,
        FlushFile,
        FlushFolder,
        FlushFileSystem,
        Rename,
        MakeFolder,
        Link,
        Create,
        Remove,
        ListFolder,
        OpenFolder, // inside an open folder
        OpenEntry,  // inside an open folder
        RemoveFolder,
        SetModified,
        SetOwner,
        Write,
        Read, // of a file's bytes: the read that reaches `atByte` fails, unlogged
    };
    struct Fault
    {
        Op op;
        int error;
        // Of the file or folder worked on, case-blind ("" for any); a copy's temporary file
        // goes by its destination's name.
        QByteArray name;
        qint64 atByte = 0; // Copy: the bytes that pass before it fails; Read: the byte
        int times = -1;    // how many calls it fails, the first ones; -1 for every one
    };

    QList<Fault> faults;
    // Once set, as by a process killed at that moment: every operation fails with EIO.
    bool dead = false;
    // Temporary files always have names, as where the file system has none without.
    bool namedTemporaries = false;
    std::size_t budget = 0; // files open at once; 0 for the host's
    QList<QPair<Op, QByteArray>> log;
    std::function<void(Op, const QByteArray &)> before; // runs before each logged operation

    int listFolder(const QByteArray &path, runtime::FolderListing &listing) override
    {
        return unlessFailed(ListFolder, nameOf(path),
                            [&] { return runtime::HostFileSystem::listFolder(path, listing); });
    }

    // Reads on threads other than this one (those of the digests) each take this long; the
    // files removed while one is under way are counted.
    std::chrono::milliseconds otherThreadReads{0};
    std::atomic<int> removedWhileRead{0};

    int readAt(const runtime::Fd &file, qint64 offset, char *buffer, qint64 size,
               qint64 &got) override
    {
        if (std::this_thread::get_id() != m_thread) {
            ++m_reading;
            std::this_thread::sleep_for(otherThreadReads);
            const int error = runtime::HostFileSystem::readAt(file, offset, buffer, size, got);
            --m_reading;
            return error;
        }
        if (dead)
            return EIO;
        for (Fault &fault : faults) {
            if (fault.op == Read && fault.times != 0 && offset <= fault.atByte &&
                fault.atByte < offset + size &&
                (fault.name.isEmpty() ||
                 fault.name.compare(m_names.value(file.get()), Qt::CaseInsensitive) == 0)) {
                fault.times -= fault.times > 0;
                return fault.error;
            }
        }
        return runtime::HostFileSystem::readAt(file, offset, buffer, size, got);
    }

    int open(const QByteArray &path, runtime::Fd &file) override
    {
        if (const int error = failed(Open, nameOf(path)))
            return error;
        const int error = runtime::HostFileSystem::open(path, file);
        m_names[file.get()] = nameOf(path);
        return error;
    }
    int access(const QByteArray &path) override
    {
        return unlessFailed(Access, nameOf(path),
                            [&] { return runtime::HostFileSystem::access(path); });
    }
    int accessAt(const runtime::Fd &folder, const QByteArray &name) override
    {
        return unlessFailed(Access, name,
                            [&] { return runtime::HostFileSystem::accessAt(folder, name); });
    }
    int createTemporaryAt(const runtime::Fd &folder, const QByteArray &destination,
                          QByteArray &path, bool &named, runtime::Fd &file) override
    {
        if (const int error = failed(CreateTemporary, nameOf(destination)))
            return error;
        int error = 0;
        if (namedTemporaries) { // as Windows and FAT make them
            named = true;
            path = destination.left(destination.lastIndexOf('/') + 1) + runtime::newTemporaryName();
            error = runtime::HostFileSystem::createAt(folder, path, 0666, file);
        } else {
            error =
                runtime::HostFileSystem::createTemporaryAt(folder, destination, path, named, file);
        }
        m_names[file.get()] = nameOf(destination);
        return error;
    }
    int copy(const runtime::Fd &from, const runtime::Fd &to, qint64 size, bool &cloned) override
    {
        const Fault *fault = planned(Copy, m_names.value(to.get()));
        if (!fault)
            return runtime::HostFileSystem::copy(from, to, size, cloned);
        QByteArray head;
        if (runtime::HostFileSystem::read(from, fault->atByte, head) != 0 ||
            runtime::HostFileSystem::write(to, head) != 0)
            return EIO;
        return fault->error;
    }
    int setMode(const runtime::Fd &file, quint32 permissions) override
    {
        return unlessFailed(SetMode, m_names.value(file.get()),
                            [&] { return runtime::HostFileSystem::setMode(file, permissions); });
    }
    int flushFile(const runtime::Fd &file) override
    {
        return unlessFailed(FlushFile, m_names.value(file.get()),
                            [&] { return runtime::HostFileSystem::flushFile(file); });
    }
    int flushFolder(const QByteArray &path) override
    {
        return unlessFailed(FlushFolder, nameOf(path),
                            [&] { return runtime::HostFileSystem::flushFolder(path); });
    }
    int flushFileSystem(const QByteArray &path) override
    {
        return unlessFailed(FlushFileSystem, nameOf(path),
                            [&] { return runtime::HostFileSystem::flushFileSystem(path); });
    }
    int renameTemporaryAt(const runtime::Fd &folder, const QByteArray &from,
                          const runtime::Fd &file, const QByteArray &to, bool replace) override
    {
        return unlessFailed(Rename, nameOf(to), [&] {
            return runtime::HostFileSystem::renameTemporaryAt(folder, from, file, to, replace);
        });
    }
    int setModified(const runtime::Fd &file, qint64 modified) override
    {
        return unlessFailed(SetModified, m_names.value(file.get()),
                            [&] { return runtime::HostFileSystem::setModified(file, modified); });
    }
    int setOwner(const runtime::Fd &file, quint32 owner, quint32 group) override
    {
        return unlessFailed(SetOwner, m_names.value(file.get()),
                            [&] { return runtime::HostFileSystem::setOwner(file, owner, group); });
    }
    int write(const runtime::Fd &file, const QByteArray &data) override
    {
        return unlessFailed(Write, m_names.value(file.get()),
                            [&] { return runtime::HostFileSystem::write(file, data); });
    }
    int flushOpenFolder(const runtime::Fd &folder) override
    {
        return unlessFailed(FlushFolder, m_names.value(folder.get()),
                            [&] { return runtime::HostFileSystem::flushOpenFolder(folder); });
    }
    int remove(const QByteArray &path) override
    {
        return unlessFailed(Remove, nameOf(path),
                            [&] { return runtime::HostFileSystem::remove(path); });
    }
    int removeFolderAt(const runtime::Fd &folder, const QByteArray &name) override
    {
        return unlessFailed(RemoveFolder, name,
                            [&] { return runtime::HostFileSystem::removeFolderAt(folder, name); });
    }
    int openFolderAt(const runtime::Fd &folder, const QByteArray &name,
                     runtime::Fd &opened) override
    {
        // A path is no step inside a folder.
        if (const int error = folder.isOpen() ? failed(OpenFolder, name) : 0)
            return error;
        const int error = runtime::HostFileSystem::openFolderAt(folder, name, opened);
        m_names[opened.get()] = nameOf(name);
        return error;
    }
    int openEntryAt(const runtime::Fd &folder, const QByteArray &name, runtime::Fd &file) override
    {
        if (const int error = failed(OpenEntry, name))
            return error;
        const int error = runtime::HostFileSystem::openEntryAt(folder, name, file);
        m_names[file.get()] = name;
        return error;
    }
    int makeFolder(const QByteArray &path, quint32 permissions) override
    {
        return unlessFailed(MakeFolder, nameOf(path),
                            [&] { return runtime::HostFileSystem::makeFolder(path, permissions); });
    }
    int makePrivateFolder(const QByteArray &path) override
    {
        return unlessFailed(MakeFolder, nameOf(path),
                            [&] { return runtime::HostFileSystem::makePrivateFolder(path); });
    }
    // A fault on a rename is found by either name.
    int renameAt(const runtime::Fd &fromFolder, const QByteArray &from, const runtime::Fd &toFolder,
                 const QByteArray &to) override
    {
        const Fault *fault = planned(Rename, to);
        for (Fault &f : faults) {
            if (!fault && f.op == Rename && f.name == from && f.times != 0) {
                f.times -= f.times > 0;
                fault = &f;
            }
        }
        return fault ? fault->error
                     : runtime::HostFileSystem::renameAt(fromFolder, from, toFolder, to);
    }
    int createAt(const runtime::Fd &folder, const QByteArray &name, quint32 permissions,
                 runtime::Fd &file) override
    {
        if (const int error = failed(Create, name))
            return error;
        const int error = runtime::HostFileSystem::createAt(folder, name, permissions, file);
        m_names[file.get()] = name;
        return error;
    }
    int removeAt(const runtime::Fd &folder, const QByteArray &name) override
    {
        removedWhileRead += m_reading > 0;
        return unlessFailed(Remove, nameOf(name),
                            [&] { return runtime::HostFileSystem::removeAt(folder, name); });
    }
    int link(const QByteArray &from, const QByteArray &to) override
    {
        return unlessFailed(Link, nameOf(from),
                            [&] { return runtime::HostFileSystem::link(from, to); });
    }
    int create(const QByteArray &path, runtime::Fd &file) override
    {
        if (const int error = failed(Create, nameOf(path)))
            return error;
        const int error = runtime::HostFileSystem::create(path, file);
        m_names[file.get()] = nameOf(path);
        return error;
    }
    std::size_t openFileBudget() override
    {
        return budget ? budget : runtime::HostFileSystem::openFileBudget();
    }

    // The names of the logged operations of one kind, in order.
    QByteArrayList names(Op op) const
    {
        QByteArrayList result;
        for (const auto &[done, name] : log)
            if (done == op)
                result.append(name);
        return result;
    }

private:
    static QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

    const Fault *planned(Op op, const QByteArray &name)
    {
        static const Fault gone{Open, EIO, {}};
        if (dead)
            return &gone;
        if (before)
            before(op, name);
        log.append({op, name});
        for (Fault &fault : faults) {
            if (fault.op == op && fault.times != 0 &&
                (fault.name.isEmpty() || fault.name.compare(name, Qt::CaseInsensitive) == 0)) {
                fault.times -= fault.times > 0;
                return &fault;
            }
        }
        return nullptr;
    }
    int failed(Op op, const QByteArray &name)
    {
        const Fault *fault = planned(op, name);
        return fault ? fault->error : 0;
    }
    template <typename Call> int unlessFailed(Op op, const QByteArray &name, Call call)
    {
        const int error = failed(op, name);
        return error ? error : call();
    }

    QHash<int, QByteArray> m_names; // of the open files
    const std::thread::id m_thread = std::this_thread::get_id();
    std::atomic<int> m_reading{0};
};

// A game folder with stock files; a new car whose Maps folder holds two textures, a note,
// a hidden file and a subfolder; a car "wren" with three colours; a request that points at
// them with no colour ticked. The drive C: of the Wine prefix is the tree (on POSIX hosts,
// where the program meets Wine's drives), and the current folder an empty one, so that
// relative paths find nothing. Tests add entries by bytes.
class Game : public TempTree
{
public:
    Game()
    {
        dir("cwd");
        dir("Game"), file("Game/a0.dta", "game");
        dir("Game/models"), file("Game/models/wren00.4ds", "stock 00");
        file("Game/models/wren10.4ds", "stock 10");
        dir("Game/maps"), file("Game/maps/road.bmp", "stock road");
        dir("new"), file("new/car.4ds", "new model");
        dir("new/Maps");
        for (const char *name : {"body.bmp", "glass.tga", "readme.txt", ".hidden.bmp"})
            texture("new/Maps", name);
        dir("new/Maps/sub"), texture("new/Maps/sub", "inner.bmp");

        dir("prefix"), dir("prefix/dosdevices");
        if (testhost::posix)
            link("../..", "prefix/dosdevices/c:");

        car(u"Wren"_s, u"wren"_s, 3);
        request.gameFolder = path("Game");
        request.modelFile = path("new/car.4ds");
        request.mapsFolder = path("new/Maps");
    }

    // What each texture of the fixture holds.
    static QByteArray content(const QByteArray &name) { return "texture " + name; }

    void texture(const QByteArray &folder, const QByteArray &name)
    {
        file(folder + '/' + name, content(name));
    }

    // The car chosen in the list.
    void car(const QString &name, const QString &model, int colours)
    {
        request.car = Car{name, model, colours};
    }

    void tick(std::initializer_list<int> boxes)
    {
        for (int box : boxes)
            request.colourBoxes[box - 1] = 1;
    }

    const InstallOutcome &install()
    {
        const records::Store records = store();
        outcome = InstallCar(request, files, host, &records, &progress);
        return outcome;
    }

    records::UndoOutcome undo()
    {
        try {
            return records::UndoInstall(
                store(), host, records::UndoTarget::read(store(), host, request.gameFolder));
        } catch (const records::RecordsError &error) {
            records::UndoOutcome outcome;
            outcome.error = error.error();
            return outcome;
        }
    }
    QList<records::InstallRecord> installs() { return store().readAll().good; }
    // The records of the installs, as the program keeps them for the host's user.
    records::Store store() { return {files, host.dataFolder, host.user}; }

    QByteArray game(const QByteArray &relative) const
    {
        return host::read(hostPath("Game/" + relative));
    }

    // Every entry of the game folder, relative to it, sorted.
    QStringList gameEntries() const { return host::entries(hostPath("Game")); }

    // The install passed its checks and wrote every file.
    bool succeeded() const { return outcome.installed(); }

    runtime::HostPaths host{root + "/prefix", root + "/cwd", root + "/data"};
    InstallRequest request;
    TestFileSystem files;
    RecordingProgress progress;
    InstallOutcome outcome;
};
