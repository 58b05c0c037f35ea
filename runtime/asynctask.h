// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QThread>
#include <memory>
#include <optional>
#include <type_traits>

namespace runtime {

// Waits for a thread to end, then deletes it.
struct JoinThread
{
    void operator()(QThread *thread) const
    {
        thread->wait();
        delete thread;
    }
};

// Work running on a thread of its own. Letting go of it waits for the work to end, so what
// the work uses need only outlive the task.
using AsyncTask = std::unique_ptr<QThread, JoinThread>;

// Runs `work` on a thread of its own and hands its result to `done` on the thread of
// `context`, through that thread's event loop. Once `context` is gone, `done` is not called.
// `work` must not throw.
template <typename Work, typename Done>
[[nodiscard]] AsyncTask runAsync(QObject *context, Work work, Done done)
{
    using Result = std::invoke_result_t<Work &>;
    auto result = std::make_shared<std::optional<Result>>();
    AsyncTask task(
        QThread::create([result, work = std::move(work)]() mutable { result->emplace(work()); }));
    // Emitted on the work's thread, delivered on the context's, and dropped with the context.
    QObject::connect(task.get(), &QThread::finished, context,
                     [result, done = std::move(done)]() mutable { done(std::move(**result)); });
    task->start();
    return task;
}

} // namespace runtime
