// Preloaded into a program under test (LD_PRELOAD), makes thread and process
// creation fail the way a host out of tasks does (a unit's TasksMax, the
// kernel's thread limit): from the N-th pthread_create of the process on
// (counted from 0) every one returns EAGAIN when IVR_TEST_THREADS_FAIL_FROM=N,
// and likewise fork with IVR_TEST_FORKS_FAIL_FROM=N. Without the variables
// nothing changes. A forked child goes on counting from its parent's count.

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

std::atomic<long> threadsStarted{0};
std::atomic<long> forksMade{0};

// -1: the variable is absent or not a number, so nothing fails.
long failFrom(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') return -1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0 ? value : -1;
}

bool refuse(std::atomic<long>& counter, const char* variable) {
    const long limit = failFrom(variable);
    const long number = counter.fetch_add(1);
    return limit >= 0 && number >= limit;
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*), void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create real = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (refuse(threadsStarted, "IVR_TEST_THREADS_FAIL_FROM") || real == nullptr) return EAGAIN;
    return real(thread, attributes, routine, argument);
}

pid_t fork() {
    using Fork = pid_t (*)();
    static const Fork real = reinterpret_cast<Fork>(::dlsym(RTLD_NEXT, "fork"));
    if (refuse(forksMade, "IVR_TEST_FORKS_FAIL_FROM") || real == nullptr) {
        errno = EAGAIN;
        return -1;
    }
    return real();
}

}  // extern "C"
