#include "util/thread_pool.h"

#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace tessiq {

namespace {

// One parallel_for call: indices are claimed with an atomic counter by the
// caller and by any worker that picks up one of the job's tickets.
struct Job {
    const std::function<void(size_t)>* fn;
    size_t n;
    size_t grain;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex mutex;
    std::condition_variable finished;

    // Claims and runs chunks until none is left.
    void work() {
        for (;;) {
            const size_t begin = next.fetch_add(grain, std::memory_order_relaxed);
            if (begin >= n) return;
            const size_t end = std::min(n, begin + grain);
            if (!failed.load(std::memory_order_relaxed)) {
                try {
                    for (size_t i = begin; i < end; ++i) (*fn)(i);
                } catch (...) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!error) error = std::current_exception();
                    failed.store(true, std::memory_order_relaxed);
                }
            }
            if (done.fetch_add(end - begin, std::memory_order_acq_rel) + (end - begin) == n) {
                std::lock_guard<std::mutex> lock(mutex);
                finished.notify_all();
            }
        }
    }
    bool complete() const { return done.load(std::memory_order_acquire) == n; }
};

size_t available_cpus() {
    if (const char* env = std::getenv("TESSIQ_THREADS")) {
        char* end = nullptr;
        const long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v > 0) return static_cast<size_t>(v);
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<size_t>(count);
    }
    const unsigned hc = std::thread::hardware_concurrency();
    return hc ? hc : 1;
}

}  // namespace

struct ThreadPool::Queue {
    std::mutex mutex;
    std::condition_variable available;
    std::deque<std::shared_ptr<Job>> tickets;

    std::shared_ptr<Job> try_pop() {
        std::lock_guard<std::mutex> lock(mutex);
        if (tickets.empty()) return nullptr;
        auto job = std::move(tickets.front());
        tickets.pop_front();
        return job;
    }
};

ThreadPool& ThreadPool::global() {
    // Never destroyed: detached workers may still wait on the queue at exit.
    static ThreadPool* pool = new ThreadPool(available_cpus());
    return *pool;
}

ThreadPool::ThreadPool(size_t num_threads) : num_threads_(num_threads), queue_(new Queue) {
    // The thread that starts parallel work runs its share, so one thread fewer
    // is started.
    for (size_t i = 1; i < num_threads_; ++i) std::thread([this] { worker_loop(); }).detach();
}

void ThreadPool::worker_loop() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(queue_->mutex);
            queue_->available.wait(lock, [&] { return !queue_->tickets.empty(); });
            job = std::move(queue_->tickets.front());
            queue_->tickets.pop_front();
        }
        job->work();
    }
}

void ThreadPool::parallel_for(size_t n, const std::function<void(size_t)>& fn, size_t grain) {
    if (n == 0) return;
    if (grain == 0) grain = 1;
    const size_t chunks = (n + grain - 1) / grain;
    if (num_threads_ <= 1 || chunks == 1) {
        for (size_t i = 0; i < n; ++i) fn(i);
        return;
    }
    auto job = std::make_shared<Job>();
    job->fn = &fn;
    job->n = n;
    job->grain = grain;
    const size_t helpers = std::min(chunks - 1, num_threads_ - 1);
    {
        std::lock_guard<std::mutex> lock(queue_->mutex);
        for (size_t i = 0; i < helpers; ++i) queue_->tickets.push_back(job);
    }
    if (helpers == 1)
        queue_->available.notify_one();
    else
        queue_->available.notify_all();

    job->work();
    // Other threads still run some chunks: help with queued work meanwhile,
    // which is what keeps nested parallel calls from starving.
    while (!job->complete()) {
        if (auto other = queue_->try_pop()) {
            other->work();
            continue;
        }
        std::unique_lock<std::mutex> lock(job->mutex);
        job->finished.wait_for(lock, std::chrono::milliseconds(1), [&] { return job->complete(); });
    }
    if (job->error) std::rethrow_exception(job->error);
}

}  // namespace tessiq
