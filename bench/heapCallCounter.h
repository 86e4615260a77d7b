// Counts this program's heap allocations by any route: linking heapCallCounter.cpp replaces
// the C library's allocation functions (operator new reaches them too).
#pragma once

namespace tavo::bench {

// Calls of malloc, calloc, realloc and the aligned allocators since the program started, on
// every thread.
long long HeapAllocationCount();

}  // namespace tavo::bench
