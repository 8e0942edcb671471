#include "fastagi/CallProcessPool.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "fastagi/DescriptorPassing.h"

namespace tarvik {

using Clock = std::chrono::steady_clock;

CallProcessPool::CallProcessPool(std::size_t spare, std::size_t maxProcesses, std::chrono::milliseconds idleTimeout,
                                 ProcessMain processMain, std::function<void()> onStarted)
    : spare(spare),
      maxProcesses(maxProcesses),
      idleTimeout(idleTimeout),
      processMain(std::move(processMain)),
      onStarted(std::move(onStarted)) {}

CallProcessPool::~CallProcessPool() { closeChannels(); }

std::size_t CallProcessPool::busy() const {
    std::size_t count = 0;
    for (const auto& entry : processes) count += entry.second.busy ? 1 : 0;
    return count;
}

std::size_t CallProcessPool::idle() const {
    std::size_t count = 0;
    for (const auto& entry : processes) count += !entry.second.busy && !entry.second.leaving ? 1 : 0;
    return count;
}

pid_t CallProcessPool::start(int heldCallFd) {
    // Processes on their way out (retired, crashed, not yet reaped) do not
    // count: they take no more calls.
    std::size_t staying = 0;
    for (const auto& entry : processes) staying += entry.second.leaving ? 0 : 1;
    if (staying >= maxProcesses) return -1;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
    std::fflush(nullptr);  // nothing buffered may be written twice
    pid_t pid = ::fork();
    if (pid == 0) {
        // The other processes' channels are not this one's business: a copy
        // kept here would hide their end from them.
        for (const auto& entry : processes) ::close(entry.second.channel);
        processes.clear();
        // Nor is the call being handed over: a copy here would keep that
        // call's connection open after its own process closed it.
        if (heldCallFd >= 0) ::close(heldCallFd);
        ::close(pair[0]);
        processMain(pair[1]);
        _exit(0);
    }
    ::close(pair[1]);
    if (pid < 0) {
        ::close(pair[0]);
        return -1;
    }
    Process process;
    process.channel = pair[0];
    // A new process comes after those waiting already: a pool that grew
    // for a moment's overlap keeps serving from its warm processes.
    process.lastAssigned = ++assignments;
    process.idleSince = Clock::now();
    processes.emplace(pid, process);
    if (onStarted) onStarted();
    return pid;
}

void CallProcessPool::topUp() {
    while (idle() < spare && start() > 0) {
    }
}

CallProcessPool::Process* CallProcessPool::longestIdle() {
    Process* oldest = nullptr;
    for (auto& entry : processes) {
        Process& process = entry.second;
        if (process.busy || process.leaving) continue;
        if (oldest == nullptr || process.idleSince < oldest->idleSince) oldest = &process;
    }
    return oldest;
}

void CallProcessPool::retireIdle() {
    const Clock::time_point now = Clock::now();
    while (idle() > spare) {
        Process* oldest = longestIdle();
        if (oldest == nullptr || now - oldest->idleSince < idleTimeout) return;
        // The end of its channel is what an idle process waits on: it leaves.
        ::shutdown(oldest->channel, SHUT_RDWR);
        oldest->leaving = true;
        oldest->reason = "idle";
    }
}

int CallProcessPool::waitLimitMs() const {
    if (idle() <= spare) return -1;
    Clock::time_point oldest = Clock::time_point::max();
    for (const auto& entry : processes) {
        if (!entry.second.busy && !entry.second.leaving) oldest = std::min(oldest, entry.second.idleSince);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(oldest + idleTimeout - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) + 1 : 0;
}

bool CallProcessPool::assign(int socketFd, const std::string& peer) {
    // The idle process that waited longest: every process started ahead
    // gets calls and keeps its back-office connection warm.
    for (;;) {
        Process* chosen = nullptr;
        for (auto& entry : processes) {
            Process& process = entry.second;
            if (process.busy || process.leaving) continue;
            if (chosen == nullptr || process.lastAssigned < chosen->lastAssigned) chosen = &process;
        }
        if (chosen == nullptr) break;
        chosen->lastAssigned = ++assignments;
        if (DescriptorPassing::send(chosen->channel, socketFd, peer)) {
            chosen->busy = true;
            chosen->peer = peer;
            return true;
        }
        chosen->leaving = true;  // its end is gone: it is exiting
    }
    pid_t started = start(socketFd);
    if (started <= 0) return false;
    Process& process = processes.at(started);
    if (!DescriptorPassing::send(process.channel, socketFd, peer)) {
        process.leaving = true;
        return false;
    }
    process.busy = true;
    process.peer = peer;
    process.lastAssigned = ++assignments;
    return true;
}

void CallProcessPool::addTo(std::vector<pollfd>& set) const {
    // A process that is leaving has nothing more to say; its closed channel
    // would only wake the wait again and again.
    for (const auto& entry : processes) {
        if (!entry.second.leaving) set.push_back(pollfd{entry.second.channel, POLLIN, 0});
    }
}

void CallProcessPool::handle(const std::vector<pollfd>& set, std::size_t first, std::size_t count) {
    // By descriptor: processes may have been reaped since the set was made.
    for (std::size_t index = first; index < first + count && index < set.size(); ++index) {
        if (set[index].revents == 0) continue;
        auto found = std::find_if(processes.begin(), processes.end(), [&](const auto& entry) {
            return entry.second.channel == set[index].fd && !entry.second.leaving;
        });
        if (found == processes.end()) continue;
        readAnswer(found->second);
    }
}

void CallProcessPool::awaitAnswers(int milliseconds) {
    std::vector<pollfd> set;
    addTo(set);
    if (set.empty() || ::poll(set.data(), set.size(), milliseconds) <= 0) return;
    handle(set, 0, set.size());
}

// "done" or "retire REASON"; the end of the channel means it left.
void CallProcessPool::readAnswer(Process& process) {
    char answer[64];
    ssize_t got = ::recv(process.channel, answer, sizeof(answer) - 1, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (got <= 0) {
        // It ended; reaping says how (still busy: its call died with it).
        process.leaving = true;
        return;
    }
    process.busy = false;
    process.idleSince = Clock::now();
    const std::string text(answer, static_cast<std::size_t>(got));
    if (text.rfind("retire ", 0) == 0) {
        process.leaving = true;
        process.reason = text.substr(7);
    }
}

bool CallProcessPool::forget(pid_t pid, Exit& exit) {
    auto found = processes.find(pid);
    if (found == processes.end()) return false;
    // Its last answer may still wait in the channel.
    if (!found->second.leaving) readAnswer(found->second);
    exit.busy = found->second.busy;
    exit.peer = found->second.peer;
    exit.reason = found->second.reason;
    ::close(found->second.channel);
    processes.erase(found);
    return true;
}

void CallProcessPool::closeChannels() {
    spare = 0;
    for (auto& entry : processes) {
        ::shutdown(entry.second.channel, SHUT_RDWR);
        entry.second.leaving = true;
    }
}

void CallProcessPool::signalAll(int signal) const {
    for (const auto& entry : processes) ::kill(entry.first, signal);
}

}  // namespace tarvik
