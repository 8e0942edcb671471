#include "util/ReusedThread.h"

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tarvik {

struct ReusedThread::Ticket {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

namespace {

// One thread's mailbox: the task it is given next.
struct Waiting {
    std::mutex mutex;
    std::condition_variable given;
    std::function<void()> task;
    std::shared_ptr<ReusedThread::Ticket> ticket;
};

std::mutex idleMutex;
std::vector<Waiting*>& idleThreads() {
    static std::vector<Waiting*> idle;
    return idle;
}

void beforeFork() { idleMutex.lock(); }
void inParent() { idleMutex.unlock(); }
// The waiting threads are not copied into a child: their mailboxes are
// forgotten there (and left, as they are the parent's too).
void inChild() {
    idleThreads().clear();
    idleMutex.unlock();
}

[[noreturn]] void serve(Waiting* self) {
    for (;;) {
        std::function<void()> task;
        std::shared_ptr<ReusedThread::Ticket> ticket;
        {
            std::unique_lock<std::mutex> lock(self->mutex);
            self->given.wait(lock, [self] { return static_cast<bool>(self->task); });
            task.swap(self->task);
            ticket.swap(self->ticket);
        }
        task();
        task = nullptr;  // what the task holds goes before it counts as done
        {
            // Waiting again before the task counts as done, so that the
            // next start after a join finds this thread.
            std::lock_guard<std::mutex> guard(idleMutex);
            idleThreads().push_back(self);
        }
        {
            std::lock_guard<std::mutex> guard(ticket->mutex);
            ticket->done = true;
        }
        ticket->ended.notify_all();
    }
}

}  // namespace

ReusedThread::~ReusedThread() {
    if (joinable()) join();
}

bool ReusedThread::start(std::function<void()> task) {
    static std::once_flag forkHooks;
    std::call_once(forkHooks, [] { ::pthread_atfork(beforeFork, inParent, inChild); });
    ticket = std::make_shared<Ticket>();
    Waiting* thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(idleMutex);
        if (!idleThreads().empty()) {
            thread = idleThreads().back();
            idleThreads().pop_back();
        }
    }
    const bool fresh = thread == nullptr;
    if (fresh) thread = new Waiting;  // lives as long as its thread: the process
    {
        std::lock_guard<std::mutex> guard(thread->mutex);
        thread->task = std::move(task);
        thread->ticket = ticket;
    }
    if (!fresh) {
        thread->given.notify_one();
        return true;
    }
    try {
        std::thread(serve, thread).detach();
    } catch (const std::system_error&) {
        // No thread took the mailbox: nobody would ever mark the ticket
        // done, and a join would wait for ever.
        delete thread;
        ticket.reset();
        return false;
    }
    return true;
}

void ReusedThread::join() {
    if (!ticket) return;
    {
        std::unique_lock<std::mutex> lock(ticket->mutex);
        ticket->ended.wait(lock, [this] { return ticket->done; });
    }
    ticket.reset();
}

}  // namespace tarvik
