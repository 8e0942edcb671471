#include "fastagi/FastAgiServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <libxml/parser.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

#include "fastagi/DescriptorPassing.h"
#include "fastagi/FastAgiStartupGate.h"
#include "fastagi/ListeningSocket.h"
#include "fastagi/ServiceCapacity.h"
#include "metrics/CallTally.h"
#include "util/BoundedFormat.h"
#include "util/DescriptorWrite.h"

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t stopRequested = 0;
volatile sig_atomic_t childExited = 0;

void onStop(int) { stopRequested = 1; }
void onChild(int) { childExited = 1; }

// The parent's signal set-up, undone in each call's child and at the end.
class ServiceSignals {
public:
    ServiceSignals() {
        stopRequested = 0;
        childExited = 0;
        install(SIGTERM, onStop, &oldTerm);
        install(SIGINT, onStop, &oldInt);
        install(SIGCHLD, onChild, &oldChild);
        install(SIGHUP, SIG_IGN, &oldHup);
        install(SIGPIPE, SIG_IGN, &oldPipe);
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        sigaddset(&blocked, SIGINT);
        sigaddset(&blocked, SIGCHLD);
        sigprocmask(SIG_BLOCK, &blocked, &oldMask);
        // Waiting happens in ppoll with these unblocked: a signal can only
        // arrive while waiting, so none is missed between check and wait.
        waitMask = oldMask;
        sigdelset(&waitMask, SIGTERM);
        sigdelset(&waitMask, SIGINT);
        sigdelset(&waitMask, SIGCHLD);
    }
    ~ServiceSignals() { restore(); }

    ServiceSignals(const ServiceSignals&) = delete;
    ServiceSignals& operator=(const ServiceSignals&) = delete;

    // A call's child starts with the signal state the service was given.
    void restore() {
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGCHLD, &oldChild, nullptr);
        sigaction(SIGHUP, &oldHup, nullptr);
        sigaction(SIGPIPE, &oldPipe, nullptr);
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
    }

    const sigset_t* whileWaiting() const { return &waitMask; }

private:
    static void install(int signal, void (*handler)(int), struct sigaction* old) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = signal == SIGCHLD ? SA_NOCLDSTOP : 0;
        sigaction(signal, &action, old);
    }

    struct sigaction oldTerm {}, oldInt {}, oldChild {}, oldHup {}, oldPipe {};
    sigset_t oldMask{};
    sigset_t waitMask{};
};

ServiceSignals* activeSignals = nullptr;

// At the limit, how long a new call waits for a call that is just ending
// (its process answers a moment after closing the connection).
constexpr int kEndingCallWaitMs = 200;

// In a call process: where its back-office exchanges are reported.
CallReports* callReports = nullptr;

void forwardReport(const std::string& report) {
    if (callReports != nullptr) callReports->send(report);
}

// Replies come quickly, but a command may wait minutes for the caller; an
// Asterisk that vanished without closing is found by keepalive instead.
void tuneCallSocket(int socketFd) {
    int on = 1;
    setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    setsockopt(socketFd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    int idle = 60, interval = 10, count = 3;
    setsockopt(socketFd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    setsockopt(socketFd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(socketFd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count));
}

// Resident memory of this process, from /proc/self/statm.
std::size_t residentBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    unsigned long size = 0, resident = 0;
    int read = std::fscanf(statm, "%lu %lu", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

void pauseBriefly() {
    timespec pause{0, 100 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

}  // namespace

FastAgiServer::FastAgiServer(FastAgiOptions options, CallHandler handler)
    : options(std::move(options)), handler(std::move(handler)) {}

FastAgiServer::~FastAgiServer() {
    if (listenFd >= 0) ::close(listenFd);
}

void FastAgiServer::log(const std::string& line) {
    std::string text = line;
    if (text.empty() || text.back() != '\n') text += '\n';
    writeAll(STDERR_FILENO, text.data(), text.size());
}

bool FastAgiServer::openListener() {
    listenFd = ListeningSocket::open(options.address, options.port);
    if (listenFd < 0) {
        log(formatBounded("fastagi: cannot listen on %s:%u: %s", options.address.c_str(),
                          static_cast<unsigned>(options.port),
                          errno == EINVAL ? "not an address" : std::strerror(errno)));
        return false;
    }
    log(formatBounded("fastagi: listening on %s max_calls=%zu", ListeningSocket::boundAddress(listenFd).c_str(),
                      options.maxCalls));
    // Beyond the host's limits a call would fail mid-way for want of a
    // thread or a descriptor: better said once, at the start.
    const std::string tooMany =
        ServiceCapacity::shortfall(options.maxCalls, ServiceCapacity::taskLimit(), ServiceCapacity::descriptorLimit());
    if (!tooMany.empty()) log(tooMany);
    return true;
}

bool FastAgiServer::openMetrics() {
    if (!options.metricsEnabled) return true;
    metricsEndpoint = std::make_unique<MetricsEndpoint>(
        [this](const std::string& path) { return answerMetrics(path); }, options.metricsAllowed);
    if (!metricsEndpoint->open(options.metricsAddress, options.metricsPort)) {
        log(formatBounded("fastagi: cannot serve metrics on %s:%u: %s", options.metricsAddress.c_str(),
                          static_cast<unsigned>(options.metricsPort), std::strerror(errno)));
        return false;
    }
    log(formatBounded("fastagi: metrics on %s", metricsEndpoint->boundAddress().c_str()));
    return true;
}

// /health is what a load balancer checks: 200 only while a call sent here
// would be taken.
MetricsEndpoint::Answer FastAgiServer::answerMetrics(const std::string& path) {
    metrics.endpointRequest(path);  // only "/health" and "/metrics" come here
    MetricsEndpoint::Answer answer;
    if (path == "/health") {
        const bool full = callsInProgress() >= options.maxCalls;
        answer.status = draining || full ? 503 : 200;
        answer.body = draining ? "draining\n" : full ? "full\n" : "ok\n";
        return answer;
    }
    answer.contentType = "text/plain; version=0.0.4; charset=utf-8";
    metrics.processesNow(pool ? pool->size() : calls.size());
    answer.body = metrics.render(callsInProgress(), options.maxCalls, !draining);
    return answer;
}

void FastAgiServer::waitOnce(const struct timespec* limit) {
    std::vector<pollfd> watched;
    if (listenFd >= 0) watched.push_back(pollfd{listenFd, POLLIN, 0});
    if (reports.isOpen()) watched.push_back(pollfd{reports.receiveFd(), POLLIN, 0});
    const std::size_t poolFirst = watched.size();
    if (pool) pool->addTo(watched);
    const std::size_t endpointFirst = watched.size();
    if (metricsEndpoint) metricsEndpoint->addTo(watched);
    // The endpoint's deadlines and the pool's idle processes wake the wait.
    timespec wait{};
    for (int ownLimit : {metricsEndpoint ? metricsEndpoint->waitLimitMs() : -1,
                         pool && !draining ? pool->waitLimitMs() : -1}) {
        if (ownLimit >= 0 && (limit == nullptr || ownLimit < limit->tv_sec * 1000 + limit->tv_nsec / 1000000)) {
            wait = timespec{ownLimit / 1000, (ownLimit % 1000) * 1000000L};
            limit = &wait;
        }
    }
    int ready = ::ppoll(watched.data(), watched.size(), limit, activeSignals->whileWaiting());
    listenReady = ready > 0 && listenFd >= 0 && (watched[0].revents & POLLIN) != 0;
    // Not only on SIGCHLD: when descriptors are ready the signal may stay
    // pending past this wait.
    reapChildren();
    // Reports before the endpoint, so a scrape sees every finished call.
    reports.receiveAll([this](const std::string& report) { metrics.apply(report); });
    if (pool) {
        pool->handle(watched, poolFirst, endpointFirst - poolFirst);
        if (!draining) {
            pool->retireIdle();  // memory comes back after a burst
            pool->topUp();       // replaces the processes that left
        }
    }
    if (metricsEndpoint) metricsEndpoint->handle(watched, endpointFirst);
}

int FastAgiServer::run() {
    ServiceSignals signals;
    activeSignals = &signals;
    // Library set-up once here, so no call pays for it.
    xmlInitParser();
    if (options.initialiseLibraries) options.initialiseLibraries();

    if (!openListener() || !openMetrics()) {
        activeSignals = nullptr;
        return 1;
    }
    if (options.callsPerProcess > 1) {
        // A couple of processes wait ahead, so a call never waits for a fork.
        pool = std::make_unique<CallProcessPool>(
            std::min(options.spareProcesses, options.maxCalls), options.maxCalls, options.idleTimeout,
            [this](int channel) { runCallProcess(channel); }, [this] { metrics.processStarted(); });
        pool->topUp();
    }
    while (stopRequested == 0) {
        waitOnce(nullptr);
        if (stopRequested != 0) break;
        if (listenReady) acceptOne();
    }
    drain();
    activeSignals = nullptr;
    return 0;
}

void FastAgiServer::refuse(int socketFd, const std::string& peer, const std::string& reason, const std::string& line) {
    ::close(socketFd);
    metrics.callRefused(reason);
    log(formatBounded("fastagi: refused %s: %s", peer.c_str(), line.c_str()));
}

void FastAgiServer::acceptOne() {
    sockaddr_storage peerAddress{};
    socklen_t length = sizeof(peerAddress);
    int socketFd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peerAddress), &length, SOCK_CLOEXEC);
    if (socketFd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            log(formatBounded("fastagi: cannot accept: %s", std::strerror(errno)));
            pauseBriefly();  // the connection stays queued; do not spin on it
        }
        return;
    }
    std::string peer = ListeningSocket::describe(peerAddress);
    if (!options.isAllowed(reinterpret_cast<sockaddr*>(&peerAddress))) {
        refuse(socketFd, peer, "not_allowed", "not in the allow list");
        return;
    }
    reapChildren();  // a call that just ended must not count against the limit
    if (pool && callsInProgress() >= options.maxCalls) pool->awaitAnswers(kEndingCallWaitMs);
    if (callsInProgress() >= options.maxCalls) {
        refuse(socketFd, peer, "max_calls", formatBounded("max_calls=%zu reached", options.maxCalls));
        return;
    }

    if (pool) {
        if (!pool->assign(socketFd, peer)) {
            refuse(socketFd, peer, "no_process", "no call process could take the call");
            return;
        }
        ::close(socketFd);
        pool->topUp();  // the next call finds one ready
        return;
    }

    std::fflush(nullptr);  // nothing buffered may be written twice
    pid_t child = ::fork();
    if (child == 0) serveInChild(socketFd, peer);
    if (child < 0) {
        refuse(socketFd, peer, "no_process", formatBounded("cannot fork: %s", std::strerror(errno)));
        return;
    }
    ::close(socketFd);
    metrics.processStarted();
    calls.emplace(child, peer);
}

void FastAgiServer::becomeCallProcess() {
    if (activeSignals != nullptr) activeSignals->restore();
    ::close(listenFd);
    listenFd = -1;
    metricsEndpoint.reset();  // the service's sockets are not the call's
    reports.becomeSender();
    callReports = &reports;
    // The call's tally (its summary line) forwards every report here.
    CallTally::listen(&forwardReport);
}

void FastAgiServer::serveInChild(int socketFd, const std::string& peer) {
    becomeCallProcess();
    int status = serveCall(socketFd, peer);
    std::fflush(nullptr);
    _exit(status);
}

int FastAgiServer::serveCall(int socketFd, const std::string& peer) {
    tuneCallSocket(socketFd);
    FastAgiCallRecord record(peer);
    FastAgiStartupGate gate(options.startupTimeout, options.maxStartupBytes);
    FastAgiStartupGate::Verdict verdict = gate.wait(socketFd);
    if (verdict != FastAgiStartupGate::Verdict::ready) {
        ::close(socketFd);
        if (verdict != FastAgiStartupGate::Verdict::probe) log(record.refuse(FastAgiStartupGate::describe(verdict)));
        return 1;
    }

    int status = 1;
    try {
        status = handler(socketFd, record);
    } catch (const std::exception& failure) {
        log(formatBounded("fastagi: call peer=%s failed: %s", peer.c_str(), failure.what()));
    } catch (...) {
        log(formatBounded("fastagi: call peer=%s failed", peer.c_str()));
    }
    // Closing first lets Asterisk go on in the dial plan at once.
    ::close(socketFd);
    reports.send(CallMetrics::callReport(record.getDestination(), record.getReplacements(), record.elapsedSeconds()));
    reports.flush();
    log(record.finish(status));
    return status;
}

// A pooled call process: calls one after another until the service closes
// the channel, the process has served its share or grown past its bound.
void FastAgiServer::runCallProcess(int channel) {
    becomeCallProcess();
    std::size_t served = 0;
    for (;;) {
        std::string peer;
        int socketFd = DescriptorPassing::receive(channel, peer);
        if (socketFd < 0) break;
        serveCall(socketFd, peer);
        ++served;
        // The call's objects are gone (the handler destroyed them); what
        // the call left to finish in this process is finished here, before
        // the next call is taken.
        if (options.afterCall) options.afterCall();
        reports.flush();
        std::fflush(nullptr);
        std::string answer = "done";
        if (served >= options.callsPerProcess) {
            answer = "retire calls";
        } else if (options.maxProcessMemory > 0 && residentBytes() > options.maxProcessMemory) {
            answer = "retire memory";
        }
        ::send(channel, answer.data(), answer.size(), MSG_NOSIGNAL);
        if (answer != "done") break;
    }
    reports.flush();
    std::fflush(nullptr);
    _exit(0);
}

void FastAgiServer::reapChildren() {
    childExited = 0;
    int status = 0;
    pid_t child;
    while ((child = ::waitpid(-1, &status, WNOHANG)) > 0) {
        CallProcessPool::Exit exit;
        if (pool && pool->forget(child, exit)) {
            noteProcessExit(child, status, exit);
            continue;
        }
        auto call = calls.find(child);
        if (WIFSIGNALED(status)) {
            if (call != calls.end()) metrics.callCrashed();
            log(formatBounded("fastagi: call pid=%d peer=%s ended by signal %d", static_cast<int>(child),
                              call != calls.end() ? call->second.c_str() : "?", WTERMSIG(status)));
        }
        if (call != calls.end()) calls.erase(call);
    }
}

void FastAgiServer::noteProcessExit(pid_t child, int status, const CallProcessPool::Exit& exit) {
    if (WIFSIGNALED(status)) {
        if (exit.busy) {
            metrics.callCrashed();
            log(formatBounded("fastagi: call pid=%d peer=%s ended by signal %d", static_cast<int>(child),
                              exit.peer.c_str(), WTERMSIG(status)));
        }
        if (!draining) metrics.processReplaced("crash");
    } else if (exit.reason == "idle") {
        metrics.processLeftIdle();
    } else if (!exit.reason.empty() && !draining) {
        metrics.processReplaced(exit.reason);
    }
}

std::size_t FastAgiServer::callsInProgress() const { return calls.size() + (pool ? pool->busy() : 0); }

void FastAgiServer::waitForCallsUntil(std::chrono::steady_clock::time_point deadline) {
    while (!calls.empty() || (pool && pool->size() > 0)) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        waitOnce(&wait);
        reapChildren();
    }
}

void FastAgiServer::drain() {
    // New connections are refused from now on. Shutting the socket down
    // stops it listening in every process that holds a copy (a call process
    // forked a moment ago may not have closed its copy yet).
    ::shutdown(listenFd, SHUT_RDWR);
    ::close(listenFd);
    listenFd = -1;
    draining = true;  // /health says so while the calls finish
    reapChildren();
    log(formatBounded("fastagi: stopping, %zu calls in progress", callsInProgress()));
    if (pool) pool->closeChannels();  // idle processes leave now, busy ones after their call

    waitForCallsUntil(Clock::now() + options.drainTimeout);
    if (!calls.empty() || (pool && pool->size() > 0)) {
        log(formatBounded("fastagi: stopping %zu calls still running after the drain timeout", callsInProgress()));
        // SIGTERM first: a call process writes its undelivered records to
        // the spool within a second. What is still there then is killed.
        for (const auto& call : calls) ::kill(call.first, SIGTERM);
        if (pool) pool->signalAll(SIGTERM);
        waitForCallsUntil(Clock::now() + std::chrono::seconds(2));
        for (const auto& call : calls) ::kill(call.first, SIGKILL);
        if (pool) pool->signalAll(SIGKILL);
        while (!calls.empty() || (pool && pool->size() > 0)) {
            int status = 0;
            pid_t child = ::waitpid(-1, &status, 0);
            if (child < 0 && errno == EINTR) continue;
            if (child < 0) break;
            CallProcessPool::Exit exit;
            if (!pool || !pool->forget(child, exit)) calls.erase(child);
        }
    }
    log("fastagi: stopped");
}

}  // namespace tarvik
