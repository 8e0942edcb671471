#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api/BackOfficeRecord.h"

namespace tarvik {

// Records the back office could not take, one file each, kept until one
// call or `--flush-spool` delivers them. Many processes share a spool:
//   NAME.rec              a record waiting (written whole, then renamed in)
//   .tmp-PID-N            a record being written; never read
//   NAME.rec.claimed-PID  a record one process is sending; nobody else may
//   aside/NAME.rec        a record the back office refused, or a file that is
//                         no record: kept for the operator, never sent
// Names begin with the time written, so the oldest come first.
class RecordSpool {
public:
    struct Limits {
        std::size_t maxRecords = 10000;
        std::uintmax_t maxBytes = 64u * 1024u * 1024u;
        std::chrono::seconds maxAge{7 * 24 * 3600};
    };

    struct Claimed {
        std::string claimedPath;
        std::string waitingPath;
        BackOfficeRecord record;
    };

    explicit RecordSpool(std::string directory);
    RecordSpool(std::string directory, Limits limits);

    const std::string& directory() const { return directory_; }

    // Writes the record (mode 0600), first dropping the oldest records when
    // the spool is full. False, with the reason in `problem`, when the
    // directory cannot be written.
    bool store(const BackOfficeRecord& record, std::string& problem);

    // Takes up to `count` of the oldest records for this process. Records
    // past their age are dropped, files that are no record set aside; claims
    // of processes that are gone are given back first.
    std::vector<Claimed> claim(std::size_t count);
    // The record waits again for a later try.
    void release(const Claimed& claimed);
    // Delivered.
    void remove(const Claimed& claimed);
    // Refused by the back office: kept aside, never sent again.
    void setAside(const Claimed& claimed);

    // What this object dropped or set aside since the last call, as one line
    // each ("spool DIR: dropped 3 records (full or too old)"); empty when
    // nothing happened.
    std::vector<std::string> takeNotices();

    // Records waiting (not claimed), for reports.
    std::size_t waitingCount() const;

private:
    struct Entry {
        std::string name;
        std::uintmax_t bytes = 0;
        std::chrono::system_clock::time_point written;
    };
    std::vector<Entry> waitingEntries() const;
    void giveBackOrphanedClaims();
    void moveAside(const std::string& path, const std::string& name);
    void makeRoomFor(std::uintmax_t bytes);

    std::string directory_;
    Limits limits;
    std::size_t dropped = 0;
    std::size_t setAsideCount = 0;
};

}  // namespace tarvik
