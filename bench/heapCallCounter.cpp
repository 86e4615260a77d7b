// Counts every heap allocation of the program, whatever allocates: the C library's allocation
// functions are replaced by counting ones that forward to glibc's own. OpenCV allocates
// through malloc and posix_memalign, so counting operator new alone would miss it.
#include "heapCallCounter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* memory, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* memory);
}

namespace {

std::atomic<long long> gHeapCalls{0};

void Count() {
    gHeapCalls.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

long long tavo::bench::HeapAllocationCount() {
    return gHeapCalls.load(std::memory_order_relaxed);
}

extern "C" {

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* memory, size_t size) {
    Count();
    return __libc_realloc(memory, size);
}
void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** memory, size_t alignment, size_t size) {
    Count();
    void* result = __libc_memalign(alignment, size);
    if (result == nullptr) {
        return ENOMEM;
    }
    *memory = result;
    return 0;
}
void free(void* memory) {
    __libc_free(memory);
}
}
