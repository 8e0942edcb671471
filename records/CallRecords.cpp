#include "records/CallRecords.h"

#include <chrono>
#include <cstdio>

#include "records/DeliveryVerdict.h"

namespace tarvik {

CallRecords::CallRecords(BackgroundSender::Settings settingsIn, bool background, long pendingSeconds)
    : settings(std::move(settingsIn)), background(background), pendingSeconds(pendingSeconds) {}

CallRecords::~CallRecords() { finish(); }

BackgroundSender& CallRecords::sender() {
    if (!running) running = std::make_unique<BackgroundSender>(settings);
    return *running;
}

void CallRecords::start() {
    if (finished) return;
    // Only a thread that has something to do: records of its own, or a spool to empty.
    if (background || !settings.spoolDirectory.empty()) sender().start();
}

void CallRecords::finish(long limitSeconds) {
    if (finished) return;
    finished = true;
    if (!running) return;
    running->finish(std::chrono::seconds(limitSeconds));
    for (const std::string& line : running->takeNotices()) std::fprintf(stderr, "%s\n", line.c_str());
}

void CallRecords::send(BackOfficeRecord record) {
    // After the hand-back nothing is queued: it would never be sent.
    if (finished) {
        sender().settle(record, DeliveryVerdict{DeliveryVerdict::Fate::waiting, "sent after the call ended",
                                                "stopped", 0});
        return;
    }
    sender().enqueue(std::move(record));
}

void CallRecords::settle(const BackOfficeRecord& record, const KestroAgiDataSourceResult* answer,
                         TransferFault fault) {
    const DeliveryVerdict verdict = DeliveryVerdict::judge(answer, fault);
    if (verdict.fate == DeliveryVerdict::Fate::delivered) return;
    sender().settle(record, verdict);
}

std::vector<std::string> CallRecords::takeNotices() {
    if (!running) return {};
    return running->takeNotices();
}

}  // namespace tarvik
