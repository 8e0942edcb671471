#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarvik::testing {

// Plays Asterisk on the other end of real pipes: writes the AGI start-up
// block, then answers every command line it reads with the reply a script
// gives, and records the commands in order.
//
// Replies are chosen in this order: the hang-up simulation (hangUpAtCommand),
// then replies queued for that exact command text (replyTo), then replies
// queued for any command (queueReply), then the script (setScript), then
// defaultReply. Configure everything before start() / runChild(); one
// conversation per peer. A reply text may hold several lines (a "520-" block); a
// final line feed is added when missing. A reply ending in kCloseMarker
// writes the text before it and then closes both pipes, as Asterisk does
// when the call ends with AGIEXITONHANGUP (closeReply builds one).
//
// In-process use (the session on the test thread, the peer on its own):
//     ScriptedAsteriskPeer peer;
//     peer.queueReply("200 result=1 (bar)");
//     peer.start();
//     { KestroAgi agi(peer.programIn(), peer.programOut()); ... }
//     peer.finish();
//     EXPECT_EQ(peer.commands(), (std::vector<std::string>{...}));
//
// (tests/agi/PeerCall.h wraps exactly this.)
//
// Child-process use: runChild(program) starts the program with its standard
// input/output on the peer (SIGPIPE back to its default action, as Asterisk
// starts it), runs the whole call, and returns exit status, commands and
// the program's standard error.
//
// Every wait is bounded: in-process, a peer that hears nothing for
// idleTimeout gives up and closes its pipes (the session then reads end of
// input); a child is killed at its deadline. Either problem, or a script
// that throws, is reported to the running test with ADD_FAILURE (by
// finish() / runChild()), so nothing hangs and nothing passes silently.
class ScriptedAsteriskPeer {
public:
    using Script = std::function<std::string(const std::string& command)>;

    static const std::string kCloseMarker;
    static const std::string kDeadChannelReply;  // the 511 line

    // How Asterisk behaves when the caller hangs up during a command.
    enum class HangupStyle {
        Local,          // "200 result=-1", then 511 for channel commands
        ExitOnHangup,   // "200 result=-1", then both pipes closed
        Network,        // as Local, plus the unsolicited "HANGUP" line
    };

    struct ChildProgram {
        std::string path;
        std::vector<std::string> arguments;  // argv[1..]; argv[0] is path
        std::string workingDirectory;        // empty: the test's own
        std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
        std::chrono::milliseconds deadline{30000};  // whole run; SIGKILL after it
    };

    struct ChildResult {
        bool started = false;       // fork/exec worked
        bool timedOut = false;      // killed at the deadline
        int exitStatus = -1;        // exit code, -1 when killed by a signal
        int terminatingSignal = 0;  // the signal that ended it, or 0
        std::vector<std::string> commands;
        std::string stderrText;
        std::string failure;        // the peer's own problems (empty when none)
        long long cpuMicroseconds = -1;  // user + system time of the child (wait4), -1 if not reaped
    };

    ScriptedAsteriskPeer();
    ~ScriptedAsteriskPeer();

    ScriptedAsteriskPeer(const ScriptedAsteriskPeer&) = delete;
    ScriptedAsteriskPeer& operator=(const ScriptedAsteriskPeer&) = delete;

    // --- start-up block ---------------------------------------------------
    // The block of an Asterisk 22 local AGI, in Asterisk's order.
    static std::vector<std::pair<std::string, std::string>> typicalStartup();
    // Replaces the value of key, or appends key at the end.
    void setStartupVariable(const std::string& key, const std::string& value);
    void setStartup(const std::vector<std::pair<std::string, std::string>>& variables);
    // Exact bytes to send first (must hold its own terminating empty line).
    void setStartupRaw(const std::string& bytes);

    // --- replies ----------------------------------------------------------
    void setScript(Script script);
    void queueReply(const std::string& reply);
    void queueReplies(const std::vector<std::string>& replies);
    // Answers the next command that reads exactly `command` with `reply`
    // (several calls for one command are used in order).
    void replyTo(const std::string& command, const std::string& reply);
    // The caller hangs up during the n-th command (1-based).
    void hangUpAtCommand(std::size_t n, HangupStyle style = HangupStyle::Local);
    // Child-process mode: also send `signal` (Asterisk sends SIGHUP) to the
    // child at that moment, before the hang-up reply is written. 0: none.
    void signalChildAtHangup(int signal) { hangupSignal = signal; }
    // Stop listening after this long without a command (in-process mode).
    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout = timeout; }

    // "200 result=1" for VERBOSE, "200 result=0" for everything else.
    static std::string defaultReply(const std::string& command);
    // Whether Asterisk refuses the command (511) on a dead channel: anything
    // that touches the channel; VERBOSE, GET VARIABLE and EXEC still work.
    static bool needsLiveChannel(const std::string& command);
    static std::string closeReply(const std::string& lastReply = "");

    // --- in-process mode --------------------------------------------------
    void start();
    int programIn() const { return programInFd; }    // the session reads here
    int programOut() const { return programOutFd; }  // the session writes here
    // Closes the session's side, waits for the peer thread (bounded) and
    // reports any peer failure to the running test. Idempotent.
    void finish();

    // --- child-process mode -----------------------------------------------
    ChildResult runChild(const ChildProgram& program);

    // --- results ----------------------------------------------------------
    std::vector<std::string> commands() const;
    std::string failure() const;

private:

    std::string nextReply(const std::string& command);
    std::string startupBytes() const;
    void record(const std::string& command);
    void fail(const std::string& text);
    void converse(int toProgram, int fromProgram, int errorFd, std::string* errorText,
                  std::chrono::steady_clock::time_point hardDeadline, bool idleDeadline);

    std::vector<std::pair<std::string, std::string>> startupVariables;
    std::string startupRawBytes;
    bool useRawStartup = false;
    Script script;
    std::deque<std::string> queued;
    std::map<std::string, std::deque<std::string>> queuedFor;
    std::size_t hangupAt = 0;
    HangupStyle hangupStyle = HangupStyle::Local;
    int hangupSignal = 0;
    pid_t runningChild = -1;  // set while runChild converses
    std::chrono::milliseconds idleTimeout{10000};

    mutable std::mutex mutex;  // guards transcript and failureText
    std::vector<std::string> transcript;
    std::string failureText;

    std::thread worker;
    int programInFd = -1;
    int programOutFd = -1;
    int peerWriteFd = -1;
    int peerReadFd = -1;
    bool finished = false;
};

}  // namespace tarvik::testing
