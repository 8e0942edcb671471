#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

#include "fastagi/CallProcessPool.h"
#include "fastagi/CallReports.h"
#include "fastagi/FastAgiCallRecord.h"
#include "fastagi/FastAgiOptions.h"
#include "fastagi/MetricsEndpoint.h"
#include "fastagi/ServiceMetrics.h"

namespace tarvik {

// The FastAGI service: listens on TCP for Asterisk's network AGI
// connections and serves each call in a child process, single-threaded.
// With callsPerProcess 1 each call gets a process forked for it; above 1 a
// pool of call processes serves calls one after another (CallProcessPool),
// each replaced when it has served its share, grown past the memory bound
// or died, and left to go when it waited idle beyond the spare ones.
//
// The parent only accepts, refuses (peer not allowed, --max-calls reached:
// accepted and closed at once, so Asterisk goes on in its dial plan),
// hands calls over and reaps. SIGTERM or SIGINT stops accepting and lets the calls in
// progress finish, killing those still running after the drain timeout;
// SIGHUP is ignored. Every log line goes to standard error.
class FastAgiServer {
public:
    // Serves one call on the connected socket; returns the call's exit
    // status. Runs in the call's child process.
    using CallHandler = std::function<int(int socketFd, FastAgiCallRecord& record)>;

    FastAgiServer(FastAgiOptions options, CallHandler handler);
    ~FastAgiServer();

    FastAgiServer(const FastAgiServer&) = delete;
    FastAgiServer& operator=(const FastAgiServer&) = delete;

    // Runs the service until it is told to stop: 0 after an orderly stop,
    // 1 when it cannot listen.
    int run();

    // One line, written with a single write() so lines of concurrent calls
    // never interleave.
    static void log(const std::string& line);

private:
    bool openListener();
    bool openMetrics();
    // One wait of the loop: the listener (when open), the call reports and
    // the metrics endpoint; `limit` null waits without end.
    void waitOnce(const struct timespec* limit);
    MetricsEndpoint::Answer answerMetrics(const std::string& path);
    void refuse(int socketFd, const std::string& peer, const std::string& reason, const std::string& line);
    void acceptOne();
    // In a new call process: the service's signal set-up, sockets and
    // report end are not the call's.
    void becomeCallProcess();
    [[noreturn]] void serveInChild(int socketFd, const std::string& peer);
    // One call on its socket, from the start-up block to the log line.
    int serveCall(int socketFd, const std::string& peer);
    [[noreturn]] void runCallProcess(int channel);
    void noteProcessExit(pid_t child, int status, const CallProcessPool::Exit& exit);
    std::size_t callsInProgress() const;
    void reapChildren();
    // Waits for the calls and pool processes to end, at most until `deadline`.
    void waitForCallsUntil(std::chrono::steady_clock::time_point deadline);
    void drain();

    FastAgiOptions options;
    CallHandler handler;
    int listenFd = -1;
    bool listenReady = false;  // the last wait found a connection waiting
    bool draining = false;
    std::map<pid_t, std::string> calls;  // child -> peer, while the call runs
    CallReports reports;
    ServiceMetrics metrics;
    std::unique_ptr<MetricsEndpoint> metricsEndpoint;
    std::unique_ptr<CallProcessPool> pool;  // with callsPerProcess > 1
};

}  // namespace tarvik
