#include "runtime/fileops.h"

#include "runtime/runtimeerror.h"

#include <QCoreApplication>
#include <QHash>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

using testing::Fault;
using testing::FaultOp;

// A step of a copy failed with this errno.
struct SystemError
{
    int code;
};

[[noreturn]] void raise(int code)
{
    throw SystemError{code};
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&other) noexcept : m_fd(other.release()) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

[[noreturn]] void fail(const QString &what, int error)
{
    const QString reason = systemErrorText(error);
    throw RuntimeError(u"%1: %2"_s.arg(what, reason), reason);
}

// Writes all of `data`, taking short writes in its stride; a write that makes no
// progress is an error.
void writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            raise(n == 0 ? ENOSPC : errno);
        data += n;
        size -= n;
    }
}

// Fills `out` from `in` by the plain read/write loop, stopping at a planned fault.
void copyByLoop(int in, int out, const Fault *readFault, const Fault *writeFault)
{
    std::vector<char> buffer(1 << 20);
    qint64 done = 0;
    for (;;) {
        qint64 want = qint64(buffer.size());
        if (readFault && done + want > readFault->atByte)
            want = readFault->atByte - done;
        ssize_t n = want > 0 ? ::read(in, buffer.data(), size_t(want)) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            raise(errno);
        if (n == 0 && readFault && done >= readFault->atByte)
            raise(readFault->error);
        if (n == 0)
            return;
        if (writeFault && done + n > writeFault->atByte) {
            writeAll(out, buffer.data(), writeFault->atByte - done);
            raise(writeFault->error);
        }
        writeAll(out, buffer.data(), n);
        done += n;
    }
}

// Fills `out` from `in` by the fastest means the host offers: a reflink clone, the
// kernel's copy offload, else the read/write loop. True when it is a clone, which shares
// the source's data on disk and so has none of its own to write out.
bool fillCopy(int in, int out, qint64 size, const Fault *readFault, const Fault *writeFault)
{
    if (readFault || writeFault) {
        copyByLoop(in, out, readFault, writeFault);
        return false;
    }
    if (::ioctl(out, FICLONE, in) == 0)
        return true;
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - done), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && done == 0 &&
            (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP))
            break;
        if (n < 0)
            raise(errno);
        if (n == 0)
            return false; // the source got shorter; what is there is copied
        done += n;
    }
    if (done < size || size == 0)
        copyByLoop(in, out, nullptr, nullptr);
    return false;
}

const QByteArray TemporaryPrefix = ".quillmere-";
const QByteArray TemporarySuffix = ".tmp";

QByteArray temporaryName()
{
    return TemporaryPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
           TemporarySuffix;
}

bool isTemporaryName(QByteArrayView name)
{
    if (!name.startsWith(TemporaryPrefix) || !name.endsWith(TemporarySuffix))
        return false;
    const QByteArrayView middle = QByteArrayView(name).sliced(
        TemporaryPrefix.size(), name.size() - TemporaryPrefix.size() - TemporarySuffix.size());
    return !middle.isEmpty() && std::all_of(middle.begin(), middle.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
    });
}

// Creates a temporary file in `folder` and locks it, so that no other install takes it
// for one abandoned. One that such an install removed before the lock was taken is given
// up for another name.
Fd createTemporary(const QByteArray &folder, QByteArray &path)
{
    for (int attempt = 0;; ++attempt) {
        path = joinHost(folder, temporaryName());
        Fd fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() < 0) {
            const int error = errno;
            path.clear();
            if (error == EEXIST && attempt < 100)
                continue;
            raise(error);
        }
        struct stat st;
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            // Where the file system has no locks, no other install can lock it either,
            // and so none removes it.
            if (errno != EWOULDBLOCK)
                return fd;
        } else if (::fstat(fd.get(), &st) == 0 && st.st_nlink > 0) {
            return fd;
        }
        path.clear(); // the other install removes it
        if (attempt >= 100)
            raise(EEXIST);
    }
}

// Whether the user could write to a file: its mode has a write bit (root included, who
// may write anyway), and the system grants the write.
bool writable(const QByteArray &hostPath, const struct stat &st)
{
    return (st.st_mode & 0222) != 0 &&
           ::faccessat(AT_FDCWD, hostPath.constData(), W_OK, AT_EACCESS) == 0;
}

// As many temporary files as may stay open at once, leaving room for everything else.
std::size_t openFileBudget()
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 256;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t budget = limit.rlim_cur == RLIM_INFINITY ? 65536 : limit.rlim_cur / 2;
    return std::clamp<std::size_t>(std::size_t(std::min<rlim_t>(budget, 65536)), 16, 65536);
}

} // namespace

// The destination's temporary copy, written and locked; it takes the destination's place
// once its data is on disk.
struct FileSession::Staged
{
    QString destination;
    QByteArray temp;
    QByteArray target;
    QByteArray folder;
    QByteArray name;
    QString faultName;
    bool isNew; // no entry of the name was there
    Fd fd;      // holds the lock until the file is renamed or removed
};

FileSession::FileSession(QList<testing::Fault> plannedFaults)
    : m_faults(std::move(plannedFaults)), m_maxStaged(openFileBudget())
{}

FileSession::~FileSession()
{
    for (const Staged &staged : m_staged)
        ::unlink(staged.temp.constData());
}

const Fault *FileSession::fault(FaultOp op, const QString &fileName) const
{
    for (const auto &fault : m_faults) {
        if (fault.op == op &&
            (fault.fileName.isEmpty() ||
             QString::compare(fault.fileName, fileName, Qt::CaseInsensitive) == 0))
            return &fault;
    }
    return nullptr;
}

void FileSession::removeAbandonedTemporaries(const QByteArray &folder)
{
    if (m_cleared.contains(folder))
        return;
    m_cleared.insert(folder);
    const auto *entries = m_folders.entries(folder);
    if (!entries)
        return;
    // The index keeps the names removed here; being hidden, they are never listed.
    for (const FolderIndex::Entry &entry : *entries) {
        if (entry.name[0] != '.' || !isTemporaryName(entry.name)) // most names at a glance
            continue;
        const QByteArray path = joinHost(folder, QByteArray(entry.name));
        const Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held, now;
        if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
            ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        // Unlocked, and still under its temporary name: no install will rename it.
        if (::lstat(path.constData(), &now) == 0 && now.st_dev == held.st_dev &&
            now.st_ino == held.st_ino)
            ::unlink(path.constData());
    }
}

QList<FileSession::Failure> FileSession::commit()
{
    putInPlace();
    return std::exchange(m_failures, {});
}

void FileSession::putInPlace()
{
    std::vector<Staged> staged = std::exchange(m_staged, {});
    const auto failed = [&](const Staged &s, int error) {
        ::unlink(s.temp.constData());
        m_failures.append({s.destination, systemErrorText(error)});
    };

    // One flush a file system puts every copy's data on disk before any rename.
    QHash<dev_t, int> flushed; // device -> 0, or the error its flush gave
    std::vector<Staged *> synced;
    for (Staged &s : staged) {
        struct stat st;
        if (::stat(s.folder.constData(), &st) != 0) {
            failed(s, errno);
            continue;
        }
        if (!flushed.contains(st.st_dev)) {
            const Fd folder(::open(s.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            flushed[st.st_dev] = folder.get() >= 0 && ::syncfs(folder.get()) == 0 ? 0 : errno;
        }
        const auto *planned = fault(FaultOp::Sync, s.faultName);
        if (const int error = planned ? planned->error : flushed[st.st_dev])
            failed(s, error);
        else
            synced.push_back(&s);
    }

    // The renames, then one flush of each folder that received a name, so that the names
    // too survive a power cut.
    QList<QByteArray> folders;
    QHash<QByteArray, QStringList> renamedInto; // folder -> destinations
    const auto touched = [&](const QByteArray &folder, const QString &destination) {
        if (!renamedInto.contains(folder))
            folders.append(folder);
        renamedInto[folder].append(destination);
    };
    for (const auto &[parent, made] : std::exchange(m_newFolders, {}))
        touched(parent, made);
    for (Staged *s : synced) {
        const auto *planned = fault(FaultOp::Rename, s->faultName);
        if (planned || ::rename(s->temp.constData(), s->target.constData()) != 0) {
            failed(*s, planned ? planned->error : errno);
            continue;
        }
        if (s->isNew)
            m_folders.created(s->folder, s->name);
        touched(s->folder, s->destination);
    }
    for (const QByteArray &folder : folders) {
        const QString name = decodeName(folder.mid(folder.lastIndexOf('/') + 1));
        int error = 0;
        if (const auto *planned = fault(FaultOp::SyncFolder, name)) {
            error = planned->error;
        } else {
            const Fd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fd.get() < 0 || ::fsync(fd.get()) != 0)
                error = errno;
        }
        if (error) {
            for (const QString &destination : renamedInto[folder])
                m_failures.append({destination, systemErrorText(error)});
        }
    }
    // The temporary files' locks go with `staged`, now that they are in place or removed.
}

void copyFile(FileSession &session, const QString &source, const QString &destination)
{
    FolderIndex *folders = &session.m_folders;
    auto sourceHost = resolveExisting(source, folders);
    if (!sourceHost)
        throw RuntimeError(u"Файл «%1» не найден"_s.arg(source), u"исходный файл не найден"_s);

    const SplitPath target = splitPath(destination);
    if (target.trailingSeparator || target.components.isEmpty())
        throw RuntimeError(u"В пути «%1» нет имени файла"_s.arg(destination), u"нет имени файла"_s);
    const QString name = target.components.back();
    const auto folder = resolveComponents(target, target.components.size() - 1, folders);
    if (!folder || !isFolder(*folder))
        throw RuntimeError(u"Папка для файла «%1» не найдена"_s.arg(destination),
                           u"папка назначения не найдена"_s);
    session.removeAbandonedTemporaries(*folder);
    const auto existing = findEntry(*folder, name, folders);
    const QByteArray targetName = existing ? *existing : encodeName(name);
    const QByteArray targetHost = joinHost(*folder, targetName);

    // A file this session has yet to put in place is read from its new copy.
    for (auto it = session.m_staged.crbegin(); it != session.m_staged.crend(); ++it) {
        if (it->target == *sourceHost) {
            sourceHost = it->temp;
            break;
        }
    }

    const auto planned = [&](FaultOp op) {
        if (const auto *fault = session.fault(op, name))
            raise(fault->error);
    };
    QByteArray temp;
    try {
        planned(FaultOp::OpenSource);
        const Fd in(::open(sourceHost->constData(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0 && errno == ENOENT)
            throw RuntimeError(u"Файл «%1» не найден"_s.arg(source), u"исходный файл не найден"_s);
        if (in.get() < 0)
            raise(errno);
        struct stat sourceStat;
        if (::fstat(in.get(), &sourceStat) != 0)
            raise(errno);
        if (S_ISDIR(sourceStat.st_mode))
            raise(EISDIR);

        struct stat targetStat;
        const bool replacing = ::stat(targetHost.constData(), &targetStat) == 0;
        if (replacing && S_ISDIR(targetStat.st_mode))
            raise(EISDIR);
        if (replacing && targetStat.st_dev == sourceStat.st_dev &&
            targetStat.st_ino == sourceStat.st_ino)
            return; // the file is its own copy already
        if (replacing &&
            (session.fault(FaultOp::Access, name) || !writable(targetHost, targetStat)))
            throw RuntimeError(u"Файл «%1» только для чтения"_s.arg(destination),
                               u"файл только для чтения"_s);

        planned(FaultOp::CreateTemp);
        Fd out = createTemporary(*folder, temp);
        const bool cloned =
            fillCopy(in.get(), out.get(), sourceStat.st_size, session.fault(FaultOp::Read, name),
                     session.fault(FaultOp::Write, name));
        if (replacing) {
            // Ownership can only be kept with the rights to give it; the bits always can.
            if (::fchown(out.get(), targetStat.st_uid, targetStat.st_gid) != 0) {
            }
            if (::fchmod(out.get(), targetStat.st_mode & 07777) != 0)
                raise(errno);
        }
        // Start writing the data out now, so that the session's flush finds less to do.
        if (!cloned)
            ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        if (session.m_staged.size() >= session.m_maxStaged)
            session.putInPlace();
        session.m_staged.push_back(
            {destination, temp, targetHost, *folder, targetName, name, !existing, std::move(out)});
        // Later copies to this name in any case go to the same file.
        if (!existing)
            folders->reserved(*folder, targetName);
    } catch (const SystemError &error) {
        if (!temp.isEmpty())
            ::unlink(temp.constData());
        fail(u"Не удалось записать «%1»"_s.arg(destination), error.code);
    }
}

void makeFolder(const QString &path, FileSession *session)
{
    FolderIndex *folders = session ? &session->m_folders : nullptr;
    const SplitPath split = splitPath(path);
    if (split.components.isEmpty())
        fail(u"Не удалось создать папку «%1»"_s.arg(path), EEXIST);
    const QString name = split.components.back();
    const auto parent = resolveComponents(split, split.components.size() - 1, folders);
    if (!parent)
        fail(u"Не удалось создать папку «%1»"_s.arg(path), ENOENT);
    if (name == u"."_s || name == u".."_s || findEntry(*parent, name, folders))
        fail(u"Не удалось создать папку «%1»"_s.arg(path), EEXIST);
    if (const auto *fault = session ? session->fault(testing::FaultOp::MakeFolder, name) : nullptr)
        fail(u"Не удалось создать папку «%1»"_s.arg(path), fault->error);
    if (::mkdir(joinHost(*parent, encodeName(name)).constData(), 0777) != 0)
        fail(u"Не удалось создать папку «%1»"_s.arg(path), errno);
    if (session) {
        folders->created(*parent, encodeName(name));
        session->m_newFolders.append({*parent, path});
    }
}

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace runtime
