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
#include "api/RecordSpool.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestProcess.h"

namespace tarvik {
namespace {

using testing::TestProcess;

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
    RecordSpool spool(scratch.file("spool"));
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
        EXPECT_EQ(text.find("127.0.0.1"), std::string::npos) << text;
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
    const std::string mine = ".claimed-" + std::to_string(::getpid());
    EXPECT_EQ(first[0].claimedPath, first[0].waitingPath + mine);
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
        RecordSpool writer(directory);
        storeAll(writer, 0, 40);
        RecordSpool first(directory);
        RecordSpool second(directory);
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
        RecordSpool writer(directory);
        storeAll(writer, 0, 200);
        std::vector<std::string> taken[2];
        auto drain = [&directory](std::vector<std::string>* bodies) {
            RecordSpool spool(directory);
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
        RecordSpool writer(directory);
        storeAll(writer, 0, 200);
        std::vector<std::unique_ptr<TestProcess>> children;
        for (int index = 0; index < 2; ++index) {
            const std::string output = scratch.file("taken-" + std::to_string(index));
            children.push_back(forkChild([&directory, output] {
                RecordSpool spool(directory);
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
    RecordSpool spool(scratch.file("spool"));
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

    const std::vector<std::string> notices = spool.takeNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("set 2 records aside"), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find(spool.directory()), std::string::npos) << notices[0];
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
        RecordSpool spool(scratch.file("count"), limits);
        storeAll(spool, 0, 5);
        EXPECT_EQ(spool.waitingCount(), 3u);
        const std::vector<std::string> notices = spool.takeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("dropped 2 records"), std::string::npos) << notices[0];
        EXPECT_EQ(bodiesOf(spool.claim(10)), bodiesFrom(2, 5));
    }
    {
        RecordSpool::Limits limits;
        limits.maxBytes = logEntry(0).toJson().size() * 2;
        RecordSpool spool(scratch.file("bytes"), limits);
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
        RecordSpool spool(scratch.file("age"), limits);
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
    RecordSpool spool(scratch.file("spool"));
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

    RecordSpool other(scratch.file("spool"));
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
    RecordSpool spool(plain + "/spool");
    std::string problem;
    EXPECT_FALSE(spool.store(logEntry(0), problem));
    EXPECT_NE(problem.find(plain + "/spool"), std::string::npos) << problem;
    EXPECT_NE(problem.find("cannot be written"), std::string::npos) << problem;
    EXPECT_TRUE(spool.claim(10).empty());
    EXPECT_EQ(spool.waitingCount(), 0u);

    RecordSpool asFile(plain);
    problem.clear();
    EXPECT_FALSE(asFile.store(logEntry(0), problem));
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(scratch.read("plain"), "not a folder\n");
}

}  // namespace
}  // namespace tarvik
