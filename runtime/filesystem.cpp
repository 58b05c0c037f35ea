// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/filesystem.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <vector>

namespace runtime {

namespace {

const QByteArray TemporaryPrefix = ".quillmere-";
const QByteArray TemporarySuffix = ".tmp";

} // namespace

bool isTemporaryName(QByteArrayView name)
{
    if (!name.startsWith(TemporaryPrefix) || !name.endsWith(TemporarySuffix))
        return false;
    const QByteArrayView middle = name.sliced(
        TemporaryPrefix.size(), name.size() - TemporaryPrefix.size() - TemporarySuffix.size());
    return !middle.isEmpty() && std::all_of(middle.begin(), middle.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
    });
}

QByteArray newTemporaryName()
{
    return TemporaryPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
           TemporarySuffix;
}

bool FileSystem::transient(int error) const
{
    return error == EINTR || error == EAGAIN;
}

bool FileStatus::isFolder() const
{
    return (mode & TypeBits) == FolderType;
}

bool FileStatus::isRegular() const
{
    return (mode & TypeBits) == RegularType;
}

bool FileStatus::isLink() const
{
    return (mode & TypeBits) == LinkType;
}

int FileSystem::read(const Fd &file, qint64 limit, QByteArray &data)
{
    // A regular file is read in one buffer of its size; anything else in growing steps.
    FileStatus st;
    data.clear();
    data.resize(status(file, st) == 0 && st.isRegular() ? std::min(st.size + 1, limit)
                                                        : std::min<qint64>(64 * 1024, limit));
    qint64 filled = 0;
    while (filled < limit) {
        if (filled == data.size())
            data.resize(std::min<qint64>(data.size() * 2, limit));
        qint64 got = 0;
        if (const int error =
                readAt(file, AtPosition, data.data() + filled, data.size() - filled, got)) {
            data.clear();
            return error;
        }
        if (got == 0)
            break;
        filled += got;
    }
    data.truncate(filled);
    return 0;
}

int FileSystem::copyByLoop(const Fd &from, const Fd &to)
{
    std::vector<char> buffer(1 << 20);
    for (qint64 got = 0;;) {
        if (const int error = readAt(from, AtPosition, buffer.data(), qint64(buffer.size()), got))
            return error;
        if (got == 0)
            return 0;
        if (const int error = write(to, QByteArray::fromRawData(buffer.data(), got)))
            return error;
    }
}

int FileSystem::hash(const Fd &file, QByteArray &digest)
{
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    std::vector<char> buffer(1 << 20);
    for (qint64 offset = 0, got = 0;; offset += got) {
        if (const int error = readAt(file, offset, buffer.data(), qint64(buffer.size()), got))
            return error;
        if (got == 0)
            break;
        hash.addData(QByteArrayView(buffer.data(), got));
    }
    digest = hash.result();
    return 0;
}

} // namespace runtime
