#include "parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace d3dx {

namespace {

struct Job {
    const std::function<void(std::size_t, std::size_t)>* body;
    std::size_t count;
    std::size_t grain;
    std::atomic<std::size_t> next{0};
    unsigned helpersWanted;  // workers that may join besides the caller
    unsigned helpersJoined = 0;
    unsigned running = 0;  // workers inside the job; guarded by the pool mutex
    std::condition_variable idle;

    void Work()
    {
        for (;;) {
            std::size_t begin = next.fetch_add(grain);
            if (begin >= count)
                return;
            (*body)(begin, std::min(count, begin + grain));
        }
    }
};

class Pool {
public:
    ~Pool()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
    }

    void Run(Job& job)
    {
        if (job.helpersWanted > 0) {
            std::lock_guard lock(mutex_);
            Grow(job.helpersWanted);
            jobs_.push_back(&job);
        }
        if (job.helpersWanted > 0)
            wake_.notify_all();
        job.Work();
        std::unique_lock lock(mutex_);
        if (auto it = std::find(jobs_.begin(), jobs_.end(), &job); it != jobs_.end())
            jobs_.erase(it);
        job.idle.wait(lock, [&] { return job.running == 0; });
    }

private:
    // A thread that cannot be started (no memory for its stack under a
    // ulimit) leaves the work to those there are, the caller at least.
    void Grow(unsigned wanted)
    {
        try {
            while (workers_.size() < wanted)
                workers_.emplace_back([this] { Loop(); });
        } catch (const std::exception&) {
        }
    }

    void Loop()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (stop_)
                return;
            Job* job = jobs_.front();
            if (++job->helpersJoined >= job->helpersWanted)
                jobs_.pop_front();
            ++job->running;
            lock.unlock();
            job->Work();
            lock.lock();
            if (--job->running == 0)
                job->idle.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job*> jobs_;
    std::vector<std::thread> workers_;
    bool stop_ = false;
};

Pool& SharedPool()
{
    static Pool pool;
    return pool;
}

} // namespace

unsigned WorkerBudget()
{
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (const char* cap = std::getenv("MIPFORGE_THREADS")) {
        char* end = nullptr;
        long n = std::strtol(cap, &end, 10);
        if (end != cap && *end == '\0' && n > 0)
            cores = std::min<unsigned>(cores, static_cast<unsigned>(std::min<long>(n, 4096)));
    }
    return cores;
}

void ParallelFor(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& body)
{
    if (count == 0)
        return;
    grain = std::max<std::size_t>(1, grain);
    const std::size_t pieces = (count + grain - 1) / grain;
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(WorkerBudget(), pieces));
    if (threads <= 1) {
        body(0, count);
        return;
    }
    Job job;
    job.body = &body;
    job.count = count;
    job.grain = grain;
    job.helpersWanted = threads - 1;
    SharedPool().Run(job);
}

} // namespace d3dx
