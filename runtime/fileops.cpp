#include "runtime/fileops.h"

#include "runtime/hostpath.h"
#include "runtime/runtimeerror.h"

#include <QCoreApplication>
#include <QHash>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace runtime {

namespace {

QList<testing::Fault> g_faults;

const testing::Fault *faultFor(testing::FaultOp op, const QString &fileName)
{
    for (const auto &fault : g_faults) {
        if (fault.op == op &&
            (fault.fileName.isEmpty() ||
             QString::compare(fault.fileName, fileName, Qt::CaseInsensitive) == 0))
            return &fault;
    }
    return nullptr;
}

// Fails with the injected error when a fault is planned for this operation.
void injectFault(testing::FaultOp op, const QString &fileName)
{
    if (const auto *fault = faultFor(op, fileName)) {
        errno = fault->error;
        throw errno;
    }
}

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd &operator=(Fd &&other) noexcept
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
        return *this;
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

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
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            throw errno;
        }
        data += n;
        size -= n;
    }
}

// Fills `out` from `in` by the plain read/write loop, stopping at an injected fault.
void copyByLoop(int in, int out, const QString &fileName)
{
    const auto *readFault = faultFor(testing::FaultOp::Read, fileName);
    const auto *writeFault = faultFor(testing::FaultOp::Write, fileName);
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
            throw errno;
        if (n == 0 && readFault && done >= readFault->atByte) {
            errno = readFault->error;
            throw errno;
        }
        if (n == 0)
            return;
        if (writeFault && done + n > writeFault->atByte) {
            writeAll(out, buffer.data(), writeFault->atByte - done);
            errno = writeFault->error;
            throw errno;
        }
        writeAll(out, buffer.data(), n);
        done += n;
    }
}

// Fills `out` from `in` by the fastest means the host offers: a reflink clone, the
// kernel's copy offload, else the read/write loop.
void fillCopy(int in, int out, qint64 size, const QString &fileName)
{
    if (faultFor(testing::FaultOp::Read, fileName) || faultFor(testing::FaultOp::Write, fileName))
        return copyByLoop(in, out, fileName);
    if (::ioctl(out, FICLONE, in) == 0)
        return;
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - done), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && done == 0 &&
            (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP))
            break;
        if (n < 0)
            throw errno;
        if (n == 0)
            return; // the source got shorter; what is there is copied
        done += n;
    }
    if (done < size || size == 0)
        copyByLoop(in, out, fileName);
}

QByteArray temporaryName()
{
    return ".quillmere-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
           ".tmp";
}

} // namespace

namespace {
FileSession *g_activeSession = nullptr;
}

// The destination's temporary copy, written and closed; it takes the destination's place
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
};

FileSession::FileSession() : m_previous(std::exchange(g_activeSession, this)) {}

FileSession::~FileSession()
{
    for (const Staged &staged : m_staged)
        ::unlink(staged.temp.constData());
    g_activeSession = m_previous;
}

FileSession *FileSession::active()
{
    return g_activeSession;
}

QList<FileSession::Failure> FileSession::commit()
{
    QList<Failure> failures;
    const QList<Staged> staged = std::exchange(m_staged, {});
    const auto failed = [&](const Staged &s, int error) {
        ::unlink(s.temp.constData());
        failures.append({s.destination, systemErrorText(error)});
    };

    // One flush a file system puts every copy's data on disk before any rename.
    QHash<dev_t, int> flushed; // device -> 0, or the error its flush gave
    QList<Staged> synced;
    for (const Staged &s : staged) {
        struct stat st;
        if (::stat(s.folder.constData(), &st) != 0) {
            failed(s, errno);
            continue;
        }
        if (!flushed.contains(st.st_dev)) {
            const Fd folder(::open(s.folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            flushed[st.st_dev] = folder.get() >= 0 && ::syncfs(folder.get()) == 0 ? 0 : errno;
        }
        const auto *fault = faultFor(testing::FaultOp::Sync, s.faultName);
        if (const int error = fault ? fault->error : flushed[st.st_dev])
            failed(s, error);
        else
            synced.append(s);
    }
    for (const Staged &s : synced) {
        const auto *fault = faultFor(testing::FaultOp::Rename, s.faultName);
        if (fault || ::rename(s.temp.constData(), s.target.constData()) != 0) {
            failed(s, fault ? fault->error : errno);
            continue;
        }
        if (FolderCache *cache = FolderCache::active(); cache && s.isNew)
            cache->created(s.folder, s.name);
    }
    return failures;
}

void copyFile(const QString &source, const QString &destination)
{
    auto sourceHost = resolveExisting(source);
    if (!sourceHost)
        throw RuntimeError(u"Файл «%1» не найден"_s.arg(source), u"исходный файл не найден"_s);

    const SplitPath target = splitPath(destination);
    if (target.trailingSeparator || target.components.isEmpty())
        throw RuntimeError(u"В пути «%1» нет имени файла"_s.arg(destination), u"нет имени файла"_s);
    const QString name = target.components.back();
    const auto folder = resolveComponents(target, target.components.size() - 1);
    if (!folder || !isFolder(*folder))
        throw RuntimeError(u"Папка для файла «%1» не найдена"_s.arg(destination),
                           u"папка назначения не найдена"_s);
    const auto existing = findEntry(*folder, name);
    const QByteArray targetName = existing ? *existing : encodeName(name);
    const QByteArray targetHost = joinHost(*folder, targetName);

    FileSession *session = FileSession::active();
    if (session) {
        // A file this session has yet to put in place is read from its new copy.
        for (auto it = session->m_staged.crbegin(); it != session->m_staged.crend(); ++it) {
            if (it->target == *sourceHost) {
                sourceHost = it->temp;
                break;
            }
        }
    }

    Fd in;
    Fd out;
    QByteArray temp;
    try {
        injectFault(testing::FaultOp::OpenSource, name);
        in = Fd(::open(sourceHost->constData(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0 && errno == ENOENT)
            throw RuntimeError(u"Файл «%1» не найден"_s.arg(source), u"исходный файл не найден"_s);
        if (in.get() < 0)
            throw errno;
        struct stat sourceStat;
        if (::fstat(in.get(), &sourceStat) != 0)
            throw errno;
        if (S_ISDIR(sourceStat.st_mode))
            throw int(EISDIR);

        struct stat targetStat;
        const bool replacing = ::stat(targetHost.constData(), &targetStat) == 0;
        if (replacing && S_ISDIR(targetStat.st_mode))
            throw int(EISDIR);
        if (replacing && targetStat.st_dev == sourceStat.st_dev &&
            targetStat.st_ino == sourceStat.st_ino)
            return; // the file is its own copy already

        injectFault(testing::FaultOp::CreateTemp, name);
        for (int attempt = 0; out.get() < 0; ++attempt) {
            temp = joinHost(*folder, temporaryName());
            out = Fd(::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (out.get() < 0 && (errno != EEXIST || attempt > 100)) {
                temp.clear();
                throw errno;
            }
        }
        fillCopy(in.get(), out.get(), sourceStat.st_size, name);
        if (replacing) {
            // Ownership can only be kept with the rights to give it; the bits always can.
            if (::fchown(out.get(), targetStat.st_uid, targetStat.st_gid) != 0) {
            }
            if (::fchmod(out.get(), targetStat.st_mode & 07777) != 0)
                throw errno;
        }
        if (!session) {
            injectFault(testing::FaultOp::Sync, name);
            if (::fsync(out.get()) != 0)
                throw errno;
        } else {
            // Start writing the data out now, so that the session's flush finds less to do.
            ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        if (::close(out.release()) != 0)
            throw errno;
        if (session) {
            session->m_staged.append(
                {destination, temp, targetHost, *folder, targetName, name, !existing});
            // Later copies to this name in any case go to the same file.
            if (FolderCache *cache = FolderCache::active(); cache && !existing)
                cache->reserved(*folder, targetName);
            return;
        }
        injectFault(testing::FaultOp::Rename, name);
        if (::rename(temp.constData(), targetHost.constData()) != 0)
            throw errno;
        if (FolderCache *cache = FolderCache::active(); cache && !existing)
            cache->created(*folder, targetName);
    } catch (int error) {
        if (!temp.isEmpty())
            ::unlink(temp.constData());
        fail(u"Не удалось записать «%1»"_s.arg(destination), error);
    }
}

void makeFolder(const QString &path)
{
    const SplitPath split = splitPath(path);
    if (split.components.isEmpty())
        fail(u"Не удалось создать папку «%1»"_s.arg(path), EEXIST);
    const QString name = split.components.back();
    const auto parent = resolveComponents(split, split.components.size() - 1);
    if (!parent)
        fail(u"Не удалось создать папку «%1»"_s.arg(path), ENOENT);
    if (name == u"."_s || name == u".."_s || findEntry(*parent, name))
        fail(u"Не удалось создать папку «%1»"_s.arg(path), EEXIST);
    if (const auto *fault = faultFor(testing::FaultOp::MakeFolder, name))
        fail(u"Не удалось создать папку «%1»"_s.arg(path), fault->error);
    if (::mkdir(joinHost(*parent, encodeName(name)).constData(), 0777) != 0)
        fail(u"Не удалось создать папку «%1»"_s.arg(path), errno);
    if (FolderCache *cache = FolderCache::active())
        cache->created(*parent, encodeName(name));
}

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

namespace testing {

void setFaults(const QList<Fault> &faults)
{
    g_faults = faults;
}

void clearFaults()
{
    g_faults.clear();
}

} // namespace testing

} // namespace runtime
