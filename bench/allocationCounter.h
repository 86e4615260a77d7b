// Counts this program's heap allocations: linking allocationCounter.cpp replaces operator new.
#pragma once

namespace tavo::bench {

// Allocations made through operator new since the program started, on every thread.
long long AllocationCount();

}  // namespace tavo::bench
