#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/BackOfficeRecord.h"
#include "api/ApiRequest.h"
#include "api/ConnectionCache.h"
#include "api/KestroAgiRESTFul.h"
#include "api/RecordSpool.h"

namespace tarvik {

// Sends a call's records beside the call, on a thread and a connection of
// its own (kept open across the calls a process serves), in the order they were queued, each once. A record the back
// office could not take (no connection, time limit, 5xx) goes to the spool;
// one it refused (any other answer that is not 2xx) does not. A call first
// takes the oldest spooled records of earlier calls, so an outage's records
// reach the back office once it answers again.
class BackgroundSender {
public:
    struct Settings {
        std::string baseUri;
        std::string accessToken;
        KestroAgiRESTFul::TransferOptions options;
        std::string spoolDirectory;  // empty: no spool
        std::size_t spooledPerCall = 50;
    };

    struct FlushReport {
        std::size_t delivered = 0;
        std::size_t setAside = 0;
        std::size_t keptForLater = 0;
    };

    enum class Delivery { delivered, refused, undelivered };

    // giveUp is the call's latch (see TransferOptions); may be null.
    BackgroundSender(Settings settings, std::atomic<bool>* giveUp);
    ~BackgroundSender();
    BackgroundSender(const BackgroundSender&) = delete;
    BackgroundSender& operator=(const BackgroundSender&) = delete;

    // Starts the thread (once); it first takes spooled records.
    void start();
    void enqueue(BackOfficeRecord record);
    // Writes a record that failed on the caller's path to the spool, now.
    void keep(const BackOfficeRecord& record);
    // Delivers what is still queued for at most `limit` (a transfer under way
    // ends within its own limit), spools the rest and stops the thread.
    void finish(std::chrono::milliseconds limit);

    // Lines for the call's verbose output, each given once.
    std::vector<std::string> takeNotices();

    // Sends every spooled record now, on this thread, oldest first; stops at
    // the first one the back office cannot take.
    FlushReport flushSpool();

    static Delivery judge(const KestroAgiDataSourceResult* result);

private:
    void run();
    void deliverOwn(const BackOfficeRecord& record);
    ApiRequest::Result transmit(const BackOfficeRecord& record);
    // finish() was called and its time is up.
    bool pastDeadline();
    std::vector<RecordSpool::Claimed> claimBatch();
    // Delivers spooled records in order until the back office cannot take
    // one or the time is up; the rest wait again. False when it stopped early.
    bool deliverBatch(const std::vector<RecordSpool::Claimed>& batch, FlushReport* report);
    // False when the back office could not take it (the rest should wait).
    bool deliverSpooled(const RecordSpool::Claimed& claimed, FlushReport* report);
    void note(const std::string& line);
    void collectSpoolNotices();
    // For a service's metrics: how many records wait in the spool now.
    void reportWaiting();

    Settings settings;
    std::unique_ptr<RecordSpool> spool;
    std::mutex spoolMutex;
    bool spoolProblemNoted = false;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<BackOfficeRecord> queue;
    bool finishing = false;
    std::chrono::steady_clock::time_point deadline;
    std::vector<std::string> notices;
    std::thread worker;
};

}  // namespace tarvik
