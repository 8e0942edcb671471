#include "records/BackgroundSender.h"

#include <cstdio>
#include <utility>

#include "api/ApiRequest.h"
#include "api/ConnectionCache.h"
#include "records/StopSignal.h"
#include "util/BoundedFormat.h"
#include "util/SpoolObserver.h"

namespace tarvik {

namespace {

// The records' own connections, apart from those of the caller's path.
ConnectionCache& recordConnections() {
    KestroAgiRESTFul::initialiseLibrary();
    static ConnectionCache cache;
    return cache;
}

const char* methodName(int method) {
    switch (method) {
        case KestroAgiRESTFul::METHOD_GET: return "GET";
        case KestroAgiRESTFul::METHOD_POST: return "POST";
        case KestroAgiRESTFul::METHOD_PUT: return "PUT";
        case KestroAgiRESTFul::METHOD_DELETE: return "DELETE";
        default: return "?";
    }
}

// For a service's metrics: a record the back office did not take, by reason.
void countNotDelivered(const DeliveryVerdict& verdict) {
    SpoolObserver::report(formatBounded("not-delivered-%s", verdict.metric).c_str(), 1);
}

// How long a record the back office did not take may wait in memory for
// those tried right behind it, to share their commit to the spool.
constexpr std::chrono::milliseconds kSharedCommitWindow{100};

}  // namespace

BackgroundSender::BackgroundSender(Settings settingsIn) : settings(std::move(settingsIn)) {
    settings.options.cache = &recordConnections();
    settings.options.giveUp = &giveUp;
    settings.options.cancel = &cancel;
    if (!settings.spoolDirectory.empty()) {
        spool = std::make_unique<RecordSpool>(settings.spoolDirectory, settings.identity, settings.limits);
    }
}

BackgroundSender::~BackgroundSender() {
    if (worker.joinable() || sendsAtFinish) finish(std::chrono::milliseconds(0));
    StopSignal::forget(this);
}

void BackgroundSender::start() {
    if (worker.joinable() || sendsAtFinish) return;
    StopSignal::watch(this);
    startedAt = RecordSpool::timeWrittenNow();
    if (worker.start([this] { run(); })) return;
    // No thread for the records (the host is out of tasks): they wait here
    // and finish() sends them on its own thread, after the hand-back, so
    // the caller waits for none of them and a stop still spools them.
    sendsAtFinish = true;
    std::fputs("could not start the records' sender thread: the call's records are sent after the hand-back\n",
               stderr);
}

void BackgroundSender::enqueue(BackOfficeRecord record) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        queue.push_back(std::move(record));
    }
    wake.notify_all();
}

void BackgroundSender::finish(std::chrono::milliseconds limit) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        finishing = true;
        deadline = std::chrono::steady_clock::now() + limit;
        wake.notify_all();
        // At the limit a transfer still under way is cut; libcurl notices
        // within about a second, and the thread then spools what is left.
        if (worker.joinable() && !wake.wait_until(lock, deadline, [this] { return done; })) cancel = true;
    }
    if (worker.joinable()) worker.join();
    if (sendsAtFinish) {
        sendsAtFinish = false;
        run();
    }
    // Whatever was queued without a thread to send it waits in the spool.
    std::vector<Unsettled> left;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (abandoned) return;
        left.swap(unsettled);
        for (BackOfficeRecord& record : queue) {
            const DeliveryVerdict verdict{DeliveryVerdict::Fate::waiting, "not sent before the pending limit",
                                          "stopped", 0};
            countNotDelivered(verdict);
            left.push_back(Unsettled{std::move(record), verdict});
        }
        queue.clear();
    }
    keepAll(left);
    reportWaiting();
}

void BackgroundSender::abandon() {
    std::vector<Unsettled> left;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (abandoned) return;
        abandoned = true;
        cancel = true;
        left.swap(unsettled);
        const DeliveryVerdict stopped{DeliveryVerdict::Fate::waiting, "stopped", "stopped", 0};
        if (inFlight) left.push_back(Unsettled{*inFlight, stopped});
        inFlight.reset();
        for (BackOfficeRecord& record : queue) left.push_back(Unsettled{std::move(record), stopped});
        queue.clear();
    }
    if (spool) {
        // Waits for a commit of the sender's under way, so the process ends
        // only once that is written too.
        std::lock_guard<std::mutex> guard(spoolMutex);
        keepLocked(left, false);
        // Delivered ones must not be given back: they would be sent again.
        spool->remove(delivered);
        delivered.clear();
        spool->releaseAll();
    }
}

void BackgroundSender::reportWaiting() {
    if (!spool || !SpoolObserver::installed()) return;
    std::lock_guard<std::mutex> guard(spoolMutex);
    const std::int64_t oldest = spool->oldestWaiting();
    const double age = oldest > 0 ? static_cast<double>(RecordSpool::timeWrittenNow() - oldest) / 1e9 : 0.0;
    const std::size_t waiting = spool->waitingCount();
    SpoolObserver::report("waiting", waiting);
    SpoolObserver::reportOffice(settings.identity.address().c_str(), waiting, spool->asideCount(), age > 0 ? age : 0.0);
}

ApiRequest::Result BackgroundSender::transmit(const BackOfficeRecord& record, TransferFault& fault) {
    KestroAgiRESTFul::TransferOptions options = settings.options;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (finishing) options.deadline = deadline;
    }
    fault = TransferFault::none;
    options.fault = &fault;
    return ApiRequest::sendRecord(record, settings.baseUri, settings.accessToken, options);
}

bool BackgroundSender::pastDeadline() {
    std::lock_guard<std::mutex> guard(mutex);
    return abandoned || (finishing && std::chrono::steady_clock::now() >= deadline);
}

void BackgroundSender::run() {
    if (spool) deliverBatch(claimBatch(startedAt), nullptr);

    for (;;) {
        keepUnsettled(true);
        BackOfficeRecord record;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return finishing || abandoned || !queue.empty(); });
            if (abandoned || queue.empty()) break;
            if (finishing && std::chrono::steady_clock::now() >= deadline) break;
            record = std::move(queue.front());
            queue.pop_front();
            inFlight = record;
        }
        deliverOwn(record);
    }
    keepUnsettled(false);
    collectSpoolNotices();
    std::lock_guard<std::mutex> guard(mutex);
    done = true;
    wake.notify_all();
}

void BackgroundSender::deliverOwn(const BackOfficeRecord& record) {
    DeliveryVerdict verdict;
    bool heldOff = false;
    if (spool) {
        std::lock_guard<std::mutex> guard(spoolMutex);
        heldOff = spool->heldOff();
    }
    if (heldOff) {
        verdict = DeliveryVerdict{DeliveryVerdict::Fate::waiting, "the back office asked to retry later",
                                  "retry-later", 0};
    } else {
        TransferFault fault = TransferFault::none;
        ApiRequest::Result result = transmit(record, fault);
        verdict = DeliveryVerdict::judge(result.get(), fault);
    }
    if (verdict.fate != DeliveryVerdict::Fate::delivered) notDelivered(verdict);
    // A stop took the record in flight to the spool already.
    std::lock_guard<std::mutex> guard(mutex);
    if (abandoned) return;
    inFlight.reset();
    if (verdict.fate == DeliveryVerdict::Fate::delivered) return;
    if (unsettled.empty()) unsettledSince = std::chrono::steady_clock::now();
    unsettled.push_back(Unsettled{record, verdict});
}

void BackgroundSender::settle(const BackOfficeRecord& record, const DeliveryVerdict& verdict) {
    if (verdict.fate == DeliveryVerdict::Fate::delivered) return;
    notDelivered(verdict);
    keepAll({Unsettled{record, verdict}});
}

void BackgroundSender::notDelivered(const DeliveryVerdict& verdict) {
    countNotDelivered(verdict);
    if (verdict.retryAfterSeconds > 0 && spool) {
        std::lock_guard<std::mutex> guard(spoolMutex);
        spool->holdOff(verdict.retryAfterSeconds);
    }
}

void BackgroundSender::keepUnsettled(bool onlyWhenDue) {
    // Held from the take to the commit: a stop meanwhile waits for it.
    std::lock_guard<std::mutex> spoolGuard(spoolMutex);
    std::vector<Unsettled> batch;
    {
        std::lock_guard<std::mutex> guard(mutex);
        const bool due = queue.empty() || finishing ||
                         std::chrono::steady_clock::now() - unsettledSince >= kSharedCommitWindow;
        if (unsettled.empty() || (onlyWhenDue && !due)) return;
        batch.swap(unsettled);
    }
    keepLocked(batch, true);
}

void BackgroundSender::keepAll(const std::vector<Unsettled>& batch) {
    std::lock_guard<std::mutex> guard(spoolMutex);
    keepLocked(batch, true);
}

std::vector<RecordSpool::Claimed> BackgroundSender::claimBatch(std::int64_t writtenBefore) {
    std::lock_guard<std::mutex> guard(spoolMutex);
    return spool->claim(settings.spooledPerCall, writtenBefore);
}

bool BackgroundSender::deliverBatch(const std::vector<RecordSpool::Claimed>& batch, FlushReport* report) {
    std::size_t next = 0;
    bool delivering = true;
    for (; next < batch.size() && delivering && !pastDeadline(); ++next) {
        delivering = deliverSpooled(batch[next], report);
    }
    std::lock_guard<std::mutex> guard(spoolMutex);
    // The batch's deliveries are removed in one synced commit: until then
    // they stay claimed by this process, so nobody sends them again.
    spool->remove(delivered);
    delivered.clear();
    // Records of an outage that still goes on wait for a later call.
    const std::vector<RecordSpool::Claimed> left(batch.begin() + static_cast<std::ptrdiff_t>(next), batch.end());
    spool->release(left);
    if (report != nullptr) report->keptForLater += left.size();
    return delivering;
}

bool BackgroundSender::deliverSpooled(const RecordSpool::Claimed& claimed, FlushReport* report) {
    TransferFault fault = TransferFault::none;
    ApiRequest::Result result = transmit(claimed.record, fault);
    const DeliveryVerdict verdict = DeliveryVerdict::judge(result.get(), fault);
    std::lock_guard<std::mutex> guard(spoolMutex);
    switch (verdict.fate) {
        case DeliveryVerdict::Fate::delivered:
            delivered.push_back(claimed);
            if (report != nullptr) ++report->delivered;
            return true;
        case DeliveryVerdict::Fate::setAside:
            countNotDelivered(verdict);
            // One that cannot be set aside is counted among the stuck ones.
            if (spool->setAside(claimed, verdict.reason) && report != nullptr) ++report->setAside;
            return true;
        case DeliveryVerdict::Fate::waiting:
        default:
            countNotDelivered(verdict);
            spool->holdOff(verdict.retryAfterSeconds);
            spool->release(claimed);
            if (report != nullptr) ++report->keptForLater;
            return false;
    }
}

void BackgroundSender::keepLocked(const std::vector<Unsettled>& batch, bool withLines) {
    if (batch.empty()) return;
    std::vector<RecordSpool::ToKeep> toKeep;
    for (const Unsettled& entry : batch) {
        const bool aside = entry.verdict.fate == DeliveryVerdict::Fate::setAside;
        toKeep.push_back(RecordSpool::ToKeep{entry.record, aside, aside ? entry.verdict.reason : std::string()});
    }
    std::string problem = "no spool directory";
    const bool kept = spool && spool->keep(std::move(toKeep), problem);
    if (!kept && spool && !spoolProblemNoted) {
        // One line per call is enough to tell the operator.
        spoolProblemNoted = true;
        note(problem);
    }
    if (!withLines) return;
    for (const Unsettled& entry : batch) {
        const char* fate = !kept ? "not kept: no usable spool"
                           : entry.verdict.fate == DeliveryVerdict::Fate::setAside ? "set aside in the spool"
                                                                                  : "waiting in the spool";
        note(formatBounded("record %s (%s %s) not delivered: %s; %s", entry.record.kind.c_str(),
                           methodName(entry.record.method), entry.record.path.c_str(), entry.verdict.reason.c_str(),
                           fate));
    }
}

bool BackgroundSender::spoolUsable(std::string& problem) {
    if (!spool) {
        problem = "no spool directory";
        return false;
    }
    std::lock_guard<std::mutex> guard(spoolMutex);
    return spool->usable(false, problem);
}

BackgroundSender::FlushReport BackgroundSender::flushSpool() {
    FlushReport report;
    if (!spool) return report;
    for (;;) {
        std::vector<RecordSpool::Claimed> batch = claimBatch(0);
        if (batch.empty() || !deliverBatch(batch, &report)) break;
    }
    {
        std::lock_guard<std::mutex> guard(spoolMutex);
        report.stuck = spool->stuckCount();
    }
    collectSpoolNotices();
    return report;
}

std::size_t BackgroundSender::waitingInSpool() {
    if (!spool) return 0;
    std::lock_guard<std::mutex> guard(spoolMutex);
    return spool->waitingCount();
}

void BackgroundSender::note(const std::string& line) {
    std::lock_guard<std::mutex> guard(mutex);
    notices.push_back(line);
}

void BackgroundSender::collectSpoolNotices() {
    if (!spool) return;
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> guard(spoolMutex);
        lines = spool->takeNotices();
    }
    for (const std::string& line : lines) note(line);
}

std::vector<std::string> BackgroundSender::takeNotices() {
    collectSpoolNotices();
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<std::string> taken;
    taken.swap(notices);
    return taken;
}

}  // namespace tarvik
