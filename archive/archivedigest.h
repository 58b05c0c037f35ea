// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "archive/archivereader.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <map>

namespace archives {

// The digest of a whole archive file (runtime::hashName), taken from what a reading of its
// members reads, in order. What that reading passes over is read here, once, when it jumps
// past it; what it reads first at the end of the file (a zip's central directory, a 7z's
// header) is kept until the digest reaches it, within TailBytes.
class ArchiveDigest : public ReadWatcher
{
public:
    explicit ArchiveDigest(runtime::FileSystem &files) : m_files(files) {}

    void read(const runtime::Fd &fd, qint64 fileSize, qint64 at, const char *data,
              qint64 size) override;
    void done(const runtime::Fd &fd, qint64 fileSize) override;

    // The digest once the reading is over; "" where the file could not be read whole.
    QByteArray digest() const { return m_digest; }
    // The bytes read here: those the reading passed over, and the end it read first but
    // could not keep.
    qint64 readHere() const { return m_readHere; }

    static constexpr qint64 TailBytes = qint64(8) << 20;

private:
    void hash(const char *data, qint64 size);
    void takeKept();
    bool readUpTo(const runtime::Fd &fd, qint64 end);

    runtime::FileSystem &m_files;
    QCryptographicHash m_hash{QCryptographicHash::Blake2b_256};
    qint64 m_hashed = 0;                 // the bytes from the start hashed
    std::map<qint64, QByteArray> m_kept; // blocks read ahead of them, by offset
    qint64 m_keptBytes = 0;
    qint64 m_readHere = 0;
    bool m_failed = false;
    QByteArray m_digest;
};

} // namespace archives
