// Work on a list of items ahead of the consumer, on several threads, with
// the results and the messages delivered in list order.  Output therefore
// matches a one-thread run byte for byte, whatever the thread count.
#pragma once

#include "engine/basekit/dprintf.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

// Calls work(i) for every i in [0, count), at most `ahead` items before the
// one being delivered, and deliver(i, result) on the calling thread in
// ascending order.  The messages work(i) prints through dprintf reach the
// output just before deliver(i) runs.  With ahead <= 1 everything runs on
// the calling thread.  work must not throw.
//
// An item for which afterEarlier(i) is true (one that reads what an earlier
// delivery may write) starts only once every item before it has been
// delivered, so it sees what a one-thread run would see.
template <class Result>
void RunInOrder(std::size_t count, unsigned ahead, const std::function<Result(std::size_t)>& work,
                const std::function<void(std::size_t, Result&)>& deliver,
                const std::function<bool(std::size_t)>& afterEarlier = {})
{
    if (ahead <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            Result r = work(i);
            deliver(i, r);
        }
        return;
    }

    struct Done {
        Result result;
        std::vector<std::string> messages;
    };
    auto start = [&](std::size_t i) {
        auto job = [&work, i] {
            DPrintCapture capture;
            Result r = work(i);
            return Done{std::move(r), capture.take()};
        };
        // Without a thread for it (no memory for a stack under a ulimit) the
        // item runs on the calling thread when its turn comes.
        try {
            return std::async(std::launch::async, job);
        } catch (const std::system_error&) {
            return std::async(std::launch::deferred, job);
        }
    };

    std::deque<std::future<Done>> running;
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // Everything before item i has been delivered when nothing runs.
        while (next < count && running.size() < ahead &&
               (running.empty() || !afterEarlier || !afterEarlier(next)))
            running.push_back(start(next++));
        Done done = running.front().get();
        running.pop_front();
        DPrintReplay(done.messages);
        deliver(i, done.result);
    }
}
