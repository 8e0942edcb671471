// The background sender against a local HTTP server: order, each record
// once, what goes to the spool and what does not, the records an earlier
// call left behind, finishing under a limit and flushing the spool.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "api/BackgroundSender.h"
#include "api/KestroAgiRESTFul.h"
#include "api/RecordSpool.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/TempDir.h"

namespace tarvik {
namespace {

using testing::CannedResponse;
using testing::LocalHttpServer;
using testing::RecordedRequest;
using testing::RefusingPort;

const std::string kLogger = "/service/v1/logger";
const std::string kEvent = "/service/v1/event";

BackOfficeRecord record(const std::string& path, int number) {
    BackOfficeRecord made;
    made.kind = path == kLogger ? "logger" : "event";
    made.method = KestroAgiRESTFul::METHOD_POST;
    made.path = path;
    made.headers["Content-Type"] = "application/json";
    made.body = "{\"n\":" + std::to_string(number) + "}";
    made.failureText = "record " + std::to_string(number) + " not delivered";
    return made;
}

BackgroundSender::Settings settingsFor(const std::string& baseUri, const std::string& token,
                                       const std::string& spoolDirectory) {
    BackgroundSender::Settings settings;
    settings.baseUri = baseUri;
    settings.accessToken = token;
    settings.options.connectSeconds = 2;
    settings.options.totalSeconds = 5;
    settings.spoolDirectory = spoolDirectory;
    return settings;
}

std::vector<std::string> bodiesOf(const std::vector<RecordedRequest>& requests) {
    std::vector<std::string> bodies;
    for (const RecordedRequest& request : requests) bodies.push_back(request.body);
    return bodies;
}

std::vector<std::string> bodies(int from, int to) {
    std::vector<std::string> made;
    for (int number = from; number < to; ++number) made.push_back(record(kLogger, number).body);
    return made;
}

// The bodies waiting in a spool, oldest first (the spool is left as it was).
std::vector<std::string> spooledBodies(const std::string& directory) {
    RecordSpool spool(directory);
    std::vector<RecordSpool::Claimed> claimed = spool.claim(1000);
    std::vector<std::string> found;
    for (const auto& item : claimed) {
        found.push_back(item.record.body);
        spool.release(item);
    }
    return found;
}

const auto kFinishLimit = std::chrono::milliseconds(10000);

TEST(BackgroundSenderTest, SendsInOrderEachOnceWithTheToken) {
    LocalHttpServer server;
    server.answer("POST", kLogger, 200, "{}");
    TempDir scratch;
    std::atomic<bool> giveUp{false};
    BackgroundSender sender(settingsFor(server.baseUrl(), "token-one", scratch.file("spool")), &giveUp);
    sender.start();
    for (int number = 0; number < 8; ++number) sender.enqueue(record(kLogger, number));
    sender.finish(kFinishLimit);

    const std::vector<RecordedRequest> received = server.requests();
    EXPECT_EQ(bodiesOf(received), bodies(0, 8));
    for (const RecordedRequest& request : received) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, kLogger);
        EXPECT_EQ(request.header("PreAuthorization"), "Bearer token-one");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
    }
    EXPECT_TRUE(spooledBodies(scratch.file("spool")).empty());
    EXPECT_TRUE(sender.takeNotices().empty());
}

// Queues records 0 to 2 and finishes the sender.
void sendThree(BackgroundSender& sender) {
    sender.start();
    for (int number = 0; number < 3; ++number) sender.enqueue(record(kLogger, number));
    sender.finish(kFinishLimit);
}

TEST(BackgroundSenderTest, UndeliveredRecordsAreSpooledRefusedOnesAreNot) {
    {
        SCOPED_TRACE("503");
        LocalHttpServer server;
        server.answer("POST", kLogger, 503, "{}");
        TempDir scratch;
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")), nullptr);
        sendThree(sender);
        EXPECT_EQ(bodiesOf(server.requests()), bodies(0, 3));
        EXPECT_EQ(spooledBodies(scratch.file("spool")), bodies(0, 3));
    }
    {
        SCOPED_TRACE("connection refused");
        RefusingPort closed;
        TempDir scratch;
        BackgroundSender sender(settingsFor(closed.baseUrl(), "t", scratch.file("spool")), nullptr);
        sendThree(sender);
        EXPECT_EQ(spooledBodies(scratch.file("spool")), bodies(0, 3));
        // The operation's own failure line, once per record.
        const std::vector<std::string> notices = sender.takeNotices();
        EXPECT_EQ(notices, (std::vector<std::string>{"record 0 not delivered", "record 1 not delivered",
                                                     "record 2 not delivered"}));
    }
    {
        SCOPED_TRACE("400");
        LocalHttpServer server;
        server.answer("POST", kLogger, 400, "{\"error\":\"bad\"}");
        TempDir scratch;
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")), nullptr);
        sendThree(sender);
        EXPECT_EQ(bodiesOf(server.requests()), bodies(0, 3));
        EXPECT_TRUE(spooledBodies(scratch.file("spool")).empty());
        EXPECT_FALSE(std::filesystem::exists(scratch.file("spool/aside")));
    }
    {
        SCOPED_TRACE("spool cannot be written");
        RefusingPort closed;
        TempDir scratch;
        const std::string plain = scratch.write("plain", "x");
        BackgroundSender sender(settingsFor(closed.baseUrl(), "t", plain + "/spool"), nullptr);
        sendThree(sender);
        // One line about the spool, however many records it could not take.
        std::size_t spoolLines = 0;
        for (const std::string& line : sender.takeNotices()) {
            if (line.find("cannot be written") != std::string::npos) ++spoolLines;
        }
        EXPECT_EQ(spoolLines, 1u);
    }
}

TEST(BackgroundSenderTest, TheNextSenderDeliversSpooledRecordsFirstWithItsOwnToken) {
    TempDir scratch;
    const std::string spool = scratch.file("spool");
    {
        RefusingPort closed;
        BackgroundSender outage(settingsFor(closed.baseUrl(), "old-token", spool), nullptr);
        outage.start();
        for (int number = 0; number < 4; ++number) outage.enqueue(record(kLogger, number));
        outage.finish(kFinishLimit);
    }
    ASSERT_EQ(spooledBodies(spool), bodies(0, 4));
    for (const std::string& name : {std::string("old-token"), std::string("Bearer")}) {
        for (const auto& item : std::filesystem::directory_iterator(spool)) {
            EXPECT_EQ(TempDir::readFile(item.path().string()).find(name), std::string::npos) << item.path();
        }
    }

    LocalHttpServer server;
    server.answer("POST", kLogger, 200, "{}");
    BackgroundSender sender(settingsFor(server.baseUrl(), "new-token", spool), nullptr);
    sender.enqueue(record(kLogger, 4));
    sender.start();
    sender.enqueue(record(kLogger, 5));
    sender.finish(kFinishLimit);

    const std::vector<RecordedRequest> received = server.requests();
    EXPECT_EQ(bodiesOf(received), bodies(0, 6));
    for (const RecordedRequest& request : received) {
        EXPECT_EQ(request.header("PreAuthorization"), "Bearer new-token");
    }
    EXPECT_TRUE(spooledBodies(spool).empty());

    // A sender takes at most its share of the spool; the rest waits.
    {
        RefusingPort closed;
        BackgroundSender outage(settingsFor(closed.baseUrl(), "t", spool), nullptr);
        for (int number = 10; number < 15; ++number) outage.enqueue(record(kLogger, number));
        outage.finish(std::chrono::milliseconds(0));
    }
    server.clearRequests();
    BackgroundSender::Settings limited = settingsFor(server.baseUrl(), "t", spool);
    limited.spooledPerCall = 2;
    BackgroundSender few(limited, nullptr);
    few.start();
    few.finish(kFinishLimit);
    EXPECT_EQ(bodiesOf(server.requests()), bodies(10, 12));
    EXPECT_EQ(spooledBodies(spool), bodies(12, 15));
}

TEST(BackgroundSenderTest, FinishWithoutTimeSpoolsWhatIsStillQueued) {
    {
        // Never started: everything queued waits in the spool.
        LocalHttpServer server;
        server.answer("POST", kLogger, 200, "{}");
        TempDir scratch;
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")), nullptr);
        for (int number = 0; number < 3; ++number) sender.enqueue(record(kLogger, number));
        sender.finish(std::chrono::milliseconds(0));
        EXPECT_EQ(server.requestCount(), 0u);
        EXPECT_EQ(spooledBodies(scratch.file("spool")), bodies(0, 3));
    }
    {
        // Started against a slow back office: the record under way ends
        // within its own limit, the rest is spooled; none is lost or doubled.
        LocalHttpServer server;
        server.handle("POST", kLogger, [&server](const RecordedRequest&) {
            server.sleepUnlessStopped(std::chrono::milliseconds(500));
            CannedResponse answer;
            answer.body = "{}";
            return answer;
        });
        TempDir scratch;
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")), nullptr);
        sender.start();
        for (int number = 0; number < 5; ++number) sender.enqueue(record(kLogger, number));
        sender.finish(std::chrono::milliseconds(0));
        std::vector<std::string> seen = bodiesOf(server.requests());
        const std::vector<std::string> spooled = spooledBodies(scratch.file("spool"));
        // How many went before the finish came is the scheduler's choice;
        // what was still queued then is spooled, not sent.
        EXPECT_FALSE(spooled.empty());
        seen.insert(seen.end(), spooled.begin(), spooled.end());
        EXPECT_EQ(seen, bodies(0, 5));
    }
}

TEST(BackgroundSenderTest, FlushSpoolReportsDeliveredSetAsideAndKept) {
    TempDir scratch;
    const std::string spool = scratch.file("spool");
    {
        RecordSpool filler(spool);
        std::string problem;
        ASSERT_TRUE(filler.store(record(kLogger, 0), problem)) << problem;
        ASSERT_TRUE(filler.store(record(kEvent, 1), problem)) << problem;
        ASSERT_TRUE(filler.store(record(kLogger, 2), problem)) << problem;
    }
    {
        // Still down: nothing sent, everything kept.
        RefusingPort closed;
        BackgroundSender sender(settingsFor(closed.baseUrl(), "t", spool), nullptr);
        const BackgroundSender::FlushReport report = sender.flushSpool();
        EXPECT_EQ(report.delivered, 0u);
        EXPECT_EQ(report.setAside, 0u);
        EXPECT_EQ(report.keptForLater, 3u);
        EXPECT_EQ(spooledBodies(spool).size(), 3u);
    }
    {
        // Back: the event is refused and set aside, the entries delivered.
        LocalHttpServer server;
        server.answer("POST", kLogger, 200, "{}");
        server.answer("POST", kEvent, 422, "{}");
        BackgroundSender sender(settingsFor(server.baseUrl(), "flush-token", spool), nullptr);
        const BackgroundSender::FlushReport report = sender.flushSpool();
        EXPECT_EQ(report.delivered, 2u);
        EXPECT_EQ(report.setAside, 1u);
        EXPECT_EQ(report.keptForLater, 0u);
        const std::vector<RecordedRequest> received = server.requests();
        ASSERT_EQ(received.size(), 3u);
        EXPECT_EQ(received[0].path, kLogger);
        EXPECT_EQ(received[1].path, kEvent);
        EXPECT_EQ(received[2].path, kLogger);
        for (const RecordedRequest& request : received) {
            EXPECT_EQ(request.header("PreAuthorization"), "Bearer flush-token");
        }
        EXPECT_TRUE(spooledBodies(spool).empty());
        std::size_t aside = 0;
        for (const auto& item : std::filesystem::directory_iterator(spool + "/aside")) {
            (void)item;
            ++aside;
        }
        EXPECT_EQ(aside, 1u);
        const std::vector<std::string> notices = sender.takeNotices();
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_NE(notices[0].find("set 1 records aside"), std::string::npos) << notices[0];

        // Nothing left: a second flush sends nothing.
        const BackgroundSender::FlushReport again = sender.flushSpool();
        EXPECT_EQ(again.delivered + again.setAside + again.keptForLater, 0u);
        EXPECT_EQ(server.requestCount(), 3u);
    }
}

}  // namespace
}  // namespace tarvik
