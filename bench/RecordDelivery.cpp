#include "bench/RecordDelivery.h"

#include <algorithm>
#include <set>

namespace tarvik {

namespace {

// Adds what arrived of one kind of record (by type or name) to count.
void countKind(const std::map<std::string, int>& expected, const std::map<std::string, int>& found,
               DeliveryCount& count, int& excess) {
    std::set<std::string> names;
    for (const auto& entry : expected) {
        names.insert(entry.first);
    }
    for (const auto& entry : found) {
        names.insert(entry.first);
    }
    for (const std::string& name : names) {
        auto sent = expected.find(name);
        auto got = found.find(name);
        int sentCount = sent == expected.end() ? 0 : sent->second;
        int gotCount = got == found.end() ? 0 : got->second;
        count.expected += sentCount;
        count.delivered += std::min(sentCount, gotCount);
        excess += std::max(0, gotCount - sentCount);
    }
}

}  // namespace

bool RecordDelivery::check() {
    std::map<std::string, RemoteRecords> journaled;
    std::string error;
    RemoteRecordCheck::readJournal(journal_, journaled, error);  // not there yet: nothing arrived
    count_ = DeliveryCount();
    count_.calls = static_cast<int>(expected_.size());
    for (const auto& call : expected_) {
        const RemoteRecords& found = journaled[call.first];
        int excess = 0;
        countKind(call.second.loggerByType, found.loggerByType, count_, excess);
        countKind(call.second.eventsByName, found.eventsByName, count_, excess);
        // A repeated body is also an excess when both are seen; count it once.
        count_.twice += std::max(excess, found.repeated);
    }
    return count_.delivered == count_.expected;
}

}  // namespace tarvik
