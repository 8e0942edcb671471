// The spool of undeliverable records, on a real directory: what it writes,
// in which order it gives records back, how processes share it, what it
// keeps within its bounds, and what it takes in of an earlier release's
// one-file-per-record spool.

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/KestroAgiRESTFul.h"
#include "records/RecordFile.h"
#include "records/ClaimMarker.h"
#include "records/RecordSpool.h"
#include "tests/support/SpoolContents.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestProcess.h"

namespace tarvik {
namespace {

using testing::TestProcess;

// Every record of these tests belongs to one back office, whatever port it
// is reached on in a test.
const BackOfficeIdentity& office() {
    static const BackOfficeIdentity identity("http://127.0.0.1/base", "test-driver", "7");
    return identity;
}

BackOfficeRecord logEntry(int number) {
    BackOfficeRecord record;
    record.kind = "logger";
    record.method = KestroAgiRESTFul::METHOD_POST;
    record.path = "/service/v1/logger";
    record.headers["Content-Type"] = "application/json";
    record.headers["x-ivr-phone"] = "11987654321";
    record.body = "{\"n\":" + std::to_string(number) + "}";
    record.failureText = "remote log entry " + std::to_string(number) + " not delivered";
    return record;
}

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& item : std::filesystem::directory_iterator(directory, ignored)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Changes the spool's database behind its users' backs, as a process of
// another release or a crash would have left it.
void runSql(const std::string& directory, const std::string& sql) {
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open((directory + "/spool.db").c_str(), &database), SQLITE_OK);
    sqlite3_busy_timeout(database, 10000);
    EXPECT_EQ(sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(database);
}

// A file of the earlier one-file-per-record form, written `secondsAgo`.
void writeOlderForm(TempDir& scratch, const std::string& name, const std::string& text) {
    scratch.write("spool/" + name, text);
}

std::string stampSecondsAgo(long seconds) {
    const long long now = RecordSpool::timeWrittenNow();
    return std::to_string(now - static_cast<long long>(seconds) * 1000000000LL);
}

void storeAll(RecordSpool& spool, int from, int to) {
    for (int number = from; number < to; ++number) {
        std::string problem;
        ASSERT_TRUE(spool.store(logEntry(number), problem)) << problem;
    }
}

std::vector<std::string> bodiesOf(const std::vector<RecordSpool::Claimed>& claimed) {
    std::vector<std::string> bodies;
    for (const auto& item : claimed) bodies.push_back(item.record.body);
    return bodies;
}

std::vector<std::string> bodiesFrom(int from, int to) {
    std::vector<std::string> bodies;
    for (int number = from; number < to; ++number) bodies.push_back(logEntry(number).body);
    return bodies;
}

// A forked child running `body`, its output discarded.
std::unique_ptr<TestProcess> forkChild(const std::function<int()>& body) {
    TestProcess::Options options;
    options.output = TestProcess::Output::discard;
    return std::make_unique<TestProcess>(body, options);
}

TEST(RecordSpoolTest, StoreClaimReleaseAndRemoveOldestFirst) {
    TempDir scratch;
    // The spool's own folder is made on the first record.
    RecordSpool spool(scratch.file("spool"), office());
    storeAll(spool, 0, 3);
    EXPECT_EQ(spool.waitingCount(), 3u);
    for (const std::string& name : namesIn(spool.directory())) {
        struct stat facts {};
        ASSERT_EQ(::stat((spool.directory() + "/" + name).c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 077, 0u) << name;
        const std::string text = TempDir::readFile(spool.directory() + "/" + name);
        EXPECT_EQ(text.find("Bearer"), std::string::npos) << name;
        EXPECT_EQ(text.find("PreAuthorization"), std::string::npos) << name;
    }
    for (const testing::SpooledRow& row : testing::spooledRows(spool.directory())) {
        // The back office it belongs to, so no other is ever given it.
        EXPECT_EQ(row.address, "http://127.0.0.1:80/base");
    }

    // Oldest first, the whole record back.
    std::vector<RecordSpool::Claimed> first = spool.claim(2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(bodiesOf(first), bodiesFrom(0, 2));
    const BackOfficeRecord expected = logEntry(0);
    EXPECT_EQ(first[0].record.kind, expected.kind);
    EXPECT_EQ(first[0].record.method, expected.method);
    EXPECT_EQ(first[0].record.path, expected.path);
    EXPECT_EQ(first[0].record.headers, expected.headers);
    EXPECT_EQ(first[0].record.failureText, expected.failureText);
    const std::vector<testing::SpooledRow> rows = testing::waitingRows(spool.directory());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].claimer, ClaimMarker::own());
    EXPECT_EQ(rows[2].claimer, "");

    // The first goes back and comes first again; the second is delivered.
    spool.release(first[0]);
    spool.remove(first[1]);
    std::vector<RecordSpool::Claimed> again = spool.claim(10);
    EXPECT_EQ(bodiesOf(again), (std::vector<std::string>{logEntry(0).body, logEntry(2).body}));
    for (const auto& item : again) spool.remove(item);
    EXPECT_EQ(spool.waitingCount(), 0u);
    EXPECT_TRUE(spool.claim(10).empty());
    EXPECT_TRUE(spool.takeNotices().empty());
    EXPECT_TRUE(testing::spooledRows(spool.directory()).empty());
}

TEST(RecordSpoolTest, SharersNeverClaimTheSameRecord) {
    TempDir scratch;
    const std::string directory = scratch.file("spool");
    {
        // Two objects, one after the other.
        RecordSpool writer(directory, office());
        storeAll(writer, 0, 40);
        RecordSpool first(directory, office());
        RecordSpool second(directory, office());
        std::vector<RecordSpool::Claimed> a = first.claim(25);
        std::vector<RecordSpool::Claimed> b = second.claim(25);
        EXPECT_EQ(a.size(), 25u);
        EXPECT_EQ(b.size(), 15u);
        std::vector<std::string> all = bodiesOf(a);
        for (const std::string& body : bodiesOf(b)) all.push_back(body);
        EXPECT_EQ(all, bodiesFrom(0, 40));
        for (const auto& item : a) first.remove(item);
        for (const auto& item : b) second.remove(item);
    }
    {
        // Two objects on two threads, racing one record at a time.
        RecordSpool writer(directory, office());
        storeAll(writer, 0, 200);
        std::vector<std::string> taken[2];
        auto drain = [&directory](std::vector<std::string>* bodies) {
            RecordSpool spool(directory, office());
            for (;;) {
                std::vector<RecordSpool::Claimed> one = spool.claim(1);
                if (one.empty()) return;
                bodies->push_back(one[0].record.body);
                spool.remove(one[0]);
            }
        };
        std::thread left(drain, &taken[0]);
        std::thread right(drain, &taken[1]);
        left.join();
        right.join();
        std::multiset<std::string> seen(taken[0].begin(), taken[0].end());
        seen.insert(taken[1].begin(), taken[1].end());
        const std::vector<std::string> expected = bodiesFrom(0, 200);
        EXPECT_EQ(seen, std::multiset<std::string>(expected.begin(), expected.end()));
    }
    {
        // Two processes racing, each storing too; each writes what it took
        // to a file of its own.
        RecordSpool writer(directory, office());
        storeAll(writer, 0, 200);
        std::vector<std::unique_ptr<TestProcess>> children;
        for (int index = 0; index < 2; ++index) {
            const std::string output = scratch.file("taken-" + std::to_string(index));
            children.push_back(forkChild([&directory, output, index] {
                RecordSpool spool(directory, office());
                std::ofstream out(output);
                std::string problem;
                for (int stored = 0;; ++stored) {
                    if (stored < 50 && !spool.store(logEntry(1000 + index * 100 + stored), problem)) return 2;
                    std::vector<RecordSpool::Claimed> one = spool.claim(1);
                    if (one.empty()) break;
                    out << one[0].record.body << "\n";
                    spool.remove(one[0]);
                }
                out.close();
                return out ? 0 : 1;
            }));
            ASSERT_TRUE(children.back()->started());
        }
        for (auto& child : children) EXPECT_EQ(child->waitExitStatus(std::chrono::seconds(60)), 0);
        std::multiset<std::string> seen;
        for (int index = 0; index < 2; ++index) {
            std::istringstream lines(scratch.read("taken-" + std::to_string(index)));
            std::string line;
            while (std::getline(lines, line)) seen.insert(line);
        }
        RecordSpool rest(directory, office());
        for (const auto& item : rest.claim(1000)) seen.insert(item.record.body);
        std::vector<std::string> expected = bodiesFrom(0, 200);
        for (const std::string& body : bodiesFrom(1000, 1050)) expected.push_back(body);
        for (const std::string& body : bodiesFrom(1100, 1150)) expected.push_back(body);
        EXPECT_EQ(seen, std::multiset<std::string>(expected.begin(), expected.end()));
    }
}

// Writers killed in mid-store leave whole records or none, and the counts
// stay those of the rows.
TEST(RecordSpoolTest, WritersKilledInMidStoreLeaveNoHalfRecord) {
    TempDir scratch;
    const std::string directory = scratch.file("spool");
    {
        RecordSpool first(directory, office());
        storeAll(first, 0, 1);
    }
    std::vector<std::unique_ptr<TestProcess>> writers;
    for (int index = 0; index < 3; ++index) {
        writers.push_back(forkChild([&directory, index] {
            RecordSpool spool(directory, office());
            std::string problem;
            for (int number = 0;; ++number) spool.store(logEntry(10000 * (index + 1) + number), problem);
            return 0;
        }));
        ASSERT_TRUE(writers.back()->started());
    }
    // Killed once they have stored something.
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (testing::spooledRows(directory).size() <= 30 && std::chrono::steady_clock::now() < bound) {
    }
    for (auto& writer : writers) ::kill(writer->pid(), SIGKILL);
    for (auto& writer : writers) writer->waitExitStatus(std::chrono::seconds(30));
    RecordSpool after(directory, office());
    const std::size_t counted = after.waitingCount();
    std::vector<RecordSpool::Claimed> all = after.claim(1000000);
    EXPECT_EQ(all.size(), counted);
    EXPECT_GT(all.size(), 30u);
    for (const auto& item : all) EXPECT_EQ(item.record.kind, "logger") << item.record.body;
    EXPECT_TRUE(after.takeNotices().empty());
}

TEST(RecordSpoolTest, BoundsDropTheOldestAndTooOldRecords) {
    TempDir scratch;
    {
        RecordSpool::Limits limits;
        limits.maxRecords = 3;
        RecordSpool spool(scratch.file("count"), office(), limits);
        storeAll(spool, 0, 5);
        EXPECT_EQ(spool.waitingCount(), 3u);
        // Aside records are counted apart: three of them drop no waiting one.
        std::string problem;
        for (int number = 5; number < 8; ++number) ASSERT_TRUE(spool.storeAside(logEntry(number), "answer 400", problem));
        EXPECT_EQ(spool.asideCount(), 3u);
        EXPECT_EQ(spool.waitingCount(), 3u);
        const std::vector<std::string> notices = spool.takeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("dropped 2 records"), std::string::npos) << notices[0];
        EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(2, 5));
    }
    {
        RecordSpool::Limits limits;
        limits.maxBytes = RecordFile::write(logEntry(0), office()).size() * 2;
        RecordSpool spool(scratch.file("bytes"), office(), limits);
        storeAll(spool, 0, 4);
        EXPECT_EQ(spool.waitingCount(), 2u);
        const std::vector<std::string> notices = spool.takeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("dropped 2 records"), std::string::npos) << notices[0];
        EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(2, 4));
    }
    {
        // A file system nearly full: a new record takes an old one's place,
        // and with none to give up it is not kept.
        RecordSpool::Limits limits;
        limits.reservedPercent = 101;
        RecordSpool spool(scratch.file("full"), office(), limits);
        std::string problem;
        EXPECT_FALSE(spool.store(logEntry(0), problem));
        EXPECT_NE(problem.find("less than 101% free"), std::string::npos) << problem;
        RecordSpool roomy(scratch.file("full"), office());
        storeAll(roomy, 1, 3);
        EXPECT_TRUE(spool.store(logEntry(3), problem)) << problem;
        EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(2, 4));
    }
    {
        // Records past their age, as an earlier release left them: dropped,
        // never sent.
        RecordSpool::Limits limits;
        limits.maxAge = std::chrono::seconds(3600);
        for (int number = 0; number < 2; ++number) {
            const std::string file = scratch.write("age/" + stampSecondsAgo(7200 - number) + "-1-0." + office().tag() +
                                                       ".rec", RecordFile::write(logEntry(number), office()));
            struct timeval then[2] = {};
            ::gettimeofday(&then[0], nullptr);
            then[0].tv_sec -= 7200;
            then[1] = then[0];
            ASSERT_EQ(::utimes(file.c_str(), then), 0);
        }
        RecordSpool spool(scratch.file("age"), office(), limits);
        storeAll(spool, 2, 3);
        EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(2, 3));
        EXPECT_EQ(testing::spooledRows(spool.directory()).size(), 1u);
        std::string notices;
        for (const std::string& line : spool.takeNotices()) notices += line + "\n";
        EXPECT_NE(notices.find("dropped 2 records"), std::string::npos) << notices;
    }
}

TEST(RecordSpoolTest, ClaimsOfDeadProcessesAreGivenBack) {
    TempDir scratch;
    const std::string directory = scratch.file("spool");
    RecordSpool spool(directory, office());
    storeAll(spool, 0, 3);

    // One held by us, alive: nobody else takes it.
    std::vector<RecordSpool::Claimed> ours = spool.claim(1);
    ASSERT_EQ(bodiesOf(ours), bodiesFrom(0, 1));
    // A process that claims one record and dies holding it.
    std::unique_ptr<TestProcess> child = forkChild([&directory] {
        RecordSpool dying(directory, office());
        return dying.claim(1).size() == 1 ? 0 : 1;
    });
    ASSERT_EQ(child->waitExitStatus(std::chrono::seconds(30)), 0);

    RecordSpool other(directory, office());
    EXPECT_EQ(bodiesOf(other.claim(10)), bodiesFrom(1, 3));

    // A claim whose process id now belongs to another process (here: ours,
    // started at another time) is given back too.
    runSql(directory, "UPDATE records SET claimer = '.claimed-" + std::to_string(::getpid()) +
                          "-1' WHERE claimer IS NOT NULL;"
                          "INSERT OR IGNORE INTO claimers(marker) VALUES('.claimed-" +
                          std::to_string(::getpid()) + "-1')");
    RecordSpool third(directory, office());
    EXPECT_EQ(third.claim(10).size(), 3u);
}

TEST(RecordSpoolTest, AnUnwritableDirectoryIsReportedNotFatal) {
    TempDir scratch;
    // Tests run as root, where permissions do not bite: a path below a
    // regular file can never be a directory.
    const std::string plain = scratch.write("plain", "not a folder\n");
    RecordSpool spool(plain + "/spool", office());
    std::string problem;
    EXPECT_FALSE(spool.store(logEntry(0), problem));
    EXPECT_NE(problem.find(plain + "/spool"), std::string::npos) << problem;
    EXPECT_NE(problem.find("cannot be"), std::string::npos) << problem;
    EXPECT_TRUE(spool.claim(10).empty());
    EXPECT_EQ(spool.waitingCount(), 0u);

    RecordSpool asFile(plain, office());
    problem.clear();
    EXPECT_FALSE(asFile.store(logEntry(0), problem));
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(scratch.read("plain"), "not a folder\n");

    // A database that is no database: one line, nothing lost that was there.
    scratch.write("broken/spool.db", "this is no database\n");
    ASSERT_EQ(::chmod(scratch.file("broken").c_str(), 0700), 0);
    RecordSpool broken(scratch.file("broken"), office());
    problem.clear();
    EXPECT_FALSE(broken.store(logEntry(0), problem));
    EXPECT_NE(problem.find("spool.db"), std::string::npos) << problem;
    EXPECT_EQ(scratch.read("broken/spool.db"), "this is no database\n");
}

// An earlier release's spool after an upgrade: its records are taken in
// once, oldest first, each under the back office it names; what is no
// record stays aside as before; nothing is followed through a link.
TEST(RecordSpoolTest, AnEarlierReleasesFilesAreTakenInOnce) {
    TempDir scratch;
    const std::string tagged = "." + office().tag() + ".rec";
    const BackOfficeIdentity other("http://127.0.0.1/base", "test-driver", "8");
    writeOlderForm(scratch, stampSecondsAgo(50) + "-1-0" + tagged, RecordFile::write(logEntry(1), office()));
    writeOlderForm(scratch, stampSecondsAgo(60) + "-1-0" + tagged, RecordFile::write(logEntry(0), office()));
    writeOlderForm(scratch, stampSecondsAgo(40) + "-1-0." + other.tag() + ".rec",
                   RecordFile::write(logEntry(9), other));
    writeOlderForm(scratch, stampSecondsAgo(30) + "-1-0.rec", "this is no record\n");
    // Claimed by a process long gone, and one refused before.
    writeOlderForm(scratch, stampSecondsAgo(45) + "-1-0" + tagged + ".claimed-999999999-1",
                   RecordFile::write(logEntry(2), office()));
    writeOlderForm(scratch, "aside/" + stampSecondsAgo(20) + "-1-0" + tagged, RecordFile::write(logEntry(3), office()));
    // A link named like one of ours, to a record outside the spool.
    const std::string outside = scratch.write("outside.rec", RecordFile::write(logEntry(7), office()));
    ASSERT_EQ(::symlink(outside.c_str(), scratch.file("spool/" + stampSecondsAgo(10) + "-1-0" + tagged).c_str()), 0);

    RecordSpool spool(scratch.file("spool"), office());
    EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(0, 3));
    EXPECT_EQ(spool.asideCount(), 1u);
    std::string notices;
    for (const std::string& line : spool.takeNotices()) notices += line + "\n";
    EXPECT_NE(notices.find("took in 4 waiting and 1 aside records"), std::string::npos) << notices;
    EXPECT_NE(notices.find("moved 2 files that are no record"), std::string::npos) << notices;
    EXPECT_EQ(scratch.read("outside.rec"), RecordFile::write(logEntry(7), office()));
    // The other back office's record waits for it alone.
    RecordSpool theOther(scratch.file("spool"), other);
    EXPECT_EQ(bodiesOf(theOther.claim(10)), bodiesFrom(9, 10));
    std::size_t recordFiles = 0;
    for (const std::string& name : namesIn(scratch.file("spool"))) recordFiles += name.find(".rec") != std::string::npos;
    EXPECT_EQ(recordFiles, 0u);
    EXPECT_EQ(namesIn(scratch.file("spool/not-records")).size(), 2u);
    // Once only.
    RecordSpool later(scratch.file("spool"), office());
    EXPECT_TRUE(later.claim(10).empty());
    EXPECT_TRUE(later.takeNotices().empty());
}

// A refused record is kept aside; one that cannot be written aside still
// waits, but is set aside before it could ever be sent again. A back office
// asking to be left alone is held for an hour at most. The queue tools put
// aside records back, move an old address's records, remove an address's.
TEST(RecordSpoolTest, AsideHoldsAndQueueTools) {
    TempDir scratch;
    const std::string directory = scratch.file("spool");
    RecordSpool spool(directory, office());
    storeAll(spool, 0, 2);
    std::vector<RecordSpool::Claimed> claimed = spool.claim(2);
    ASSERT_EQ(claimed.size(), 2u);
    EXPECT_TRUE(spool.setAside(claimed[0], "answer 400"));
    // As when aside could not be written: marked, then set aside at the next claim.
    runSql(directory, "UPDATE records SET refused = 'answer 404' WHERE aside = 0");
    spool.release(claimed[1]);
    EXPECT_TRUE(spool.claim(10).empty());
    EXPECT_EQ(spool.asideCount(), 2u);

    spool.holdOff(315360000);
    RecordSpool other(directory, office());
    EXPECT_TRUE(other.heldOff());
    const std::vector<RecordSpool::OfficeSummary> offices = other.offices();
    ASSERT_EQ(offices.size(), 1u);
    EXPECT_EQ(offices[0].aside, 2u);
    EXPECT_LE(offices[0].heldUntil, static_cast<std::int64_t>(std::time(nullptr)) + 3600);
    runSql(directory, "UPDATE offices SET heldUntil = 0");

    EXPECT_EQ(other.requeueAside(), 2u);
    EXPECT_EQ(bodiesOf(other.claim(10)), bodiesFrom(0, 2));
    other.releaseAll();

    // The back office moved to another port: its records follow it.
    const BackOfficeIdentity moved("http://127.0.0.1:8443/base", "test-driver", "7");
    RecordSpool there(directory, moved);
    EXPECT_EQ(there.moveFrom("http://127.0.0.1/base"), 2u);
    EXPECT_EQ(bodiesOf(there.claim(10)), bodiesFrom(0, 2));
    there.releaseAll();
    EXPECT_EQ(there.removeAddress("http://127.0.0.1:8443/base"), 2u);
    EXPECT_TRUE(testing::spooledRows(directory).empty());
}

// A spool anyone else can change is not used: records are not written there.
TEST(RecordSpoolTest, ASpoolOthersCanWriteIsNotUsed) {
    TempDir scratch;
    {
        const std::string open = scratch.file("open");
        ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
        RecordSpool spool(open, office());
        std::string problem;
        EXPECT_FALSE(spool.store(logEntry(0), problem));
        EXPECT_NE(problem.find("writable by group or others"), std::string::npos) << problem;
        EXPECT_TRUE(namesIn(open).empty());
    }
    if (::geteuid() == 0) {
        const std::string foreign = scratch.file("foreign");
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        RecordSpool spool(foreign, office());
        std::string problem;
        EXPECT_FALSE(spool.store(logEntry(0), problem));
        EXPECT_NE(problem.find("belongs to uid 65534"), std::string::npos) << problem;
        EXPECT_TRUE(namesIn(foreign).empty());
    }
}

}  // namespace
}  // namespace tarvik
