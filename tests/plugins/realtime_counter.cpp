// Counts the C library's allocation functions, pthread_mutex_lock and write
// while counting is on, by defining them in the program (see realtime_counter.h).
#include "tests/plugins/realtime_counter.h"

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<int> calls{0};
void note() {
    if (counting.load(std::memory_order_relaxed)) calls.fetch_add(1, std::memory_order_relaxed);
}
using LockFunction = int (*)(pthread_mutex_t*);
using WriteFunction = ssize_t (*)(int, const void*, size_t);
LockFunction realLock = nullptr;
WriteFunction realWrite = nullptr;
}  // namespace

extern "C" {
void* malloc(size_t n) {
    note();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size) {
    note();
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n) {
    note();
    return __libc_realloc(p, n);
}
void free(void* p) {
    if (p != nullptr) note();
    __libc_free(p);
}
void* aligned_alloc(size_t alignment, size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
void* memalign(size_t alignment, size_t n) {
    note();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
    note();
    *out = __libc_memalign(alignment, n);
    return *out != nullptr ? 0 : 12;
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    note();
    return realLock(m);
}
ssize_t write(int fd, const void* data, size_t n) {
    note();
    return realWrite(fd, data, n);
}
}


bool realtimeCounterReady() {
    realLock = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    realWrite = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    return realLock != nullptr && realWrite != nullptr;
}

void startCounting() {
    calls = 0;
    counting = true;
}

int stopCounting() {
    counting = false;
    return calls.load();
}
