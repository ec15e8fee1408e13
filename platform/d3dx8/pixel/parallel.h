// A small shared pool of worker threads for work split into independent
// pieces (DXT blocks).  Results must not depend on how the work is split:
// each piece writes only its own output.
#pragma once

#include "platform/d3dx8/worker_budget.h"

#include <cstddef>
#include <functional>

namespace d3dx {

// Calls body(begin, end) over [0, count) in ranges of at most `grain`
// items, on up to WorkerBudget() threads, and returns when all are done.
// The calling thread takes part.  Safe to call from several threads at once;
// body must not throw.
void ParallelFor(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& body);

} // namespace d3dx
