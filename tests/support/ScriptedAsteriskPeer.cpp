#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/TestProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace tarvik::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxPendingCommand = 1 << 20;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string asLines(const std::string& reply) {
    if (!reply.empty() && reply.back() == '\n') return reply;
    return reply + '\n';
}

void ignoreSigpipe() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
}

long long millisecondsLeft(Clock::time_point limit) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count();
    return left < 0 ? 0 : left;
}

}  // namespace

const std::string ScriptedAsteriskPeer::kCloseMarker = std::string("\x01<close>");
const std::string ScriptedAsteriskPeer::kDeadChannelReply =
    "511 Command Not Permitted on a dead channel or intercept routine";

ScriptedAsteriskPeer::ScriptedAsteriskPeer() : startupVariables(typicalStartup()) {
    // A program that closed its end must not kill the test with SIGPIPE.
    ignoreSigpipe();
}

ScriptedAsteriskPeer::~ScriptedAsteriskPeer() { finish(); }

std::vector<std::pair<std::string, std::string>> ScriptedAsteriskPeer::typicalStartup() {
    return {
        {"agi_request", "/var/lib/asterisk/agi-bin/ivr"},
        {"agi_channel", "Local/s@ivr-test-00000001;2"},
        {"agi_language", "en"},
        {"agi_type", "Local"},
        {"agi_uniqueid", "1796777065.3"},
        {"agi_version", "22.10.1"},
        {"agi_callerid", "5511999990000"},
        {"agi_calleridname", "Rig Caller"},
        {"agi_callingpres", "0"},
        {"agi_callingani2", "0"},
        {"agi_callington", "0"},
        {"agi_callingtns", "0"},
        {"agi_dnid", "unknown"},
        {"agi_rdnis", "unknown"},
        {"agi_context", "ivr-test"},
        {"agi_extension", "s"},
        {"agi_priority", "9"},
        {"agi_enhanced", "0.0"},
        {"agi_accountcode", ""},
        {"agi_threadid", "140670997956288"},
    };
}

void ScriptedAsteriskPeer::setStartupVariable(const std::string& key, const std::string& value) {
    for (auto& variable : startupVariables) {
        if (variable.first == key) {
            variable.second = value;
            return;
        }
    }
    startupVariables.emplace_back(key, value);
}

void ScriptedAsteriskPeer::setStartup(const std::vector<std::pair<std::string, std::string>>& variables) {
    startupVariables = variables;
    useRawStartup = false;
}

void ScriptedAsteriskPeer::setStartupRaw(const std::string& bytes) {
    startupRawBytes = bytes;
    useRawStartup = true;
}

std::string ScriptedAsteriskPeer::startupBytes() const {
    if (useRawStartup) return startupRawBytes;
    std::string bytes;
    for (const auto& variable : startupVariables) bytes += variable.first + ": " + variable.second + "\n";
    return bytes + "\n";
}

void ScriptedAsteriskPeer::setScript(Script newScript) { script = std::move(newScript); }

void ScriptedAsteriskPeer::queueReply(const std::string& reply) { queued.push_back(reply); }

void ScriptedAsteriskPeer::queueReplies(const std::vector<std::string>& replies) {
    for (const auto& reply : replies) queued.push_back(reply);
}

void ScriptedAsteriskPeer::replyTo(const std::string& command, const std::string& reply) {
    queuedFor[command].push_back(reply);
}

void ScriptedAsteriskPeer::hangUpAtCommand(std::size_t n, HangupStyle style) {
    hangupAt = n;
    hangupStyle = style;
}

std::string ScriptedAsteriskPeer::defaultReply(const std::string& command) {
    return startsWith(command, "VERBOSE") ? "200 result=1" : "200 result=0";
}

bool ScriptedAsteriskPeer::needsLiveChannel(const std::string& command) {
    static const char* const kChannelCommands[] = {
        "ANSWER", "HANGUP", "STREAM FILE", "CONTROL STREAM FILE", "GET DATA", "GET OPTION",
        "WAIT FOR DIGIT", "SAY ", "RECORD FILE",
    };
    for (const char* prefix : kChannelCommands) {
        if (startsWith(command, prefix)) return true;
    }
    return false;
}

std::string ScriptedAsteriskPeer::closeReply(const std::string& lastReply) {
    return (lastReply.empty() ? std::string() : asLines(lastReply)) + kCloseMarker;
}

std::string ScriptedAsteriskPeer::nextReply(const std::string& command) {
    std::size_t number = commands().size();
    if (hangupAt != 0 && number == hangupAt) {
        if (hangupSignal != 0 && runningChild > 0) ::kill(runningChild, hangupSignal);
        switch (hangupStyle) {
            case HangupStyle::Local: return "200 result=-1";
            case HangupStyle::ExitOnHangup: return closeReply("200 result=-1");
            case HangupStyle::Network: return "200 result=-1\nHANGUP";
        }
    }
    if (hangupAt != 0 && number > hangupAt && needsLiveChannel(command)) return kDeadChannelReply;
    auto forCommand = queuedFor.find(command);
    if (forCommand != queuedFor.end() && !forCommand->second.empty()) {
        std::string reply = forCommand->second.front();
        forCommand->second.pop_front();
        return reply;
    }
    if (!queued.empty()) {
        std::string reply = queued.front();
        queued.pop_front();
        return reply;
    }
    if (script) return script(command);
    return defaultReply(command);
}

void ScriptedAsteriskPeer::record(const std::string& command) {
    std::lock_guard<std::mutex> lock(mutex);
    transcript.push_back(command);
}

void ScriptedAsteriskPeer::fail(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!failureText.empty()) failureText += "; ";
    failureText += text;
}

std::vector<std::string> ScriptedAsteriskPeer::commands() const {
    std::lock_guard<std::mutex> lock(mutex);
    return transcript;
}

std::string ScriptedAsteriskPeer::failure() const {
    std::lock_guard<std::mutex> lock(mutex);
    return failureText;
}

// The conversation itself: one poll loop over the pipe to the program, the
// pipe from it and (child mode) its standard error. Closes every descriptor
// it was given before returning.
void ScriptedAsteriskPeer::converse(int toProgram, int fromProgram, int errorFd, std::string* errorText,
                                    Clock::time_point hardDeadline, bool idleDeadline) {
    fcntl(toProgram, F_SETFL, fcntl(toProgram, F_GETFL) | O_NONBLOCK);
    std::string pending = startupBytes();
    std::string received;
    bool closeWhenFlushed = false;
    Clock::time_point lastCommand = Clock::now();

    // The program's output is closed first: once it reads end of input,
    // its next write must fail.
    auto closeConversation = [&] {
        closeFd(fromProgram);
        closeFd(toProgram);
        pending.clear();
    };

    while (fromProgram >= 0 || errorFd >= 0) {
        Clock::time_point limit = hardDeadline;
        if (idleDeadline) limit = std::min(limit, lastCommand + idleTimeout);
        if (Clock::now() >= limit) {
            fail(idleDeadline ? "the program sent no command for " + std::to_string(idleTimeout.count()) + " ms"
                              : "the program did not finish before the deadline");
            break;
        }

        pollfd watched[3];
        nfds_t count = 0;
        int toIndex = -1, fromIndex = -1, errorIndex = -1;
        if (toProgram >= 0 && !pending.empty()) {
            toIndex = static_cast<int>(count);
            watched[count++] = {toProgram, POLLOUT, 0};
        }
        if (fromProgram >= 0) {
            fromIndex = static_cast<int>(count);
            watched[count++] = {fromProgram, POLLIN, 0};
        }
        if (errorFd >= 0) {
            errorIndex = static_cast<int>(count);
            watched[count++] = {errorFd, POLLIN, 0};
        }
        int wait = static_cast<int>(std::min<long long>(millisecondsLeft(limit), 500));
        int ready = ::poll(watched, count, wait);
        if (ready < 0 && errno != EINTR) {
            fail(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (ready <= 0) continue;

        if (toIndex >= 0 && watched[toIndex].revents != 0) {
            ssize_t written = ::write(toProgram, pending.data(), pending.size());
            if (written > 0) {
                pending.erase(0, static_cast<std::size_t>(written));
            } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                closeConversation();  // the program closed its input
            }
            if (pending.empty() && closeWhenFlushed) closeConversation();
        }

        if (fromIndex >= 0 && fromProgram >= 0 && watched[fromIndex].revents != 0) {
            char chunk[4096];
            ssize_t got = ::read(fromProgram, chunk, sizeof(chunk));
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                closeConversation();  // the program closed its output: the call is over
            } else if (got > 0 && !closeWhenFlushed) {
                received.append(chunk, static_cast<std::size_t>(got));
                std::size_t feed;
                while (!closeWhenFlushed && (feed = received.find('\n')) != std::string::npos) {
                    std::string command = received.substr(0, feed);
                    received.erase(0, feed + 1);
                    lastCommand = Clock::now();
                    record(command);
                    std::string reply;
                    try {
                        reply = nextReply(command);
                    } catch (const std::exception& error) {
                        fail("the script threw on \"" + command + "\": " + error.what());
                        reply = closeReply();
                    }
                    std::size_t marker = reply.rfind(kCloseMarker);
                    if (marker != std::string::npos && marker + kCloseMarker.size() == reply.size()) {
                        pending += reply.substr(0, marker);
                        closeWhenFlushed = true;
                    } else {
                        pending += asLines(reply);
                    }
                }
                if (received.size() > kMaxPendingCommand) {
                    fail("the program sent more than 1 MiB without a line feed");
                    closeConversation();
                }
                if (closeWhenFlushed && pending.empty()) closeConversation();
            }
        }

        if (errorIndex >= 0 && watched[errorIndex].revents != 0) {
            char chunk[4096];
            ssize_t got = ::read(errorFd, chunk, sizeof(chunk));
            if (got > 0) {
                errorText->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                closeFd(errorFd);
            }
        }
    }
    closeConversation();
    closeFd(errorFd);
}

void ScriptedAsteriskPeer::start() {
    int toProgram[2];
    int fromProgram[2];
    if (pipe2(toProgram, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    if (pipe2(fromProgram, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        ::close(toProgram[0]);
        ::close(toProgram[1]);
        return;
    }
    programInFd = toProgram[0];
    peerWriteFd = toProgram[1];
    peerReadFd = fromProgram[0];
    programOutFd = fromProgram[1];
    finished = false;
    int writeFd = peerWriteFd;
    int readFd = peerReadFd;
    // The worker owns and closes the peer's ends.
    peerWriteFd = -1;
    peerReadFd = -1;
    worker = std::thread([this, writeFd, readFd] {
        converse(writeFd, readFd, -1, nullptr, Clock::time_point::max(), true);
    });
}

void ScriptedAsteriskPeer::finish() {
    if (finished) return;
    finished = true;
    // Closing the session's output tells the peer the call is over; the
    // peer's idle timeout bounds the wait in any case.
    closeFd(programOutFd);
    bool ranInProcess = worker.joinable();
    if (ranInProcess) worker.join();
    closeFd(programInFd);
    if (!ranInProcess) return;  // a child run reports its own problems
    std::string problem = failure();
    if (!problem.empty()) ADD_FAILURE() << "scripted Asterisk peer: " << problem;
}

ScriptedAsteriskPeer::ChildResult ScriptedAsteriskPeer::runChild(const ChildProgram& program) {
    ChildResult result;
    Clock::time_point deadline = Clock::now() + program.deadline;
    // What would keep the program from starting, said as such.
    if (::access(program.path.c_str(), X_OK) != 0 ||
        (!program.workingDirectory.empty() && ::access(program.workingDirectory.c_str(), X_OK) != 0)) {
        result.failure = "cannot start " + program.path + ": " + std::strerror(errno);
        ADD_FAILURE() << result.failure;
        return result;
    }
    // Asterisk starts its programs with the default SIGPIPE action, as
    // TestProcess does; standard error goes to its file.
    TestProcess::Options options;
    options.inputPipe = true;
    options.workingDirectory = program.workingDirectory;
    options.environment = program.environment;
    options.lifeline = true;
    std::vector<std::string> argv{program.path};
    argv.insert(argv.end(), program.arguments.begin(), program.arguments.end());
    TestProcess process(argv, options);
    result.started = process.pid() > 0;
    if (result.started) {
        runningChild = process.pid();
        converse(process.releaseInput(), process.releaseOutput(), -1, nullptr, deadline, false);
        runningChild = -1;
    }

    int waitStatus = 0;
    struct rusage usage {};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    bool ended = result.started && process.waitExit(std::max(left, std::chrono::milliseconds(0)), waitStatus, &usage);
    if (result.started && !ended) {
        process.signal(SIGKILL);
        result.timedOut = true;
        ended = process.waitExit(std::chrono::milliseconds(10000), waitStatus, &usage);
    }
    if (ended) {
        result.cpuMicroseconds = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                                 usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        if (WIFEXITED(waitStatus)) result.exitStatus = WEXITSTATUS(waitStatus);
        if (WIFSIGNALED(waitStatus)) result.terminatingSignal = WTERMSIG(waitStatus);
    }
    // The call is handed back before its records are all delivered: wait
    // for the process that finishes them, so the back office's journal is
    // complete when the test reads it.
    if (ended && !process.waitForDescendants(std::chrono::milliseconds(30000))) {
        result.failure += "a process the program left behind did not end within 30 s";
    }
    result.stderrText = process.errorText();

    result.commands = commands();
    std::string problem = failure();
    if (!problem.empty()) result.failure += (result.failure.empty() ? "" : "; ") + problem;
    if (!result.failure.empty() || result.timedOut) {
        ADD_FAILURE() << "child " << program.path << (result.timedOut ? " killed at the deadline" : "") << ": "
                      << result.failure << "\nstderr:\n" << result.stderrText;
    }
    return result;
}

}  // namespace tarvik::testing
