// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/filesystem.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>

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

} // namespace runtime
