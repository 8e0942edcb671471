#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "api/ApiRequest.h"
#include "api/BackOfficeRecord.h"
#include "api/KestroAgiRESTFul.h"
#include "records/BackOfficeIdentity.h"
#include "records/DeliveryVerdict.h"
#include "records/RecordSpool.h"
#include "util/ReusedThread.h"

namespace tarvik {

// Sends the records of one back office beside the call, on a thread and a
// connection of their own (kept open across the calls a process serves), in
// the order they were queued, each once. Its time limits and its give-up
// latch are its own: nothing here fails, delays or reorders a request of the
// caller's path. A record the back office does not take waits in the spool
// or is set aside there (see DeliveryVerdict), and leaves one line. A call
// first takes the oldest spooled records of its own back office, so an
// outage's records reach it once it answers again.
//
// Threads: start() runs the sender on a thread of its own (a ReusedThread: a
// process serving many calls keeps it for the next call's sender); a process
// that forks (the hand-back) does so before. The thread never touches the
// call's session.
class BackgroundSender {
public:
    struct Settings {
        std::string baseUri;
        std::string accessToken;
        // The back office every record of this sender belongs to.
        BackOfficeIdentity identity;
        KestroAgiRESTFul::TransferOptions options;
        std::string spoolDirectory;  // empty: no spool
        std::size_t spooledPerCall = 50;
        RecordSpool::Limits limits;
    };

    struct FlushReport {
        std::size_t delivered = 0;
        std::size_t setAside = 0;
        std::size_t keptForLater = 0;
        // Refused records that could not be set aside: still in the spool.
        std::size_t stuck = 0;
    };

    explicit BackgroundSender(Settings settings);
    ~BackgroundSender();
    BackgroundSender(const BackgroundSender&) = delete;
    BackgroundSender& operator=(const BackgroundSender&) = delete;

    // Starts the thread (once); it first takes spooled records. From then
    // on SIGTERM spools what is not yet delivered before the process ends.
    // Without a thread (none could start) the records wait until finish().
    void start();
    void enqueue(BackOfficeRecord record);
    // A record that went on the caller's path got `verdict`: keeps it in the
    // spool or sets it aside, with its line.
    void settle(const BackOfficeRecord& record, const DeliveryVerdict& verdict);
    // Delivers what is still queued for at most `limit`: at the limit a
    // transfer under way is cut, the rest is spooled and the thread stops.
    void finish(std::chrono::milliseconds limit);
    // The process is being stopped: what is queued or in flight is written
    // to the spool now and claims are given back. Nothing is sent after.
    void abandon();

    // Lines for the call's verbose output, each given once.
    std::vector<std::string> takeNotices();

    // Whether the spool can be used (for `--flush-spool`), with the reason.
    bool spoolUsable(std::string& problem);
    // Sends every spooled record of this back office now, on this thread,
    // oldest first; stops at the first one the back office cannot take.
    FlushReport flushSpool();
    std::size_t waitingInSpool();

private:
    void run();
    void deliverOwn(const BackOfficeRecord& record);
    ApiRequest::Result transmit(const BackOfficeRecord& record, TransferFault& fault);
    // finish() was called and its time is up.
    bool pastDeadline();
    // Records written before `writtenBefore` (0: any), oldest first.
    std::vector<RecordSpool::Claimed> claimBatch(std::int64_t writtenBefore);
    // Delivers spooled records in order until the back office cannot take
    // one or the time is up; the rest wait again. False when it stopped early.
    bool deliverBatch(const std::vector<RecordSpool::Claimed>& batch, FlushReport* report);
    // False when the back office could not take it (the rest should wait).
    bool deliverSpooled(const RecordSpool::Claimed& claimed, FlushReport* report);
    struct Unsettled {
        BackOfficeRecord record;
        DeliveryVerdict verdict;
    };
    // Counts a record not delivered and heeds the back office's hold.
    void notDelivered(const DeliveryVerdict& verdict);
    // Writes the records not delivered so far to the spool in one commit
    // (`onlyWhenDue`: unless those queued behind them may still share it).
    void keepUnsettled(bool onlyWhenDue);
    // Writes them to the spool (or aside) in one commit, each with its line.
    void keepAll(const std::vector<Unsettled>& batch);
    // The same, spoolMutex held.
    void keepLocked(const std::vector<Unsettled>& batch, bool withLines);
    void note(const std::string& line);
    void collectSpoolNotices();
    // For a service's metrics: how many records wait in the spool now.
    void reportWaiting();

    Settings settings;
    // The records' own latch: once one of their exchanges ran out of time,
    // the others go to the spool at once. The caller's latch is not this.
    std::atomic<bool> giveUp{false};
    // Set at finish()'s limit or on a stop: the transfer under way is cut.
    std::atomic<bool> cancel{false};
    std::unique_ptr<RecordSpool> spool;
    std::mutex spoolMutex;
    // Spooled records of the batch under way the back office took, not yet
    // removed (under spoolMutex).
    std::vector<RecordSpool::Claimed> delivered;
    bool spoolProblemNoted = false;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<BackOfficeRecord> queue;
    std::optional<BackOfficeRecord> inFlight;
    // Not delivered, not yet in the spool, and since when.
    std::vector<Unsettled> unsettled;
    std::chrono::steady_clock::time_point unsettledSince;
    bool finishing = false;
    bool abandoned = false;
    bool done = false;
    std::chrono::steady_clock::time_point deadline;
    std::vector<std::string> notices;
    ReusedThread worker;
    // start() found no thread: finish() runs the sender itself.
    bool sendsAtFinish = false;
    // When start() was called: the thread takes only records spooled before.
    std::int64_t startedAt = 0;
};

}  // namespace tarvik
