#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fastagi/FastAgiNetwork.h"

namespace tarvik {

// How the FastAGI service listens and what it lets in. The setters read
// the command-line texts and return false for a text they cannot use.
struct FastAgiOptions {
    static constexpr std::uint16_t kDefaultPort = 4573;
    static constexpr std::size_t kDefaultMaxCalls = 200;

    std::string address = "127.0.0.1";  // loopback unless told otherwise
    std::uint16_t port = kDefaultPort;  // 0: any free port (tests)
    std::size_t maxCalls = kDefaultMaxCalls;
    static constexpr std::size_t kDefaultCallsPerProcess = 1000;
    // Calls a call process serves one after another; 1: a process per call.
    std::size_t callsPerProcess = kDefaultCallsPerProcess;
    // A call process whose resident memory passes this after a call is
    // replaced (0: no bound).
    std::size_t maxProcessMemory = 256u * 1024u * 1024u;
    // Run in a pooled call process after each call, before it takes the
    // next one: where work a call left pending gets finished.
    std::function<void()> afterCall;
    // Call processes kept waiting for calls, and how long one beyond those
    // may stay idle before it leaves (memory comes back after a burst).
    static constexpr std::size_t kDefaultSpareProcesses = 2;
    std::size_t spareProcesses = kDefaultSpareProcesses;
    std::chrono::milliseconds idleTimeout{60000};
    std::vector<FastAgiNetwork> allowed;  // empty: any peer
    // Set: a call may only name configuration files inside this folder.
    std::string configsDirectory;
    // /metrics and /health over HTTP, when metricsEnabled.
    bool metricsEnabled = false;
    std::string metricsAddress = "127.0.0.1";
    std::uint16_t metricsPort = 0;
    std::vector<FastAgiNetwork> metricsAllowed;  // empty: any peer
    // A peer that does not finish its start-up block in time, or sends a
    // bigger one, is not a well-behaved Asterisk: drop it.
    std::chrono::milliseconds startupTimeout{5000};
    std::size_t maxStartupBytes = 64 * 1024;
    // After SIGTERM, calls in progress get this long before SIGKILL.
    std::chrono::milliseconds drainTimeout{30000};
    // Run once in the service before the first call is forked, so libraries
    // are set up once instead of once per call.
    std::function<void()> initialiseLibraries;

    // "[ADDRESS:]PORT": "4573", "0.0.0.0:4573", "[::]:4573".
    bool setListen(const std::string& text);
    // "[ADDRESS:]PORT" of the metrics endpoint; loopback unless told otherwise.
    bool setMetrics(const std::string& text);
    // A positive decimal number.
    bool setMaxCalls(const std::string& text);
    bool setCallsPerProcess(const std::string& text);
    // A count of processes, 0 and more.
    bool setSpareProcesses(const std::string& text);
    // Whole seconds, 0 and more.
    bool setIdleTimeout(const std::string& text);
    // One more network allowed to connect ("10.0.0.0/8", "192.0.2.7").
    bool addAllowed(const std::string& text);
    // The same for the metrics endpoint.
    bool addMetricsAllowed(const std::string& text);
    // An existing folder.
    bool setConfigs(const std::string& text);

    bool isAllowed(const struct sockaddr* peer) const;
};

}  // namespace tarvik
