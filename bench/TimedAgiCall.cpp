#include "bench/TimedAgiCall.h"

#include "bench/ChildProcess.h"

#include <errno.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <deque>

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

const std::size_t kMaxTranscriptLines = 10000;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

struct QueuedReply {
    std::string text;
    Clock::time_point due;
};

// The state of one call between poll rounds.
class CallState {
public:
    CallState(const AgiScript& script, std::chrono::milliseconds promptLength, CallerWait& wait)
        : peer_(script), promptLength_(promptLength), wait_(wait) {}

    Clock::time_point startupWrittenAt;

    // Splits what the program wrote into commands and queues their replies.
    void take(const char* bytes, std::size_t size, Clock::time_point now) {
        pending_.append(bytes, size);
        std::size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            std::string command = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (replyOpen_) {
                wait_.deadAirMs += millisecondsBetween(lastReplyAt_, now);
                replyOpen_ = false;
            }
            bool audio = TimedAgiCall::isAudio(command);
            if (audio && wait_.firstAudioMs < 0) {
                wait_.firstAudioMs = millisecondsBetween(startupWrittenAt, now);
            }
            // Replies go out in order: one behind a playing prompt waits for it.
            Clock::time_point start = queue_.empty() ? now : std::max(now, queue_.back().due);
            queue_.push_back({peer_.reply(command), audio ? start + promptLength_ : start});
            if (wait_.commands.size() < kMaxTranscriptLines) {
                wait_.commands.push_back(std::move(command));
            }
        }
    }

    // Writes the replies that are due; false when the program stopped reading.
    bool writeDue(ChildProcess& process) {
        while (!queue_.empty() && queue_.front().due <= Clock::now()) {
            bool written = process.send(queue_.front().text);
            queue_.pop_front();
            lastReplyAt_ = Clock::now();
            anyReply_ = true;
            // The caller hears nothing from here until the next command,
            // unless that command is already here.
            replyOpen_ = queue_.empty();
            if (!written) {
                return false;
            }
        }
        return true;
    }

    // Milliseconds until the next reply is due, or -1 when none waits.
    long nextDueMs() const {
        if (queue_.empty()) {
            return -1;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(queue_.front().due - Clock::now());
        return std::max<long>(0, static_cast<long>(left.count()) + 1);
    }

    void exited(Clock::time_point at) {
        if (anyReply_) {
            wait_.handBackMs = millisecondsBetween(lastReplyAt_, at);
        }
    }

private:
    AgiPeer peer_;
    std::chrono::milliseconds promptLength_;
    CallerWait& wait_;
    std::string pending_;
    std::deque<QueuedReply> queue_;
    Clock::time_point lastReplyAt_;
    bool anyReply_ = false;
    bool replyOpen_ = false;
};

// Reads what is in the output pipe now. False at its end.
bool drain(ChildProcess& process, CallState& state) {
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(process.outputFd(), buffer, sizeof buffer);
        if (count > 0) {
            state.take(buffer, static_cast<std::size_t>(count), Clock::now());
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

}  // namespace

bool TimedAgiCall::isAudio(const std::string& command) {
    return startsWith(command, "EXEC Background") || startsWith(command, "EXEC Playback") ||
           startsWith(command, "STREAM FILE") || startsWith(command, "SAY ") || startsWith(command, "GET DATA");
}

CallerWait TimedAgiCall::run(const CallPlan& plan, std::chrono::milliseconds deadline) const {
    CallerWait wait;
    CallState state(script_, promptLength_, wait);
    ChildProcess process;
    Clock::time_point spawnedAt = Clock::now();
    Clock::time_point giveUpAt = spawnedAt + deadline;
    wait.started = process.start(plan.argv, errorFd_, wait.error);
    if (!wait.started) {
        return wait;
    }
    process.send(plan.startup);
    state.startupWrittenAt = Clock::now();

    for (;;) {
        if (!state.writeDue(process)) {
            process.closeInput();  // it ends without reading the rest
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - Clock::now()).count();
        if (left <= 0) {
            process.kill();
            wait.error = "still running at the deadline: killed";
            break;
        }
        long due = state.nextDueMs();
        int timeout = static_cast<int>(due < 0 ? left : std::min<long>(due, left));
        pollfd fds[2] = {{process.exitFd(), POLLIN, 0}, {process.outputFd(), POLLIN, 0}};
        nfds_t count = process.outputFd() >= 0 ? 2 : 1;
        if (::poll(fds, count, timeout) < 0 && errno != EINTR) {
            wait.error = "poll failed";
            process.kill();
            break;
        }
        if (count == 2 && fds[1].revents != 0 && !drain(process, state)) {
            process.closeOutput();
        }
        if (fds[0].revents != 0) {
            int status = 0;
            struct rusage usage {};
            if (process.reap(status, usage)) {
                Clock::time_point exitedAt = Clock::now();
                state.exited(exitedAt);
                if (process.outputFd() >= 0) {
                    drain(process, state);  // the last command may still be in the pipe
                }
                wait.exited = true;
                wait.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
        }
    }
    wait.wallMs = millisecondsBetween(spawnedAt, Clock::now());
    return wait;
}

}  // namespace tarvik
