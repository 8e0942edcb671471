#pragma once

#include "bench/RemoteRecords.h"

#include <map>
#include <string>

namespace tarvik {

// How many of the expected remote log entries and events arrived.
struct DeliveryCount {
    int calls = 0;
    int expected = 0;
    int delivered = 0;  // expected records found (each counted once)
    int twice = 0;      // records found more often than sent
};

// The records some calls should have left in one simulator journal, by
// the calls' unique ids, and what the journal holds of them.
class RecordDelivery {
public:
    RecordDelivery() = default;
    explicit RecordDelivery(std::string journal) : journal_(std::move(journal)) {}

    void expect(const std::string& uniqueId, const RemoteRecords& records) { expected_[uniqueId] = records; }
    bool empty() const { return expected_.empty(); }

    // Reads the journal again; true when every expected record is there.
    bool check();
    const DeliveryCount& count() const { return count_; }

private:
    std::string journal_;
    std::map<std::string, RemoteRecords> expected_;
    DeliveryCount count_;
};

}  // namespace tarvik
