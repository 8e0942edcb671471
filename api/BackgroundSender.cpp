#include "api/BackgroundSender.h"

#include <utility>

#include "api/ApiRequest.h"
#include "util/SpoolObserver.h"

namespace tarvik {

namespace {

// The records' own connections, apart from those of the caller's path.
ConnectionCache& recordConnections() {
    KestroAgiRESTFul::initialiseLibrary();
    static ConnectionCache cache;
    return cache;
}

}  // namespace

BackgroundSender::BackgroundSender(Settings settingsIn, std::atomic<bool>* giveUp) : settings(std::move(settingsIn)) {
    settings.options.cache = &recordConnections();
    settings.options.giveUp = giveUp;
    if (!settings.spoolDirectory.empty()) spool = std::make_unique<RecordSpool>(settings.spoolDirectory);
}

BackgroundSender::~BackgroundSender() {
    if (worker.joinable()) finish(std::chrono::milliseconds(0));
}

void BackgroundSender::start() {
    if (worker.joinable()) return;
    worker = std::thread([this] { run(); });
}

void BackgroundSender::enqueue(BackOfficeRecord record) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        queue.push_back(std::move(record));
    }
    wake.notify_one();
}

void BackgroundSender::finish(std::chrono::milliseconds limit) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        finishing = true;
        deadline = std::chrono::steady_clock::now() + limit;
    }
    wake.notify_one();
    if (worker.joinable()) worker.join();
    // Whatever was queued without a thread to send it waits in the spool.
    std::deque<BackOfficeRecord> left;
    {
        std::lock_guard<std::mutex> guard(mutex);
        left.swap(queue);
    }
    for (const BackOfficeRecord& record : left) keep(record);
    reportWaiting();
}

void BackgroundSender::reportWaiting() {
    if (!spool || !SpoolObserver::installed()) return;
    std::lock_guard<std::mutex> guard(spoolMutex);
    SpoolObserver::report("waiting", spool->waitingCount());
}

BackgroundSender::Delivery BackgroundSender::judge(const KestroAgiDataSourceResult* result) {
    if (result == nullptr || result->getCode() >= 500) return Delivery::undelivered;
    if (result->getCode() >= 200 && result->getCode() <= 299) return Delivery::delivered;
    return Delivery::refused;
}

ApiRequest::Result BackgroundSender::transmit(const BackOfficeRecord& record) {
    return ApiRequest::sendRecord(record, settings.baseUri, settings.accessToken, settings.options);
}

bool BackgroundSender::pastDeadline() {
    std::lock_guard<std::mutex> guard(mutex);
    return finishing && std::chrono::steady_clock::now() >= deadline;
}

void BackgroundSender::run() {
    if (spool) deliverBatch(claimBatch(), nullptr);

    for (;;) {
        BackOfficeRecord record;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return finishing || !queue.empty(); });
            if (queue.empty()) break;
            if (finishing && std::chrono::steady_clock::now() >= deadline) break;
            record = std::move(queue.front());
            queue.pop_front();
        }
        deliverOwn(record);
    }
    collectSpoolNotices();
}

void BackgroundSender::deliverOwn(const BackOfficeRecord& record) {
    ApiRequest::Result result = transmit(record);
    // The same line the record's operation writes when it travels in line.
    if (!result) note(record.failureText);
    if (judge(result.get()) == Delivery::undelivered) keep(record);
}

std::vector<RecordSpool::Claimed> BackgroundSender::claimBatch() {
    std::lock_guard<std::mutex> guard(spoolMutex);
    return spool->claim(settings.spooledPerCall);
}

bool BackgroundSender::deliverBatch(const std::vector<RecordSpool::Claimed>& batch, FlushReport* report) {
    std::size_t next = 0;
    bool delivering = true;
    for (; next < batch.size() && delivering && !pastDeadline(); ++next) {
        delivering = deliverSpooled(batch[next], report);
    }
    // Records of an outage that still goes on wait for a later call.
    for (; next < batch.size(); ++next) {
        std::lock_guard<std::mutex> guard(spoolMutex);
        spool->release(batch[next]);
        if (report != nullptr) ++report->keptForLater;
    }
    return delivering;
}

bool BackgroundSender::deliverSpooled(const RecordSpool::Claimed& claimed, FlushReport* report) {
    const Delivery delivery = judge(transmit(claimed.record).get());
    std::lock_guard<std::mutex> guard(spoolMutex);
    switch (delivery) {
        case Delivery::delivered:
            spool->remove(claimed);
            if (report != nullptr) ++report->delivered;
            return true;
        case Delivery::refused:
            spool->setAside(claimed);
            if (report != nullptr) ++report->setAside;
            return true;
        case Delivery::undelivered:
        default:
            spool->release(claimed);
            if (report != nullptr) ++report->keptForLater;
            return false;
    }
}

void BackgroundSender::keep(const BackOfficeRecord& record) {
    if (!spool) return;
    std::lock_guard<std::mutex> guard(spoolMutex);
    std::string problem;
    if (!spool->store(record, problem) && !spoolProblemNoted) {
        // One line per call is enough to tell the operator.
        spoolProblemNoted = true;
        note(problem);
    }
}

BackgroundSender::FlushReport BackgroundSender::flushSpool() {
    FlushReport report;
    if (!spool) return report;
    for (;;) {
        std::vector<RecordSpool::Claimed> batch = claimBatch();
        if (batch.empty() || !deliverBatch(batch, &report)) break;
    }
    collectSpoolNotices();
    return report;
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
