// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "runtime/filesystem.h"

#include <QByteArray>
#include <QHash>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace runtime {

// Reads files for their digests (FileSystem::hash) on threads of its own, one a processor but
// the one the work needs (on two, the one that measured best), started with the first file,
// so that the reading goes on beside the work that asked for it.
class DigestWorker
{
public:
    explicit DigestWorker(FileSystem &files) : m_files(files) {}
    ~DigestWorker();
    DigestWorker(const DigestWorker &) = delete;
    DigestWorker &operator=(const DigestWorker &) = delete;

    // The file is read from its start; it stays open until then.
    void add(const QByteArray &key, Fd file);
    // The digests of every file added so far, by key, once all are read; a file that
    // could not be read has none.
    QHash<QByteArray, QByteArray> digests();

private:
    static constexpr std::size_t MaxWaiting = 16;
    void run();

    FileSystem &m_files;
    std::mutex m_mutex;
    std::condition_variable m_added, m_read;
    std::deque<std::pair<QByteArray, Fd>> m_queue;
    QHash<QByteArray, QByteArray> m_digests;
    int m_reading = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace runtime
