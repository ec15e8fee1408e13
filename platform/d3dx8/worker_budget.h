// The number of threads a run may use, shared by the extension library's
// parallel loops and the programs that prepare several files at once.
#pragma once

namespace d3dx {

// Threads a parallel call may use, the calling one included: the number of
// cores, capped by the environment variable MIPFORGE_THREADS when it holds a
// positive number (1: everything runs on the calling thread).  Read on every
// call, so a test can change it between runs.  Defined with the pixel part's
// thread pool.
unsigned WorkerBudget();

} // namespace d3dx
