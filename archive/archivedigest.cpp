// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archivedigest.h"

#include <vector>

namespace archives {

namespace {

constexpr qint64 ChunkSize = qint64(1) << 20;

} // namespace

void ArchiveDigest::hash(const char *data, qint64 size)
{
    m_hash.addData(QByteArrayView(data, size));
    m_hashed += size;
}

// The blocks kept that the digest has reached, hashed where they go past it.
void ArchiveDigest::takeKept()
{
    while (!m_kept.empty() && m_kept.begin()->first <= m_hashed) {
        const auto block = m_kept.begin();
        const qint64 end = block->first + block->second.size();
        if (end > m_hashed)
            hash(block->second.constData() + (m_hashed - block->first), end - m_hashed);
        m_keptBytes -= block->second.size();
        m_kept.erase(block);
    }
}

// Hashes the file up to `end`, from the blocks kept where they are, else read here.
bool ArchiveDigest::readUpTo(const runtime::Fd &fd, qint64 end)
{
    std::vector<char> buffer;
    for (takeKept(); !m_failed && m_hashed < end; takeKept()) {
        qint64 until = end;
        if (const auto next = m_kept.upper_bound(m_hashed); next != m_kept.end())
            until = std::min(until, next->first);
        const qint64 wanted = std::min(until - m_hashed, ChunkSize);
        buffer.resize(std::size_t(wanted));
        qint64 got = 0;
        if (m_files.readAt(fd, m_hashed, buffer.data(), wanted, got) != 0 || got <= 0) {
            m_failed = true;
            break;
        }
        m_readHere += got;
        hash(buffer.data(), got);
    }
    return !m_failed;
}

void ArchiveDigest::read(const runtime::Fd &fd, qint64 fileSize, qint64 at, const char *data,
                         qint64 size)
{
    const qint64 end = at + size;
    if (m_failed || size <= 0 || end <= m_hashed)
        return;
    if (at > m_hashed) {
        // Read first at the end, and read again later in order: kept, as far as it goes.
        if (at >= fileSize - TailBytes) {
            if (m_keptBytes + size <= TailBytes && !m_kept.contains(at)) {
                m_kept.emplace(at, QByteArray(data, size));
                m_keptBytes += size;
            }
            return;
        }
        // Passed over by the reading: a member not wanted.
        if (!readUpTo(fd, at) || end <= m_hashed)
            return;
    }
    hash(data + (m_hashed - at), end - m_hashed);
    takeKept();
}

void ArchiveDigest::done(const runtime::Fd &fd, qint64 fileSize)
{
    if (readUpTo(fd, fileSize) && m_hashed == fileSize)
        m_digest = m_hash.result();
    m_kept.clear();
    m_keptBytes = 0;
}

} // namespace archives
