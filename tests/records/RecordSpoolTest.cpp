// The spool of undeliverable records, on a real directory: what it writes,
// in which order it gives records back, how processes share it, and what it
// does with files that are half written, no record, too many or too old.

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
#include "records/RecordSpool.h"
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

std::vector<std::string> waitingFiles(const std::string& directory) {
    std::vector<std::string> names;
    for (const std::string& name : namesIn(directory)) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".rec") == 0) names.push_back(name);
    }
    return names;
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

    const std::vector<std::string> files = waitingFiles(spool.directory());
    ASSERT_EQ(files.size(), 3u);
    for (const std::string& name : files) {
        struct stat facts {};
        ASSERT_EQ(::stat((spool.directory() + "/" + name).c_str(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 07777, 0600u) << name;
        const std::string text = TempDir::readFile(spool.directory() + "/" + name);
        EXPECT_EQ(text.find("Bearer"), std::string::npos) << text;
        EXPECT_EQ(text.find("PreAuthorization"), std::string::npos) << text;
        // The back office it belongs to, so no other is ever given it.
        EXPECT_NE(text.find("\"backOffice\":\"http://127.0.0.1:80/base\""), std::string::npos) << text;
        EXPECT_NE(text.find("\"pluginDriver\":\"test-driver\""), std::string::npos) << text;
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
    const std::string mine = first[0].waitingPath + ".claimed-" + std::to_string(::getpid()) + "-";
    EXPECT_EQ(first[0].claimedPath.compare(0, mine.size(), mine), 0) << first[0].claimedPath;
    EXPECT_TRUE(std::filesystem::exists(first[0].claimedPath));
    EXPECT_FALSE(std::filesystem::exists(first[0].waitingPath));
    // Claimed records are not waiting.
    EXPECT_EQ(spool.waitingCount(), 1u);

    // The first goes back and comes first again; the second is delivered.
    spool.release(first[0]);
    spool.remove(first[1]);
    EXPECT_FALSE(std::filesystem::exists(first[1].claimedPath));
    std::vector<RecordSpool::Claimed> again = spool.claim(10);
    EXPECT_EQ(bodiesOf(again), (std::vector<std::string>{logEntry(0).body, logEntry(2).body}));
    for (const auto& item : again) spool.remove(item);
    EXPECT_EQ(spool.waitingCount(), 0u);
    EXPECT_TRUE(spool.claim(10).empty());
    EXPECT_TRUE(spool.takeNotices().empty());
    EXPECT_TRUE(namesIn(spool.directory()).empty());
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
        // Two processes racing; each writes what it took to a file of its own.
        RecordSpool writer(directory, office());
        storeAll(writer, 0, 200);
        std::vector<std::unique_ptr<TestProcess>> children;
        for (int index = 0; index < 2; ++index) {
            const std::string output = scratch.file("taken-" + std::to_string(index));
            children.push_back(forkChild([&directory, output] {
                RecordSpool spool(directory, office());
                std::ofstream out(output);
                for (;;) {
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
        for (auto& child : children) EXPECT_EQ(child->waitExitStatus(std::chrono::seconds(30)), 0);
        std::multiset<std::string> seen;
        for (int index = 0; index < 2; ++index) {
            std::istringstream lines(scratch.read("taken-" + std::to_string(index)));
            std::string line;
            while (std::getline(lines, line)) seen.insert(line);
        }
        const std::vector<std::string> expected = bodiesFrom(0, 200);
        EXPECT_EQ(seen, std::multiset<std::string>(expected.begin(), expected.end()));
        EXPECT_TRUE(namesIn(directory).empty());
    }
}

TEST(RecordSpoolTest, HalfWrittenFilesAreLeftAloneAndNonRecordsSetAside) {
    TempDir scratch;
    RecordSpool spool(scratch.file("spool"), office());
    storeAll(spool, 0, 1);
    // A writer killed half-way leaves its temporary file; nobody reads it.
    scratch.write("spool/.tmp-99999-0", "{\"kind\":\"logger\",\"method\":1,\"pa");
    // Names sort before the real record, so they are met first.
    scratch.write("spool/0000000000000000001-1-0.rec", "this is no record\n");
    scratch.write("spool/0000000000000000002-1-0.rec",
                  "{\"kind\":\"logger\",\"method\":1,\"path\":\"http://elsewhere/x\",\"headers\":{},\"body\":\"\"}\n");

    std::vector<RecordSpool::Claimed> claimed = spool.claim(10);
    EXPECT_EQ(bodiesOf(claimed), bodiesFrom(0, 1));
    EXPECT_TRUE(std::filesystem::exists(scratch.file("spool/.tmp-99999-0")));
    EXPECT_EQ(namesIn(scratch.file("spool/aside")),
              (std::vector<std::string>{"0000000000000000001-1-0.rec", "0000000000000000002-1-0.rec"}));
    EXPECT_EQ(scratch.read("spool/aside/0000000000000000001-1-0.rec"), "this is no record\n");

    // The file that is no record, and the record of the older form that
    // names no back office: neither is guessed at.
    const std::vector<std::string> notices = spool.takeNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find("set 1 records aside"), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find(spool.directory()), std::string::npos) << notices[0];
    EXPECT_NE(notices[1].find("older form"), std::string::npos) << notices[1];
    EXPECT_TRUE(spool.takeNotices().empty());

    // A record the back office refused joins them, and is not sent again.
    spool.setAside(claimed[0]);
    EXPECT_EQ(namesIn(scratch.file("spool/aside")).size(), 3u);
    EXPECT_TRUE(spool.claim(10).empty());
    ASSERT_EQ(spool.takeNotices().size(), 1u);
}

TEST(RecordSpoolTest, BoundsDropTheOldestAndTooOldRecords) {
    TempDir scratch;
    {
        RecordSpool::Limits limits;
        limits.maxRecords = 3;
        RecordSpool spool(scratch.file("count"), office(), limits);
        storeAll(spool, 0, 5);
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
        RecordSpool::Limits limits;
        limits.maxAge = std::chrono::seconds(3600);
        RecordSpool spool(scratch.file("age"), office(), limits);
        storeAll(spool, 0, 3);
        // The first two were written two hours ago.
        const std::vector<std::string> files = waitingFiles(spool.directory());
        ASSERT_EQ(files.size(), 3u);
        struct timeval then[2] = {};
        ::gettimeofday(&then[0], nullptr);
        then[0].tv_sec -= 7200;
        then[1] = then[0];
        for (int index = 0; index < 2; ++index) {
            ASSERT_EQ(::utimes((spool.directory() + "/" + files[index]).c_str(), then), 0);
        }
        EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(2, 3));
        EXPECT_EQ(waitingFiles(spool.directory()).size(), 0u);
        const std::vector<std::string> notices = spool.takeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("dropped 2 records"), std::string::npos) << notices[0];
    }
}

TEST(RecordSpoolTest, ClaimsOfDeadProcessesAreGivenBack) {
    TempDir scratch;
    RecordSpool spool(scratch.file("spool"), office());
    storeAll(spool, 0, 2);

    // A process that is gone for sure: ours, reaped.
    std::unique_ptr<TestProcess> child = forkChild([] { return 0; });
    const pid_t gone = child->pid();
    ASSERT_GT(gone, 0);
    ASSERT_EQ(child->waitExitStatus(std::chrono::seconds(10)), 0);

    std::vector<RecordSpool::Claimed> claimed = spool.claim(2);
    ASSERT_EQ(claimed.size(), 2u);
    // The first as if the dead process had claimed it; the second stays ours
    // (we live), so nobody takes it.
    const std::string orphan = claimed[0].waitingPath + ".claimed-" + std::to_string(gone);
    ASSERT_EQ(::rename(claimed[0].claimedPath.c_str(), orphan.c_str()), 0);

    RecordSpool other(scratch.file("spool"), office());
    std::vector<RecordSpool::Claimed> retaken = other.claim(10);
    EXPECT_EQ(bodiesOf(retaken), bodiesFrom(0, 1));
    EXPECT_FALSE(std::filesystem::exists(orphan));
    EXPECT_TRUE(std::filesystem::exists(claimed[1].claimedPath));
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
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

std::string recordFileOf(const BackOfficeRecord& record, const BackOfficeIdentity& identity) {
    return RecordFile::write(record, identity);
}

// What an intruder or an accident can put in a spool: none of it is sent,
// nothing is followed through a link, and nothing vanishes unreported.
TEST(RecordSpoolTest, WhatDoesNotBelongInTheSpoolIsNeverSent) {
    TempDir scratch;
    RecordSpool::Limits limits;
    limits.leftoverAge = std::chrono::seconds(60);
    RecordSpool spool(scratch.file("spool"), office(), limits);
    storeAll(spool, 0, 1);
    const std::string tagged = "." + office().tag() + ".rec";
    // A link named like one of ours, to a record outside the spool.
    const std::string outside = scratch.write("outside.rec", recordFileOf(logEntry(7), office()));
    ASSERT_EQ(::symlink(outside.c_str(), scratch.file("spool/0000000000000000001-1-0" + tagged).c_str()), 0);
    // A record of ours naming the unlock operation.
    BackOfficeRecord unlock = logEntry(8);
    unlock.method = KestroAgiRESTFul::METHOD_PUT;
    unlock.path = "/service/v1/isp/demo/1/unlock";
    scratch.write("spool/0000000000000000002-1-0" + tagged, recordFileOf(unlock, office()));
    // Another back office's record, and one under our tag that names another.
    const BackOfficeIdentity other("http://127.0.0.1/base", "test-driver", "8");
    scratch.write("spool/0000000000000000003-1-0." + other.tag() + ".rec", recordFileOf(logEntry(9), other));
    scratch.write("spool/0000000000000000004-1-0" + tagged, recordFileOf(logEntry(10), other));
    // A writer that died half-way, long ago.
    const std::string leftover = scratch.write("spool/.tmp-99999-0", "{\"kind\":\"logger\",\"me");
    struct timeval then[2] = {};
    ::gettimeofday(&then[0], nullptr);
    then[0].tv_sec -= 3600;
    then[1] = then[0];
    ASSERT_EQ(::utimes(leftover.c_str(), then), 0);

    std::vector<RecordSpool::Claimed> claimed = spool.claim(10);
    EXPECT_EQ(bodiesOf(claimed), bodiesFrom(0, 1));
    EXPECT_EQ(namesIn(scratch.file("spool/aside")),
              (std::vector<std::string>{"0000000000000000001-1-0" + tagged, "0000000000000000002-1-0" + tagged}));
    // The link itself was moved; what it pointed at is untouched.
    EXPECT_TRUE(std::filesystem::is_symlink(scratch.file("spool/aside/0000000000000000001-1-0" + tagged)));
    EXPECT_EQ(scratch.read("outside.rec"), recordFileOf(logEntry(7), office()));
    EXPECT_TRUE(std::filesystem::exists(scratch.file("spool/0000000000000000003-1-0." + other.tag() + ".rec")));
    EXPECT_TRUE(std::filesystem::exists(scratch.file("spool/0000000000000000004-1-0" + tagged)));
    EXPECT_FALSE(std::filesystem::exists(leftover));
    std::string notices;
    for (const std::string& line : spool.takeNotices()) notices += line + "\n";
    EXPECT_NE(notices.find("a request no record makes"), std::string::npos) << notices;
    EXPECT_NE(notices.find("removed 1 unfinished"), std::string::npos) << notices;

    // aside/ that is not a folder: the refused record stays, is reported,
    // and is not taken again by this spool.
    std::filesystem::rename(scratch.file("spool/aside"), scratch.file("aside-before"));
    scratch.write("spool/aside", "a file where the folder should be\n");
    EXPECT_FALSE(spool.setAside(claimed[0]));
    EXPECT_TRUE(std::filesystem::exists(claimed[0].waitingPath));
    EXPECT_EQ(spool.stuckCount(), 1u);
    EXPECT_TRUE(spool.claim(10).empty());
    notices.clear();
    for (const std::string& line : spool.takeNotices()) notices += line + "\n";
    EXPECT_NE(notices.find("cannot be set aside"), std::string::npos) << notices;
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

// A claim whose process id now belongs to another process (here: ours,
// started at another time) is given back.
TEST(RecordSpoolTest, AClaimIsGivenBackWhenItsProcessIdWasReused) {
    TempDir scratch;
    RecordSpool spool(scratch.file("spool"), office());
    storeAll(spool, 0, 1);
    std::vector<RecordSpool::Claimed> claimed = spool.claim(1);
    ASSERT_EQ(claimed.size(), 1u);
    const std::string reused = claimed[0].waitingPath + ".claimed-" + std::to_string(::getpid()) + "-1";
    ASSERT_EQ(::rename(claimed[0].claimedPath.c_str(), reused.c_str()), 0);
    RecordSpool other(scratch.file("spool"), office());
    EXPECT_EQ(bodiesOf(other.claim(10)), bodiesFrom(0, 1));
}

}  // namespace
}  // namespace tarvik
