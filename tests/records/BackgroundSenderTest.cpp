// The background sender against a local HTTP server: order, each record
// once, what goes to the spool and what does not, the records an earlier
// call left behind, finishing under a limit and flushing the spool.

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "records/BackgroundSender.h"
#include "api/KestroAgiRESTFul.h"
#include "records/RecordSpool.h"
#include "tests/support/SpoolContents.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/RefusingPort.h"
#include "tests/support/TempDir.h"

namespace tarvik {
namespace {

using testing::CannedResponse;
using testing::LocalHttpServer;
using testing::RecordedRequest;
using testing::RefusingPort;

// Every record of these tests belongs to one back office, whatever port it
// is reached on in a test.
const BackOfficeIdentity& office() {
    static const BackOfficeIdentity identity("http://127.0.0.1/base", "test-driver", "7");
    return identity;
}

const std::string kLogger = "/service/v1/logger";
const std::string kEvent = "/service/v1/integration/log";

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
    settings.identity = office();
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
    RecordSpool spool(directory, office());
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
    BackgroundSender sender(settingsFor(server.baseUrl(), "token-one", scratch.file("spool")));
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

TEST(BackgroundSenderTest, UndeliveredRecordsAreSpooledRefusedOnesSetAside) {
    {
        SCOPED_TRACE("503");
        LocalHttpServer server;
        server.answer("POST", kLogger, 503, "{}");
        TempDir scratch;
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")));
        sendThree(sender);
        EXPECT_EQ(bodiesOf(server.requests()), bodies(0, 3));
        EXPECT_EQ(spooledBodies(scratch.file("spool")), bodies(0, 3));
    }
    {
        SCOPED_TRACE("connection refused");
        RefusingPort closed;
        TempDir scratch;
        BackgroundSender sender(settingsFor(closed.baseUrl(), "t", scratch.file("spool")));
        sendThree(sender);
        EXPECT_EQ(spooledBodies(scratch.file("spool")), bodies(0, 3));
        // One line per record: kind, operation, why, and where it is now.
        const std::string line =
            "record logger (POST /service/v1/logger) not delivered: no connection; waiting in the spool";
        EXPECT_EQ(sender.takeNotices(), (std::vector<std::string>{line, line, line}));
    }
    {
        SCOPED_TRACE("400");
        LocalHttpServer server;
        server.answer("POST", kLogger, 400, "{\"error\":\"bad\"}");
        TempDir scratch;
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")));
        sendThree(sender);
        EXPECT_EQ(bodiesOf(server.requests()), bodies(0, 3));
        // Refused: never sent again, but kept aside for the operator, each with its line.
        EXPECT_TRUE(spooledBodies(scratch.file("spool")).empty());
        const std::vector<testing::SpooledRow> aside = testing::asideRows(scratch.file("spool"));
        for (const auto& row : aside) EXPECT_NE(row.body.find("\"n\":"), std::string::npos) << row.body;
        EXPECT_EQ(aside.size(), 3u);
        for (const std::string& line : sender.takeNotices()) {
            EXPECT_NE(line.find("not delivered: answer 400; set aside"), std::string::npos) << line;
        }
    }
    {
        SCOPED_TRACE("spool cannot be written");
        RefusingPort closed;
        TempDir scratch;
        const std::string plain = scratch.write("plain", "x");
        BackgroundSender sender(settingsFor(closed.baseUrl(), "t", plain + "/spool"));
        sendThree(sender);
        // One line about the spool, however many records it could not take.
        std::size_t spoolLines = 0;
        for (const std::string& line : sender.takeNotices()) {
            if (line.find("spool directory") != std::string::npos) ++spoolLines;
        }
        EXPECT_EQ(spoolLines, 1u);
    }
}

TEST(BackgroundSenderTest, TheNextSenderDeliversSpooledRecordsFirstWithItsOwnToken) {
    TempDir scratch;
    const std::string spool = scratch.file("spool");
    {
        RefusingPort closed;
        BackgroundSender outage(settingsFor(closed.baseUrl(), "old-token", spool));
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
    BackgroundSender sender(settingsFor(server.baseUrl(), "new-token", spool));
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
        BackgroundSender outage(settingsFor(closed.baseUrl(), "t", spool));
        for (int number = 10; number < 15; ++number) outage.enqueue(record(kLogger, number));
        outage.finish(std::chrono::milliseconds(0));
    }
    server.clearRequests();
    BackgroundSender::Settings limited = settingsFor(server.baseUrl(), "t", spool);
    limited.spooledPerCall = 2;
    BackgroundSender few(limited);
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
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")));
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
        BackgroundSender sender(settingsFor(server.baseUrl(), "t", scratch.file("spool")));
        sender.start();
        for (int number = 0; number < 5; ++number) sender.enqueue(record(kLogger, number));
        sender.finish(std::chrono::milliseconds(0));
        std::vector<std::string> seen = bodiesOf(server.requests());
        const std::vector<std::string> spooled = spooledBodies(scratch.file("spool"));
        // How many went before the finish came is the scheduler's choice;
        // what was still queued then is spooled, not sent. The one cut under
        // way may have reached the back office too: it waits again, so it is
        // never lost.
        EXPECT_FALSE(spooled.empty());
        const std::size_t sent = seen.size();
        seen.insert(seen.end(), spooled.begin(), spooled.end());
        std::vector<std::string> distinct = seen;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        EXPECT_EQ(distinct, bodies(0, 5));
        EXPECT_LE(seen.size(), distinct.size() + 1);
        if (seen.size() > distinct.size() && sent > 0) {
            EXPECT_EQ(seen[sent - 1], spooled.front());
        }
    }
}

TEST(BackgroundSenderTest, FlushSpoolReportsDeliveredSetAsideAndKept) {
    TempDir scratch;
    const std::string spool = scratch.file("spool");
    {
        RecordSpool filler(spool, office());
        std::string problem;
        ASSERT_TRUE(filler.store(record(kLogger, 0), problem)) << problem;
        ASSERT_TRUE(filler.store(record(kEvent, 1), problem)) << problem;
        ASSERT_TRUE(filler.store(record(kLogger, 2), problem)) << problem;
    }
    {
        // Still down: nothing sent, everything kept.
        RefusingPort closed;
        BackgroundSender sender(settingsFor(closed.baseUrl(), "t", spool));
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
        BackgroundSender sender(settingsFor(server.baseUrl(), "flush-token", spool));
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
        EXPECT_EQ(testing::asideRows(spool).size(), 1u);
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

namespace tarvik {
namespace {

// The back office's answer decides a record's fate: waiting for a later try
// (408, 425, 429, 5xx, 401, 403), set aside (any other 4xx); a Retry-After
// on 429 or 503 holds this back office's records back for that long.
TEST(BackgroundSenderTest, EachAnswerDecidesWhetherARecordWaitsOrIsSetAside) {
    const std::vector<int> statuses = {408, 425, 401, 403, 400, 404, 503, 429, 429};
    LocalHttpServer server;
    server.handle("POST", kLogger, [&statuses](const RecordedRequest& request) {
        CannedResponse answer;
        const int number = std::stoi(request.body.substr(5));
        answer.status = statuses.at(static_cast<std::size_t>(number));
        // Only the last one asks for a pause.
        if (number == 8) answer.headers.emplace_back("Retry-After", "120");
        return answer;
    });
    TempDir scratch;
    const std::string spool = scratch.file("spool");
    BackgroundSender sender(settingsFor(server.baseUrl(), "t", spool));
    sender.start();
    for (int number = 0; number < 9; ++number) sender.enqueue(record(kLogger, number));
    sender.finish(kFinishLimit);

    EXPECT_EQ(bodiesOf(server.requests()), bodies(0, 9));
    const std::vector<testing::SpooledRow> aside = testing::asideRows(spool);
    for (const auto& row : aside) EXPECT_TRUE(row.body == "{\"n\":4}" || row.body == "{\"n\":5}") << row.body;
    EXPECT_EQ(aside.size(), 2u);
    const std::vector<std::string> notices = sender.takeNotices();
    ASSERT_EQ(notices.size(), 9u);
    for (std::size_t index = 0; index < notices.size(); ++index) {
        EXPECT_NE(notices[index].find("answer " + std::to_string(statuses[index])), std::string::npos)
            << notices[index];
        const bool refused = statuses[index] == 400 || statuses[index] == 404;
        EXPECT_NE(notices[index].find(refused ? "set aside" : "waiting in the spool"), std::string::npos)
            << notices[index];
    }

    // The pause holds for every sender of this back office: nothing is
    // sent, neither the waiting records nor new ones, which wait too.
    server.clearRequests();
    BackgroundSender next(settingsFor(server.baseUrl(), "t", spool));
    next.start();
    next.enqueue(record(kLogger, 9));
    next.finish(kFinishLimit);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(next.waitingInSpool(), 8u);
    const BackgroundSender::FlushReport report = next.flushSpool();
    EXPECT_EQ(report.delivered, 0u);
    EXPECT_EQ(server.requestCount(), 0u);
}

// Records of one back office are never sent to another, even through a
// shared spool; the other's records are left where they are.
TEST(BackgroundSenderTest, ASpoolSharedByTwoBackOfficesDeliversEachOnlyToItsOwn) {
    TempDir scratch;
    const std::string spool = scratch.file("spool");
    LocalHttpServer first;
    first.answer("POST", kLogger, 200, "{}");
    LocalHttpServer second;
    second.answer("POST", kLogger, 200, "{}");
    BackgroundSender::Settings ofFirst = settingsFor(first.baseUrl(), "first-token", spool);
    ofFirst.identity = BackOfficeIdentity(first.baseUrl(), "driver", "1");
    BackgroundSender::Settings ofSecond = settingsFor(second.baseUrl(), "second-token", spool);
    ofSecond.identity = BackOfficeIdentity(second.baseUrl(), "driver", "1");
    {
        BackgroundSender outage(ofFirst);
        for (int number = 0; number < 3; ++number) outage.enqueue(record(kLogger, number));
        outage.finish(std::chrono::milliseconds(0));
    }
    BackgroundSender other(ofSecond);
    EXPECT_EQ(other.flushSpool().delivered, 0u);
    EXPECT_EQ(second.requestCount(), 0u);
    EXPECT_EQ(other.waitingInSpool(), 0u);

    // Another plugin id is another back office too, at the same address.
    BackgroundSender::Settings sameAddress = ofFirst;
    sameAddress.identity = BackOfficeIdentity(first.baseUrl(), "driver", "2");
    BackgroundSender neighbour(sameAddress);
    EXPECT_EQ(neighbour.flushSpool().delivered, 0u);
    EXPECT_EQ(first.requestCount(), 0u);

    BackgroundSender own(ofFirst);
    EXPECT_EQ(own.flushSpool().delivered, 3u);
    EXPECT_EQ(bodiesOf(first.requests()), bodies(0, 3));
    for (const RecordedRequest& request : first.requests()) {
        EXPECT_EQ(request.header("PreAuthorization"), "Bearer first-token");
    }
    EXPECT_EQ(own.waitingInSpool(), 0u);
}

}  // namespace
}  // namespace tarvik
