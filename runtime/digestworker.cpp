// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/digestworker.h"

#include <algorithm>

namespace runtime {

DigestWorker::~DigestWorker()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_added.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void DigestWorker::add(const QByteArray &key, Fd file)
{
    {
        std::unique_lock lock(m_mutex);
        // Each waiting file is held open: no more than a few wait at once.
        m_read.wait(lock, [this] { return m_queue.size() < MaxWaiting; });
        m_queue.emplace_back(key, std::move(file));
        ++m_reading;
    }
    if (m_threads.empty()) {
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, 4u) - 1;
        for (unsigned i = 0; i < count; ++i)
            m_threads.emplace_back([this] { run(); });
    }
    m_added.notify_one();
}

QHash<QByteArray, QByteArray> DigestWorker::digests()
{
    std::unique_lock lock(m_mutex);
    m_read.wait(lock, [this] { return m_reading == 0; });
    return m_digests;
}

void DigestWorker::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_added.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return; // stopping, with nothing left to read
        auto [key, file] = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        QByteArray digest;
        const bool read = m_files.hash(file, digest) == 0;
        file.reset();
        lock.lock();
        if (read)
            m_digests.insert(key, digest);
        --m_reading;
        m_read.notify_all();
    }
}

} // namespace runtime
