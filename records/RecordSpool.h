#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "api/BackOfficeRecord.h"
#include "records/BackOfficeIdentity.h"
#include "records/OlderSpoolFiles.h"
#include "records/SpoolDatabase.h"

namespace tarvik {

// Records a back office could not take, kept until a call or
// `--flush-spool` of a configuration naming the same back office delivers
// them. The spool directory holds one database (spool.db, SQLite in WAL
// mode, every commit synced) shared by every process and configuration
// using it: a record per row, tagged with its back office, in the order
// stored; a claimed record names the process sending it; refused records
// wait aside for the operator. Counts per back office are kept beside the
// rows, so storing, claiming, bounding and reporting cost the same however
// many records wait. Files of the older one-file-per-record form found in
// the directory are taken in once.
//
// The directory is used only when it is owned by the user this process
// runs as and not writable by group or others; the database is never
// opened through a symbolic link.
class RecordSpool {
public:
    struct Limits {
        // Each bound holds for the waiting records and, counted apart, for
        // those set aside.
        std::size_t maxRecords = 1000000;
        std::uintmax_t maxBytes = 1024ull * 1024u * 1024u;
        std::chrono::seconds maxAge{7 * 24 * 3600};
        // Never take the last share of the file system (percent).
        unsigned reservedPercent = 5;
    };

    struct Claimed {
        std::int64_t id = 0;
        BackOfficeRecord record;
    };

    // One back office's share of the spool, for the queue tools.
    struct OfficeSummary {
        BackOfficeIdentity identity;
        std::size_t waiting = 0;
        std::size_t aside = 0;
        std::int64_t oldestWritten = 0;  // nanoseconds since the epoch; 0: none waiting
        std::int64_t heldUntil = 0;      // seconds since the epoch; 0: not held
    };

    RecordSpool(std::string directory, BackOfficeIdentity identity);
    RecordSpool(std::string directory, BackOfficeIdentity identity, Limits limits);

    const std::string& directory() const { return directory_; }
    const BackOfficeIdentity& office() const { return identity; }

    // Whether records may be kept here; `create` makes a missing directory
    // (0700; its parents are the operator's) and database. Checked once; a
    // reason is given when it may not.
    bool usable(bool create, std::string& problem);

    // Keeps the record, first dropping the oldest when a bound is reached.
    // False, with the reason in `problem`, when it cannot.
    bool store(const BackOfficeRecord& record, std::string& problem);
    // A record to keep, aside (with why the back office refused it) or waiting.
    struct ToKeep {
        BackOfficeRecord record;
        bool aside = false;
        std::string refused;
    };
    // Keeps them all in one synced commit: records not delivered together
    // share one write to the disk. Refused ones that cannot be set aside
    // wait, marked, as storeAside says. False when none could be kept.
    bool keep(std::vector<ToKeep> batch, std::string& problem);
    // Keeps a record the back office refused aside. When that cannot be
    // done it is kept waiting, marked so that it is set aside before it
    // could ever be sent again; false only when it could not be kept at all.
    bool storeAside(const BackOfficeRecord& record, const std::string& why, std::string& problem);

    // Takes up to `count` of this back office's oldest records for this
    // process (none while the back office asked to be left alone). Records
    // past their age are dropped, rows that are no record operation set
    // aside. `writtenBefore` (a time as timeWrittenNow gives; 0: any) leaves
    // out records stored since: a call takes earlier calls' records, never
    // the ones it has just spooled itself.
    std::vector<Claimed> claim(std::size_t count, std::int64_t writtenBefore = 0);
    static std::int64_t timeWrittenNow();
    // The record waits again for a later try.
    void release(const Claimed& claimed);
    // Delivered.
    void remove(const Claimed& claimed);
    // Several at once, each list in one synced commit.
    void remove(const std::vector<Claimed>& claimed);
    void release(const std::vector<Claimed>& claimed);
    // Refused by the back office: kept aside, never sent again. False when
    // that cannot be written: the record then waits, is not claimed again
    // by this object, and is reported.
    bool setAside(const Claimed& claimed, const std::string& why);
    // Gives back every claim this process holds (it is being stopped).
    void releaseAll();

    // The back office answered "retry after `seconds`": no record of it is
    // sent from this spool before then, by any process.
    void holdOff(long seconds);
    bool heldOff();

    // What this object dropped, set aside, took in or could not set aside
    // since the last call, one line each; empty when nothing happened.
    std::vector<std::string> takeNotices();

    // This back office's records waiting (claimed ones included) and aside.
    std::size_t waitingCount();
    std::size_t asideCount();
    // Nanoseconds since the epoch of its oldest waiting record; 0: none.
    std::int64_t oldestWaiting();
    // Records that could not be set aside in this object's life.
    std::size_t stuckCount() const { return stuck.size(); }

    // Queue tools: every back office with records here; this back office's
    // aside records back in the queue; records of another address (with
    // this plugin driver and id) moved to this back office; every record of
    // the back offices at an address removed. Each returns how many.
    std::vector<OfficeSummary> offices();
    std::size_t requeueAside();
    std::size_t moveFrom(const std::string& address);
    std::size_t removeAddress(const std::string& address);

private:
    bool open(bool create, std::string& problem);
    // Usable and holding a database to read (made by anyone, any time).
    bool readable();
    // This back office's row id; 0 when it has none (and `create` is off).
    std::int64_t officeId(bool create);
    // Makes room for `records` more of `bytes` among the waiting (aside false) or aside
    // records, dropping the oldest; false when the file system is nearly
    // full and nothing could be dropped. Inside a transaction.
    bool makeRoom(bool aside, std::int64_t records, std::int64_t bytes, std::string& problem);
    std::size_t dropOldest(bool aside, std::size_t records, std::int64_t bytes, std::int64_t olderThan);
    bool fileSystemLow();
    bool insert(const std::vector<ToKeep>& batch, std::string& problem);
    void giveBackOrphanedClaims();
    void forgetClaimerWhenIdle();
    std::size_t count(bool aside);
    void importOlderForm();
    void noteNotRecords(std::size_t count);

    std::string directory_;
    BackOfficeIdentity identity;
    Limits limits;
    SpoolDatabase database;
    std::int64_t office_ = 0;
    int usability = -1;  // unknown, 0 no, 1 yes
    std::string unusable;
    std::set<std::int64_t> stuck;
    std::size_t held = 0;  // claims this object holds
    std::size_t dropped = 0;
    std::size_t setAsideCount = 0;
    std::size_t notOperations = 0;
    std::size_t imported = 0;
    std::size_t importedAside = 0;
    std::size_t notRecords = 0;
    std::vector<std::string> pending;
};

}  // namespace tarvik
