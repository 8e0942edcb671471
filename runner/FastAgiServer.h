#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>

#include "runner/FastAgiCallRecord.h"
#include "runner/FastAgiOptions.h"

namespace tarvik {

// The FastAGI service: listens on TCP for Asterisk's network AGI
// connections and serves each call in a child process of its own, forked
// for that connection (single-threaded, nothing shared between calls).
//
// The parent only accepts, refuses (peer not allowed, --max-calls reached:
// accepted and closed at once, so Asterisk goes on in its dial plan),
// forks and reaps. SIGTERM or SIGINT stops accepting and lets the calls in
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
    void acceptOne();
    [[noreturn]] void serveInChild(int socketFd, const std::string& peer);
    void reapChildren();
    void drain();

    FastAgiOptions options;
    CallHandler handler;
    int listenFd = -1;
    std::map<pid_t, std::string> calls;  // child -> peer, while the call runs
};

}  // namespace tarvik
