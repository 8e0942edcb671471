#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "api/BackOfficeRecord.h"
#include "records/BackOfficeIdentity.h"

namespace tarvik {

// Records a back office could not take, one file each, kept until a call or
// `--flush-spool` of a configuration naming the same back office delivers
// them. Many processes and configurations share a spool:
//   TIME-PID-N.TAG.rec        a record of the back office whose identity tag
//                             is TAG (written whole, synced, then renamed in)
//   TIME-PID-N.rec            a record of an older form, naming no back
//                             office: set aside, never guessed
//   .tmp-...                  a record being written; never read, removed
//                             when a writer left it behind long ago
//   NAME.claimed-PID-START    a record one process is sending; nobody else may
//   .hold-TAG                 until when TAG's back office asked to be left alone
//   aside/NAME                refused by the back office, or no record: kept
//                             for the operator, never sent
// Names begin with the time written, so the oldest come first. The
// directory is used only when it is owned by the user this process runs as
// and not writable by group or others; nothing in it is followed through a
// symbolic link and only regular files are read.
class RecordSpool {
public:
    struct Limits {
        std::size_t maxRecords = 10000;
        std::uintmax_t maxBytes = 64u * 1024u * 1024u;
        std::chrono::seconds maxAge{7 * 24 * 3600};
        // A temporary file older than this was left by a writer that died.
        std::chrono::seconds leftoverAge{600};
    };

    struct Claimed {
        std::string claimedPath;
        std::string waitingPath;
        BackOfficeRecord record;
    };

    RecordSpool(std::string directory, BackOfficeIdentity identity);
    RecordSpool(std::string directory, BackOfficeIdentity identity, Limits limits);

    const std::string& directory() const { return directory_; }

    // Whether records may be kept here; `create` makes a missing directory
    // (0700; its parents are the operator's). Checked once; a reason is
    // given when it may not.
    bool usable(bool create, std::string& problem);

    // Writes the record (mode 0600), first dropping the oldest records when
    // the spool is full. False, with the reason in `problem`, when it cannot.
    bool store(const BackOfficeRecord& record, std::string& problem);
    // Writes a record the back office refused straight into aside/.
    bool storeAside(const BackOfficeRecord& record, std::string& problem);

    // Takes up to `count` of this back office's oldest records for this
    // process (none while the back office asked to be left alone). Records
    // past their age are dropped; files that are no record, records of the
    // older form and records naming no record operation are set aside.
    // `writtenBefore` (a time written, as names begin; empty: any) leaves
    // out records written since: a call takes earlier calls' records, never
    // the ones it has just spooled itself.
    std::vector<Claimed> claim(std::size_t count, const std::string& writtenBefore = std::string());
    // The name prefix of a record written now, for writtenBefore.
    static std::string timeWrittenNow();
    // The record waits again for a later try.
    void release(const Claimed& claimed);
    // Delivered.
    void remove(const Claimed& claimed);
    // Refused by the back office: kept aside, never sent again. False when
    // it cannot be moved there: it then waits where it was, is not claimed
    // again by this object, and is reported.
    bool setAside(const Claimed& claimed);
    // Gives back every claim this process holds (it is being stopped).
    void releaseAll();

    // The back office answered "retry after `seconds`": no record of it is
    // sent from this spool before then, by any process.
    void holdOff(long seconds);
    bool heldOff();

    // What this object dropped, set aside or could not set aside since the
    // last call, one line each; empty when nothing happened.
    std::vector<std::string> takeNotices();

    // This back office's records waiting (not claimed).
    std::size_t waitingCount() const;
    // Records that could not be set aside in this object's life.
    std::size_t stuckCount() const { return stuck.size(); }

private:
    struct Entry {
        std::string name;
        std::uintmax_t bytes = 0;
        std::chrono::system_clock::time_point written;
        bool mine = false;  // this back office's, or of the older form
    };
    std::vector<Entry> waitingEntries() const;
    void giveBackOrphanedClaims();
    void removeLeftovers();
    // Moves a claimed file into aside/; false (and the file waits again)
    // when it cannot.
    bool moveAside(const std::string& claimedPath, const std::string& waitingPath, const char* why);
    void makeRoomFor(std::uintmax_t bytes);
    std::string holdPath() const;
    // aside/, made when missing; false when it is not this spool's own folder.
    bool asideFolder(std::string& path) const;

    std::string directory_;
    BackOfficeIdentity identity;
    std::string waitingSuffix;
    Limits limits;
    int usability = -1;  // unknown, 0 no, 1 yes
    std::string unusable;
    std::set<std::string> stuck;
    std::set<std::string> foreign;  // named like ours, but another back office's
    std::size_t dropped = 0;
    std::size_t leftovers = 0;
    std::size_t setAsideCount = 0;
    std::size_t olderForm = 0;
    std::size_t notOperations = 0;
    std::vector<std::string> pending;
};

}  // namespace tarvik
