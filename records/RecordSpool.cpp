#include "records/RecordSpool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "records/ClaimMarker.h"
#include "records/OlderSpoolFiles.h"
#include "records/RecordFile.h"
#include "util/BoundedFormat.h"
#include "util/SpoolObserver.h"

namespace tarvik {

namespace {

const char* const kDatabaseName = "spool.db";
// Seconds a back office may ask to be left alone at most.
constexpr long kLongestHold = 3600;
// Rows looked at per step when making room or dropping old records.
constexpr int kRoomStep = 64;

using Statement = SpoolDatabase::Statement;
using Transaction = SpoolDatabase::Transaction;

std::int64_t nowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace

RecordSpool::RecordSpool(std::string directory, BackOfficeIdentity identity)
    : RecordSpool(std::move(directory), std::move(identity), Limits()) {}

RecordSpool::RecordSpool(std::string directory, BackOfficeIdentity identityIn, Limits limits)
    : directory_(std::move(directory)), identity(std::move(identityIn)), limits(limits) {}

std::int64_t RecordSpool::timeWrittenNow() {
    return static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

bool RecordSpool::usable(bool create, std::string& problem) {
    if (usability >= 0) {
        if (usability == 0) problem = unusable;
        return usability == 1;
    }
    struct stat facts {};
    if (::stat(directory_.c_str(), &facts) != 0 && errno == ENOENT && create) ::mkdir(directory_.c_str(), 0700);
    int missing = 0;
    if (::stat(directory_.c_str(), &facts) != 0) {
        missing = errno;
        problem = formatBounded("spool directory %s cannot be used: %s", directory_.c_str(), std::strerror(missing));
    } else if (!S_ISDIR(facts.st_mode)) {
        problem = formatBounded("spool directory %s cannot be used: not a directory", directory_.c_str());
    } else if (facts.st_uid != ::geteuid()) {
        problem = formatBounded("spool directory %s is not used: it belongs to uid %u, not to uid %u that runs this "
                                "program (records are written only where nobody else can change them)",
                                directory_.c_str(), static_cast<unsigned>(facts.st_uid),
                                static_cast<unsigned>(::geteuid()));
    } else if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        problem = formatBounded("spool directory %s is not used: it is writable by group or others (mode %03o)",
                                directory_.c_str(), static_cast<unsigned>(facts.st_mode & 0777));
    } else if (open(create, problem)) {
        usability = 1;
        return true;
    } else {
        // A database that cannot be made now may be made later.
        return false;
    }
    // A directory that cannot be created now may be made later: only a
    // directory that exists and is wrong is refused for good.
    if (missing == 0) {
        usability = 0;
        unusable = problem;
    }
    return false;
}

bool RecordSpool::readable() {
    std::string problem;
    // Another process may have made the database since this one looked.
    return usable(false, problem) && (database.isOpen() || (open(false, problem) && database.isOpen()));
}

bool RecordSpool::open(bool create, std::string& problem) {
    if (database.isOpen()) return true;
    const std::string path = directory_ + "/" + kDatabaseName;
    struct stat facts {};
    if (!create && ::lstat(path.c_str(), &facts) != 0 && errno == ENOENT && !OlderSpoolFiles::present(directory_)) {
        // Nothing was ever stored here: a reader has nothing to open.
        problem.clear();
        return true;
    }
    // Records are the operator's business alone: the database (and the log
    // files SQLite makes with its mode) readable by this user only.
    const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made >= 0) ::close(made);
    std::string why;
    if (!database.open(path, true, why)) {
        problem = formatBounded("spool directory %s cannot be used: %s", directory_.c_str(), why.c_str());
        return false;
    }
    importOlderForm();
    return true;
}

void RecordSpool::noteNotRecords(std::size_t count) {
    if (count == 0) return;
    notRecords += count;
    SpoolObserver::report("set-aside", count);
}

void RecordSpool::importOlderForm() {
    if (!OlderSpoolFiles::present(directory_)) return;
    // Under the write lock from the first rename on: a call claiming at the
    // same time waits until the files are rows, instead of missing them.
    Transaction transaction(database);
    if (!transaction.begun()) return;
    OlderSpoolFiles::Scan older = OlderSpoolFiles::scan(directory_);
    noteNotRecords(older.notRecords);
    if (older.records.empty()) return;
    // Oldest first, so they keep their place in the queue.
    std::sort(older.records.begin(), older.records.end(),
              [](const OlderSpoolFiles::Found& a, const OlderSpoolFiles::Found& b) { return a.order < b.order; });
    Statement office(database,
                     "INSERT INTO offices(address, driver, plugin) VALUES(?1, ?2, ?3)"
                     " ON CONFLICT(address, driver, plugin) DO UPDATE SET heldUntil = heldUntil RETURNING id");
    Statement add(database,
                  "INSERT INTO records(office, aside, written, bytes, reason, record)"
                  " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    std::size_t records = 0;
    std::size_t aside = 0;
    for (const OlderSpoolFiles::Found& found : older.records) {
        office.reset();
        office.bind(1, found.identity.address()).bind(2, found.identity.pluginDriver()).bind(3, found.identity.pluginId());
        if (!office.step()) return;
        const std::int64_t id = office.integer(0);
        office.run();
        const std::string text = RecordFile::write(found.record, found.identity);
        add.reset();
        add.bind(1, id).bind(2, found.aside ? 1 : 0).bind(3, found.written);
        add.bind(4, static_cast<std::int64_t>(text.size()));
        add.bind(5, std::string(found.aside ? "set aside by an earlier release" : ""));
        add.bind(6, text);
        if (!add.run()) return;
        ++(found.aside ? aside : records);
    }
    if (!transaction.commit()) return;
    OlderSpoolFiles::removeTaken(older.records);
    imported += records;
    importedAside += aside;
}

std::int64_t RecordSpool::officeId(bool create) {
    if (office_ != 0 || !database.isOpen()) return office_;
    Statement find(database, "SELECT id FROM offices WHERE address = ?1 AND driver = ?2 AND plugin = ?3");
    find.bind(1, identity.address()).bind(2, identity.pluginDriver()).bind(3, identity.pluginId());
    if (find.step()) {
        office_ = find.integer(0);
    } else if (create) {
        Statement add(database, "INSERT INTO offices(address, driver, plugin) VALUES(?1, ?2, ?3)");
        add.bind(1, identity.address()).bind(2, identity.pluginDriver()).bind(3, identity.pluginId());
        if (add.run()) office_ = database.lastInsertId();
    }
    return office_;
}

bool RecordSpool::fileSystemLow() {
    struct statvfs facts {};
    if (::statvfs(directory_.c_str(), &facts) != 0 || facts.f_blocks == 0) return false;
    const unsigned long long total = static_cast<unsigned long long>(facts.f_blocks);
    const unsigned long long free = static_cast<unsigned long long>(facts.f_bavail);
    return free * 100 < total * limits.reservedPercent;
}

std::size_t RecordSpool::dropOldest(bool aside, std::size_t records, std::int64_t bytes, std::int64_t olderThan) {
    // Claimed records are being sent right now: they are not dropped.
    Statement oldest(database,
                     "SELECT id, bytes, written FROM records WHERE aside = ?1 AND claimer IS NULL ORDER BY id LIMIT ?2");
    Statement drop(database, "DELETE FROM records WHERE id = ?1");
    std::size_t count = 0;
    for (bool more = true; more;) {
        oldest.reset();
        oldest.bind(1, aside ? 1 : 0).bind(2, kRoomStep);
        std::vector<std::int64_t> victims;
        int rows = 0;
        more = false;
        while (oldest.step()) {
            ++rows;
            const bool needed = records > 0 || bytes > 0;
            // Records are in the order stored, so the first young one ends
            // the search for old ones.
            const bool tooOld = olderThan > 0 && oldest.integer(2) < olderThan;
            if (!needed && !tooOld) break;
            victims.push_back(oldest.integer(0));
            if (records > 0) --records;
            bytes -= oldest.integer(1);
        }
        for (const std::int64_t id : victims) {
            drop.reset();
            if (drop.bind(1, id).run()) ++count;
        }
        more = rows == kRoomStep && static_cast<int>(victims.size()) == rows;
    }
    if (count > 0) {
        dropped += count;
        SpoolObserver::report("dropped", count);
    }
    return count;
}

bool RecordSpool::makeRoom(bool aside, std::int64_t records, std::int64_t bytes, std::string& problem) {
    Statement totals(database, "SELECT IFNULL(SUM(records), 0), IFNULL(SUM(bytes), 0) FROM counts WHERE aside = ?1");
    totals.bind(1, aside ? 1 : 0);
    const bool read = totals.step();
    const std::int64_t stored = read ? totals.integer(0) : 0;
    const std::int64_t storedBytes = read ? totals.integer(1) : 0;
    const std::int64_t maxRecords = static_cast<std::int64_t>(limits.maxRecords);
    const std::int64_t maxBytes = static_cast<std::int64_t>(limits.maxBytes);
    const std::size_t overCount =
        stored + records > maxRecords ? static_cast<std::size_t>(stored + records - maxRecords) : 0;
    std::int64_t overBytes = storedBytes + bytes > maxBytes ? storedBytes + bytes - maxBytes : 0;
    // On a nearly full file system the new records take the place of old
    // ones, so the file does not grow.
    const bool low = fileSystemLow();
    if (low) overBytes = std::max(overBytes, bytes);
    const std::int64_t cutoff = timeWrittenNow() - static_cast<std::int64_t>(limits.maxAge.count()) * 1000000000;
    const std::size_t freed = dropOldest(aside, overCount, overBytes, cutoff);
    if (low && freed == 0) {
        problem = formatBounded("spool directory %s: the file system has less than %u%% free; the record is not kept",
                                directory_.c_str(), limits.reservedPercent);
        return false;
    }
    return true;
}

bool RecordSpool::insert(const std::vector<ToKeep>& batch, std::string& problem) {
    if (!usable(true, problem) || !open(true, problem)) return false;
    std::vector<std::string> texts;
    std::int64_t count[2] = {0, 0};
    std::int64_t bytes[2] = {0, 0};
    for (const ToKeep& entry : batch) {
        texts.push_back(RecordFile::write(entry.record, identity));
        count[entry.aside ? 1 : 0] += 1;
        bytes[entry.aside ? 1 : 0] += static_cast<std::int64_t>(texts.back().size());
    }
    Transaction transaction(database);
    bool stored = transaction.begun() && officeId(true) != 0;
    for (const bool aside : {false, true}) {
        const int kind = aside ? 1 : 0;
        if (stored && count[kind] > 0) stored = makeRoom(aside, count[kind], bytes[kind], problem);
    }
    Statement add(database,
                  "INSERT INTO records(office, aside, written, bytes, reason, refused, record)"
                  " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (std::size_t index = 0; stored && index < batch.size(); ++index) {
        const ToKeep& entry = batch[index];
        add.reset();
        add.bind(1, office_).bind(2, entry.aside ? 1 : 0).bind(3, timeWrittenNow());
        add.bind(4, static_cast<std::int64_t>(texts[index].size()));
        add.bind(5, entry.aside ? entry.refused : std::string());
        if (!entry.aside && !entry.refused.empty()) add.bind(6, entry.refused);
        add.bind(7, texts[index]);
        stored = add.run();
    }
    stored = stored && transaction.commit();
    if (!stored) {
        if (problem.empty()) {
            problem = formatBounded("spool directory %s cannot be written: %s", directory_.c_str(),
                                    database.error().c_str());
        }
        // Rows of a failed transaction were never there; the office id
        // may not be either.
        office_ = 0;
        return false;
    }
    if (count[0] > 0) SpoolObserver::report("stored", static_cast<std::size_t>(count[0]));
    if (count[1] > 0) SpoolObserver::report("set-aside", static_cast<std::size_t>(count[1]));
    return true;
}

bool RecordSpool::store(const BackOfficeRecord& record, std::string& problem) {
    return keep({ToKeep{record, false, std::string()}}, problem);
}

bool RecordSpool::storeAside(const BackOfficeRecord& record, const std::string& why, std::string& problem) {
    return keep({ToKeep{record, true, why}}, problem);
}

bool RecordSpool::keep(std::vector<ToKeep> batch, std::string& problem) {
    if (batch.empty() || insert(batch, problem)) return true;
    bool anyAside = false;
    for (ToKeep& entry : batch) {
        if (!entry.aside) continue;
        // Refused ones then wait, marked, and are set aside before they
        // could ever be sent again.
        anyAside = true;
        entry.aside = false;
        if (entry.refused.empty()) entry.refused = "refused";
    }
    std::string second;
    if (!anyAside || !insert(batch, second)) return false;
    pending.push_back(formatBounded("%s; it waits in the spool and is set aside before it could be sent again",
                                    problem.c_str()));
    problem.clear();
    return true;
}

void RecordSpool::giveBackOrphanedClaims() {
    std::vector<std::string> gone;
    {
        Statement claimers(database, "SELECT marker FROM claimers");
        while (claimers.step()) {
            const std::string marker = claimers.text(0);
            if (marker != ClaimMarker::own() && ClaimMarker::ownerIsGone(marker)) gone.push_back(marker);
        }
    }
    Statement giveBack(database, "UPDATE records SET claimer = NULL WHERE claimer = ?1");
    Statement forget(database, "DELETE FROM claimers WHERE marker = ?1");
    for (const std::string& marker : gone) {
        giveBack.reset();
        giveBack.bind(1, marker).run();
        forget.reset();
        forget.bind(1, marker).run();
    }
}

std::vector<RecordSpool::Claimed> RecordSpool::claim(std::size_t count, std::int64_t writtenBefore) {
    std::vector<Claimed> claimed;
    std::string problem;
    if (count == 0 || !readable()) return claimed;
    // Looked up under the write lock: a process taking in an earlier
    // release's files may be making this back office's rows right now.
    Transaction transaction(database);
    if (!transaction.begun() || officeId(false) == 0 || heldOff()) return claimed;
    giveBackOrphanedClaims();
    const std::string marker = ClaimMarker::own();
    const std::int64_t cutoff = timeWrittenNow() - static_cast<std::int64_t>(limits.maxAge.count()) * 1000000000;
    Statement next(database,
                   "SELECT id, written, refused, record FROM records WHERE office = ?1 AND aside = 0"
                   " AND claimer IS NULL AND id > ?2 AND written < ?3 ORDER BY id LIMIT ?4");
    Statement take(database, "UPDATE records SET claimer = ?2 WHERE id = ?1");
    Statement drop(database, "DELETE FROM records WHERE id = ?1");
    Statement aside(database, "UPDATE records SET aside = 1, refused = NULL, reason = ?2 WHERE id = ?1");
    std::vector<Claimed> taken;
    std::size_t tooOld = 0;
    std::size_t refused = 0;
    std::size_t notOperation = 0;
    std::int64_t after = 0;
    bool more = true;
    while (more && taken.size() < count) {
        more = false;
        next.reset();
        next.bind(1, office_).bind(2, after).bind(3, writtenBefore > 0 ? writtenBefore : INT64_MAX);
        next.bind(4, static_cast<std::int64_t>(count - taken.size()));
        struct Row {
            std::int64_t id;
            std::int64_t written;
            std::string refused;
            std::string text;
        };
        std::vector<Row> rows;
        while (next.step()) rows.push_back(Row{next.integer(0), next.integer(1), next.text(2), next.text(3)});
        for (Row& row : rows) {
            after = row.id;
            more = true;
            if (stuck.count(row.id) != 0) continue;
            Claimed item;
            item.id = row.id;
            BackOfficeIdentity written;
            const RecordFile::Reading reading = RecordFile::read(row.text, item.record, written);
            if (row.written < cutoff) {
                drop.reset();
                if (drop.bind(1, row.id).run()) ++tooOld;
            } else if (!row.refused.empty()) {
                // Refused before, when it could not be set aside: never sent again.
                aside.reset();
                if (aside.bind(1, row.id).bind(2, row.refused).run()) ++refused;
            } else if (reading != RecordFile::Reading::record) {
                aside.reset();
                if (aside.bind(1, row.id).bind(2, std::string("is no record operation")).run()) ++notOperation;
            } else {
                take.reset();
                if (take.bind(1, row.id).bind(2, marker).run()) taken.push_back(std::move(item));
            }
        }
    }
    if (!taken.empty()) {
        Statement claimer(database, "INSERT OR IGNORE INTO claimers(marker) VALUES(?1)");
        claimer.bind(1, marker).run();
    }
    if (!transaction.commit()) return claimed;
    held += taken.size();
    dropped += tooOld;
    setAsideCount += refused;
    notOperations += notOperation;
    if (tooOld > 0) SpoolObserver::report("dropped", tooOld);
    if (refused + notOperation > 0) SpoolObserver::report("set-aside", refused + notOperation);
    return taken;
}

void RecordSpool::forgetClaimerWhenIdle() {
    if (held > 0) return;
    Statement forget(database, "DELETE FROM claimers WHERE marker = ?1");
    forget.bind(1, ClaimMarker::own()).run();
}

void RecordSpool::release(const Claimed& claimed) {
    Statement giveBack(database, "UPDATE records SET claimer = NULL WHERE id = ?1 AND claimer = ?2");
    giveBack.bind(1, claimed.id).bind(2, ClaimMarker::own()).run();
    if (held > 0) --held;
    forgetClaimerWhenIdle();
}

void RecordSpool::remove(const std::vector<Claimed>& claimed) {
    if (claimed.empty()) return;
    Transaction transaction(database);
    Statement drop(database, "DELETE FROM records WHERE id = ?1 AND claimer = ?2");
    std::size_t removed = 0;
    for (const Claimed& item : claimed) {
        drop.reset();
        if (drop.bind(1, item.id).bind(2, ClaimMarker::own()).run() && database.changes() > 0) ++removed;
    }
    if (!transaction.commit()) {
        // Still claimed by this process: given back when it ends, sent again.
        return;
    }
    held -= std::min(held, claimed.size());
    if (removed > 0) SpoolObserver::report("delivered", removed);
    forgetClaimerWhenIdle();
}

void RecordSpool::release(const std::vector<Claimed>& claimed) {
    if (claimed.empty()) return;
    Transaction transaction(database);
    Statement giveBack(database, "UPDATE records SET claimer = NULL WHERE id = ?1 AND claimer = ?2");
    for (const Claimed& item : claimed) {
        giveBack.reset();
        giveBack.bind(1, item.id).bind(2, ClaimMarker::own()).run();
    }
    transaction.commit();
    held -= std::min(held, claimed.size());
    forgetClaimerWhenIdle();
}

void RecordSpool::releaseAll() {
    if (!database.isOpen()) return;
    Statement giveBack(database, "UPDATE records SET claimer = NULL WHERE claimer = ?1");
    giveBack.bind(1, ClaimMarker::own()).run();
    held = 0;
    forgetClaimerWhenIdle();
}

void RecordSpool::remove(const Claimed& claimed) {
    Statement drop(database, "DELETE FROM records WHERE id = ?1 AND claimer = ?2");
    if (drop.bind(1, claimed.id).bind(2, ClaimMarker::own()).run() && database.changes() > 0) {
        SpoolObserver::report("delivered", 1);
    }
    if (held > 0) --held;
    forgetClaimerWhenIdle();
}

bool RecordSpool::setAside(const Claimed& claimed, const std::string& why) {
    std::string problem;
    bool moved = false;
    {
        Transaction transaction(database);
        if (transaction.begun() && makeRoom(true, 0, 0, problem)) {
            Statement aside(database,
                            "UPDATE records SET aside = 1, claimer = NULL, refused = NULL, reason = ?3"
                            " WHERE id = ?1 AND claimer = ?2");
            moved = aside.bind(1, claimed.id).bind(2, ClaimMarker::own()).bind(3, why).run() &&
                    transaction.commit();
        }
    }
    if (held > 0) --held;
    if (moved) {
        ++setAsideCount;
        SpoolObserver::report("set-aside", 1);
        forgetClaimerWhenIdle();
        return true;
    }
    if (problem.empty()) problem = database.error();
    // It waits where it was, marked when that can be written, and this
    // object never sends it again.
    Statement mark(database, "UPDATE records SET claimer = NULL, refused = ?3 WHERE id = ?1 AND claimer = ?2");
    mark.bind(1, claimed.id).bind(2, ClaimMarker::own()).bind(3, why).run();
    stuck.insert(claimed.id);
    forgetClaimerWhenIdle();
    pending.push_back(formatBounded("spool %s: record %lld %s but cannot be set aside (%s): it stays in the spool "
                                    "and is not sent again",
                                    directory_.c_str(), static_cast<long long>(claimed.id), why.c_str(),
                                    problem.c_str()));
    return false;
}

void RecordSpool::holdOff(long seconds) {
    if (seconds <= 0) return;
    std::string problem;
    if (!usable(true, problem) || !open(true, problem) || officeId(true) == 0) return;
    const std::int64_t until = nowSeconds() + std::min(seconds, kLongestHold);
    Statement hold(database, "UPDATE offices SET heldUntil = MAX(heldUntil, ?2) WHERE id = ?1");
    hold.bind(1, office_).bind(2, until).run();
}

bool RecordSpool::heldOff() {
    if (!readable() || officeId(false) == 0) return false;
    Statement hold(database, "SELECT heldUntil FROM offices WHERE id = ?1");
    hold.bind(1, office_);
    return hold.step() && hold.integer(0) > nowSeconds();
}

std::size_t RecordSpool::count(bool aside) {
    if (!readable() || officeId(false) == 0) return 0;
    Statement records(database, "SELECT records FROM counts WHERE office = ?1 AND aside = ?2");
    records.bind(1, office_).bind(2, aside ? 1 : 0);
    return records.step() ? static_cast<std::size_t>(std::max<std::int64_t>(0, records.integer(0))) : 0;
}

std::size_t RecordSpool::waitingCount() { return count(false); }

std::size_t RecordSpool::asideCount() { return count(true); }

std::int64_t RecordSpool::oldestWaiting() {
    if (!readable() || officeId(false) == 0) return 0;
    Statement oldest(database, "SELECT written FROM records WHERE office = ?1 AND aside = 0 ORDER BY id LIMIT 1");
    oldest.bind(1, office_);
    return oldest.step() ? oldest.integer(0) : 0;
}

std::vector<RecordSpool::OfficeSummary> RecordSpool::offices() {
    std::vector<OfficeSummary> summaries;
    if (!readable()) return summaries;
    Statement list(database,
                   "SELECT o.address, o.driver, o.plugin, o.heldUntil,"
                   " IFNULL((SELECT records FROM counts WHERE office = o.id AND aside = 0), 0),"
                   " IFNULL((SELECT records FROM counts WHERE office = o.id AND aside = 1), 0),"
                   " IFNULL((SELECT written FROM records WHERE office = o.id AND aside = 0 ORDER BY id LIMIT 1), 0)"
                   " FROM offices o ORDER BY o.address, o.driver, o.plugin");
    const std::int64_t now = nowSeconds();
    while (list.step()) {
        OfficeSummary summary;
        summary.identity = BackOfficeIdentity(list.text(0), list.text(1), list.text(2));
        summary.heldUntil = list.integer(3) > now ? list.integer(3) : 0;
        summary.waiting = static_cast<std::size_t>(list.integer(4));
        summary.aside = static_cast<std::size_t>(list.integer(5));
        summary.oldestWritten = list.integer(6);
        if (summary.waiting > 0 || summary.aside > 0 || summary.heldUntil > 0) summaries.push_back(summary);
    }
    return summaries;
}

std::size_t RecordSpool::requeueAside() {
    if (!readable() || officeId(false) == 0) return 0;
    Transaction transaction(database);
    Statement requeue(database,
                      "UPDATE records SET aside = 0, reason = NULL, refused = NULL WHERE office = ?1 AND aside = 1");
    if (!transaction.begun() || !requeue.bind(1, office_).run()) return 0;
    const int moved = database.changes();
    return transaction.commit() ? static_cast<std::size_t>(moved) : 0;
}

std::size_t RecordSpool::moveFrom(const std::string& address) {
    const std::string from = BackOfficeIdentity::canonicalAddress(address);
    if (from == identity.address() || !readable()) return 0;
    Transaction transaction(database);
    if (!transaction.begun() || officeId(true) == 0) return 0;
    Statement move(database,
                   "UPDATE records SET office = ?1, claimer = NULL WHERE office IN"
                   " (SELECT id FROM offices WHERE address = ?2 AND driver = ?3 AND plugin = ?4)");
    if (!move.bind(1, office_).bind(2, from).bind(3, identity.pluginDriver()).bind(4, identity.pluginId()).run()) {
        office_ = 0;
        return 0;
    }
    const int moved = database.changes();
    if (!transaction.commit()) {
        office_ = 0;
        return 0;
    }
    return static_cast<std::size_t>(moved);
}

std::size_t RecordSpool::removeAddress(const std::string& address) {
    const std::string gone = BackOfficeIdentity::canonicalAddress(address);
    if (!readable()) return 0;
    Transaction transaction(database);
    Statement drop(database, "DELETE FROM records WHERE office IN (SELECT id FROM offices WHERE address = ?1)");
    if (!transaction.begun() || !drop.bind(1, gone).run()) return 0;
    const int removed = database.changes();
    Statement forget(database, "DELETE FROM offices WHERE address = ?1");
    forget.bind(1, gone).run();
    Statement counts(database, "DELETE FROM counts WHERE office NOT IN (SELECT id FROM offices)");
    counts.run();
    if (!transaction.commit()) return 0;
    if (gone == identity.address()) office_ = 0;
    return static_cast<std::size_t>(removed);
}

std::vector<std::string> RecordSpool::takeNotices() {
    std::vector<std::string> notices;
    notices.swap(pending);
    const char* dir = directory_.c_str();
    if (imported + importedAside > 0) {
        notices.push_back(formatBounded("spool %s: took in %zu waiting and %zu aside records of an earlier "
                                        "release's spool files", dir, imported, importedAside));
    }
    if (dropped > 0) {
        notices.push_back(formatBounded("spool %s: dropped %zu records (spool full or records too old)", dir, dropped));
    }
    if (setAsideCount > 0) {
        notices.push_back(formatBounded("spool %s: set %zu records aside (refused by the back office)", dir,
                                        setAsideCount));
    }
    if (notOperations > 0) {
        notices.push_back(formatBounded("spool %s: set %zu records aside that name a request no record makes "
                                        "(never sent)", dir, notOperations));
    }
    if (notRecords > 0) {
        notices.push_back(formatBounded("spool %s: moved %zu files that are no record of a back office to not-records/ "
                                        "(never sent)", dir, notRecords));
    }
    dropped = setAsideCount = notOperations = notRecords = imported = importedAside = 0;
    return notices;
}

}  // namespace tarvik
