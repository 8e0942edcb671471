#include "bench/CallRunner.h"

#include "bench/ChildProcess.h"
#include "bench/LeftBehind.h"

#include <errno.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace tarvik {

CallPlan CallPlan::sampleCall(const std::string& ivr, const std::string& destination, const std::string& configPath,
                              const std::string& callerId, const std::string& uniqueId, int channelNumber) {
    AgiCallIdentity identity;
    identity.callerId = callerId;
    identity.uniqueId = uniqueId;
    identity.channel = "PJSIP/trunk-" + std::to_string(channelNumber);
    identity.arguments = {destination, configPath};
    return CallPlan{{ivr, destination, configPath}, AgiPeer::startupBlock(identity)};
}

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double cpuMilliseconds(const struct rusage& usage) {
    auto toMs = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
    return toMs(usage.ru_utime) + toMs(usage.ru_stime);
}

struct LiveCall {
    explicit LiveCall(const AgiScript& script) : peer(script) {}
    ChildProcess process;
    AgiPeer peer;
    Clock::time_point spawnedAt;
    CallOutcome outcome;
    bool done = false;
};

// Reads what the program wrote and answers it. Returns false at end of output.
bool serviceOutput(LiveCall& call) {
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(call.process.outputFd(), buffer, sizeof buffer);
        if (count > 0) {
            std::size_t before = call.peer.commands().size();
            std::string replies = call.peer.consume(buffer, static_cast<std::size_t>(count));
            if (before == 0 && !call.peer.commands().empty()) {
                call.outcome.firstCommandMs = millisecondsBetween(call.spawnedAt, Clock::now());
            }
            if (!replies.empty()) {
                call.process.send(replies);  // a program that stopped reading just ends
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void finish(LiveCall& call, int status, const struct rusage& usage) {
    call.outcome.wallMs = millisecondsBetween(call.spawnedAt, Clock::now());
    // Output still in the pipe (the last command) belongs to the call.
    if (call.process.outputFd() >= 0) {
        serviceOutput(call);
    }
    call.outcome.exited = true;
    call.outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    call.outcome.cpuMs = cpuMilliseconds(usage);
    call.outcome.peakRssKiB = usage.ru_maxrss;
    call.done = true;
}

}  // namespace

std::vector<CallOutcome> CallRunner::run(const std::vector<CallPlan>& calls, std::chrono::milliseconds deadline) {
    std::vector<std::unique_ptr<LiveCall>> live;
    Clock::time_point batchStart = Clock::now();
    Clock::time_point giveUpAt = batchStart + deadline;
    std::size_t running = 0;

    auto serviceAll = [&](int timeoutMs) {
        std::vector<pollfd> fds;
        std::vector<LiveCall*> owners;
        for (auto& call : live) {
            if (call->done) {
                continue;
            }
            if (call->process.outputFd() >= 0) {
                fds.push_back({call->process.outputFd(), POLLIN, 0});
                owners.push_back(call.get());
            }
            fds.push_back({call->process.exitFd(), POLLIN, 0});
            owners.push_back(call.get());
        }
        if (fds.empty()) {
            return;
        }
        int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready <= 0) {
            return;
        }
        for (std::size_t index = 0; index < fds.size(); ++index) {
            LiveCall& call = *owners[index];
            if (fds[index].revents == 0 || call.done) {
                continue;
            }
            if (fds[index].fd == call.process.outputFd()) {
                if (!serviceOutput(call)) {
                    call.process.closeOutput();
                }
                continue;
            }
            int status = 0;
            struct rusage usage {};
            if (call.process.reap(status, usage)) {
                finish(call, status, usage);
                --running;
            }
        }
    };

    for (const CallPlan& plan : calls) {
        auto call = std::make_unique<LiveCall>(script_);
        call->spawnedAt = Clock::now();
        call->outcome.started = call->process.start(plan.argv, errorFd_, call->outcome.error);
        if (call->outcome.started) {
            if (!plan.startup.empty()) {
                call->process.send(plan.startup);
            }
            ++running;
        } else {
            call->done = true;
        }
        live.push_back(std::move(call));
        serviceAll(0);  // calls already running get their answers meanwhile
    }

    while (running > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        serviceAll(static_cast<int>(left));
    }
    // The batch ends when what its calls left behind (a process finishing
    // their records) has ended too; that CPU is theirs.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - Clock::now());
    lastLeftBehindCpuMs_ = LeftBehind::collect(std::max(left, std::chrono::milliseconds(1000)));
    lastBatchMs_ = millisecondsBetween(batchStart, Clock::now());
    if (live.size() == 1) live.front()->outcome.cpuMs += lastLeftBehindCpuMs_;

    std::vector<CallOutcome> outcomes;
    for (auto& call : live) {
        if (!call->done) {
            call->process.kill();
            call->outcome.wallMs = millisecondsBetween(call->spawnedAt, Clock::now());
            call->outcome.error = "still running at the deadline: killed";
        }
        call->outcome.commands = call->peer.commands();
        outcomes.push_back(std::move(call->outcome));
    }
    return outcomes;
}

}  // namespace tarvik
