#include "records/StopSignal.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "records/BackgroundSender.h"

namespace tarvik {

namespace {

std::mutex registryMutex;
std::set<BackgroundSender*> senders;
bool installed = false;
int wakeUp[2] = {-1, -1};
struct sigaction previous {};

// Only what is safe in a signal handler: one byte to the watcher.
void onTerm(int) {
    const int saved = errno;
    const char byte = 1;
    while (::write(wakeUp[1], &byte, 1) < 0 && errno == EINTR) {
    }
    errno = saved;
}

[[noreturn]] void watchForStop() {
    char byte = 0;
    while (::read(wakeUp[0], &byte, 1) < 0 && errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> guard(registryMutex);
        for (BackgroundSender* sender : senders) sender->abandon();
    }
    // End as the signal would have ended the process.
    ::sigaction(SIGTERM, &previous, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::kill(::getpid(), SIGTERM);
    _exit(128 + SIGTERM);
}

void beforeFork() { registryMutex.lock(); }
void inParent() { registryMutex.unlock(); }
// The watcher thread is not copied into a child: the child gets SIGTERM's
// default action back and no senders.
void inChild() {
    if (installed) {
        ::sigaction(SIGTERM, &previous, nullptr);
        ::close(wakeUp[0]);
        ::close(wakeUp[1]);
        installed = false;
    }
    senders.clear();
    registryMutex.unlock();
}

void install() {
    struct sigaction current {};
    if (::sigaction(SIGTERM, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    if (::pipe2(wakeUp, O_CLOEXEC) != 0) return;
    // The watcher first: a handler whose byte nobody reads would leave the
    // process deaf to SIGTERM.
    try {
        std::thread(watchForStop).detach();
    } catch (const std::system_error&) {
        ::close(wakeUp[0]);
        ::close(wakeUp[1]);
        std::fputs("could not start the stop-signal watcher thread: a SIGTERM ends the call with its pending "
                   "records unsaved\n",
                   stderr);
        return;
    }
    static std::once_flag forkHooks;
    std::call_once(forkHooks, [] { ::pthread_atfork(beforeFork, inParent, inChild); });
    struct sigaction action {};
    action.sa_handler = onTerm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previous);
    installed = true;
}

}  // namespace

void StopSignal::watch(BackgroundSender* sender) {
    std::lock_guard<std::mutex> guard(registryMutex);
    senders.insert(sender);
    if (!installed) install();
}

void StopSignal::forget(BackgroundSender* sender) {
    std::lock_guard<std::mutex> guard(registryMutex);
    senders.erase(sender);
}

}  // namespace tarvik
