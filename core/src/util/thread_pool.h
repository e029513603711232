// The process-wide worker pool.
//
// One pool serves index building, batch mapping and chaining partitions. It
// starts on first use and lives for the process. A thread that starts
// parallel work takes part in it and, while waiting for the rest, runs other
// queued work, so a task may itself start parallel work without deadlock.
// An exception thrown by a task (a FatalError, say) is rethrown on the thread
// that started the parallel operation, after all of its tasks have finished.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "util/error.h"

namespace tessiq {

class TESSIQ_API ThreadPool {
public:
    // The shared pool. Its size is TESSIQ_THREADS when that holds a positive
    // number, else the number of CPUs this process may run on.
    static ThreadPool& global();

    // Threads that run parallel work, counting the calling thread.
    size_t num_threads() const { return num_threads_; }

    // Runs fn(i) for every i in [0, n) and returns when all calls are done.
    // Indices are handed out in chunks of `grain`. After a call throws, the
    // indices not yet started are skipped and the first exception is rethrown.
    void parallel_for(size_t n, const std::function<void(size_t)>& fn, size_t grain = 1);

    // Returns {f(0), ..., f(n-1)}, in input order whatever the schedule.
    template <typename T, typename F>
    std::vector<T> parallel_map(size_t n, F&& f) {
        std::vector<T> out(n);
        parallel_for(n, [&](size_t i) { out[i] = f(i); });
        return out;
    }

    // Calls f(item) for every element of `items`, each on one thread.
    template <typename T, typename F>
    void for_each(std::vector<T>& items, F&& f) {
        parallel_for(items.size(), [&](size_t i) { f(items[i]); });
    }

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

private:
    explicit ThreadPool(size_t num_threads);
    ~ThreadPool() = default;  // workers are detached: the pool lives for the process
    void worker_loop();

    size_t num_threads_;
    struct Queue;
    Queue* queue_;
};

}  // namespace tessiq
