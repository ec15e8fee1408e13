// A small shared pool of worker threads for work split into independent
// pieces (DXT blocks).  Results must not depend on how the work is split:
// each piece writes only its own output.
#pragma once

#include <cstddef>
#include <functional>

namespace d3dx {

// Threads a parallel call may use, the calling one included: the number of
// cores, capped by the environment variable MIPFORGE_THREADS when it holds a
// positive number (1: everything runs on the calling thread).  Read on every
// call, so a test can change it between runs.
unsigned WorkerBudget();

// Calls body(begin, end) over [0, count) in ranges of at most `grain`
// items, on up to WorkerBudget() threads, and returns when all are done.
// The calling thread takes part.  Safe to call from several threads at once;
// body must not throw.
void ParallelFor(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& body);

} // namespace d3dx
