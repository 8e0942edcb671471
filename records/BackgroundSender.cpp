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
    std::deque<BackOfficeRecord> left;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (abandoned) return;
        left.swap(queue);
    }
    for (const BackOfficeRecord& record : left) {
        settle(record, DeliveryVerdict{DeliveryVerdict::Fate::waiting, "not sent before the pending limit",
                                       "stopped", 0});
    }
    reportWaiting();
}

void BackgroundSender::abandon() {
    std::deque<BackOfficeRecord> left;
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (abandoned) return;
        abandoned = true;
        cancel = true;
        left.swap(queue);
        if (inFlight) left.push_front(*inFlight);
        inFlight.reset();
    }
    for (const BackOfficeRecord& record : left) keep(record, nullptr);
    if (spool) {
        std::lock_guard<std::mutex> guard(spoolMutex);
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
    {
        // A stop took the record in flight to the spool already.
        std::lock_guard<std::mutex> guard(mutex);
        if (abandoned) return;
        inFlight.reset();
    }
    settle(record, verdict);
}

void BackgroundSender::settle(const BackOfficeRecord& record, const DeliveryVerdict& verdict) {
    if (verdict.fate == DeliveryVerdict::Fate::delivered) return;
    countNotDelivered(verdict);
    if (verdict.retryAfterSeconds > 0 && spool) {
        std::lock_guard<std::mutex> guard(spoolMutex);
        spool->holdOff(verdict.retryAfterSeconds);
    }
    const bool aside = verdict.fate == DeliveryVerdict::Fate::setAside;
    const bool kept = keep(record, aside ? &verdict : nullptr);
    const char* fate = !kept ? "not kept: no usable spool"
                       : aside ? "set aside in the spool"
                               : "waiting in the spool";
    note(formatBounded("record %s (%s %s) not delivered: %s; %s", record.kind.c_str(), methodName(record.method),
                       record.path.c_str(), verdict.reason.c_str(), fate));
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

bool BackgroundSender::keep(const BackOfficeRecord& record, const DeliveryVerdict* refused) {
    if (!spool) return false;
    std::lock_guard<std::mutex> guard(spoolMutex);
    std::string problem;
    const bool kept = refused != nullptr ? spool->storeAside(record, refused->reason, problem)
                                         : spool->store(record, problem);
    if (!kept && !spoolProblemNoted) {
        // One line per call is enough to tell the operator.
        spoolProblemNoted = true;
        note(problem);
    }
    return kept;
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
