// The back-office simulator, run as a child process and spoken to over HTTP
// on 127.0.0.1, as the IVR, the demo and the end-to-end tests use it.

#include "tests/support/SimProcess.h"
#include "tests/tools/SimTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

using namespace tarvik;

namespace {

const std::string kIsp = "/service/v1/isp/orvel/42";
const httplib::Headers kNoHeaders;

std::string body(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

Json::Value object(std::initializer_list<std::pair<const char*, const char*>> members) {
    Json::Value value(Json::objectValue);
    for (const auto& member : members) {
        value[member.first] = member.second;
    }
    return value;
}

// The id of the first contract of the customer with the document, as the
// simulator answers it.
std::string firstContractOf(httplib::Client& client, const std::string& document) {
    auto result = client.Get(kIsp + "/document/" + document);
    if (!result || result->status != 200) {
        return "";
    }
    return parseJson(result->body)["signatures"][0]["id"].asString();
}

std::vector<Json::Value> journalLines(const std::string& path) {
    std::vector<Json::Value> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(parseJson(line));
    }
    return lines;
}

int exitCodeAfter(SimProcess& sim, int signal) {
    sim.sendSignal(signal);
    int status = 0;
    if (!sim.waitExit(20000, status)) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Sends raw bytes on a new connection and returns whatever comes back
// before the server closes or two seconds pass.
std::string rawExchange(int port, const std::string& bytes) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        shutdown(fd, SHUT_WR);
        char buffer[4096];
        ssize_t got = 0;
        while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return answer;
}

}  // namespace

TEST(BackofficeSim, AnswersEveryOperationForTheExampleCustomers) {
    SimProcess sim({"--port", "0", "--data", exampleCustomersPath()});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    httplib::Client client("127.0.0.1", sim.port());
    boundClient(client);

    auto ready = client.Get("/service/v1/ready");
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->status, 200);
    EXPECT_EQ(parseJson(ready->body)["state"].asString(), "ready");
    // A base path before the service path, or a doubled slash, is tolerated.
    auto prefixed = client.Get("/api//service/v1/ready");
    ASSERT_TRUE(prefixed);
    EXPECT_EQ(prefixed->status, 200);

    // Lookups answer the client document, without the fixture's own keys.
    auto byPhone = client.Get(kIsp + "/phone/11987654321");
    ASSERT_TRUE(byPhone);
    EXPECT_EQ(byPhone->status, 200);
    Json::Value maria = parseJson(byPhone->body);
    EXPECT_EQ(maria["document"].asString(), "52998224725");
    EXPECT_EQ(maria["name"].asString(), "Maria Aparecida da Silva");
    EXPECT_EQ(maria["signatures"][0]["state"].asString(), "connected");
    EXPECT_FALSE(maria.isMember("_comment"));
    EXPECT_FALSE(maria.isMember("externalId"));
    EXPECT_FALSE(maria.isMember("lookupPhones"));
    // Percent-encoded values are decoded; country code and trunk zero are tolerated.
    auto encoded = client.Get(kIsp + "/phone/%2B55%2011987654321");
    ASSERT_TRUE(encoded);
    EXPECT_EQ(parseJson(encoded->body)["document"].asString(), "52998224725");
    auto trunk = client.Get(kIsp + "/phone/01133334444");
    ASSERT_TRUE(trunk);
    EXPECT_EQ(parseJson(trunk->body)["name"].asString(), "João Pedro Santos");
    auto cnpj = client.Get(kIsp + "/document/11.222.333%2F0001-81");
    ASSERT_TRUE(cnpj);
    EXPECT_EQ(cnpj->status, 200);
    EXPECT_EQ(parseJson(cnpj->body)["signatures"].size(), 3u);
    for (const std::string& unknown : {kIsp + "/phone/11900000000", kIsp + "/document/11111111111"}) {
        auto missing = client.Get(unknown);
        ASSERT_TRUE(missing);
        EXPECT_EQ(missing->status, 404) << unknown;
        EXPECT_EQ(parseJson(missing->body)["error"].asString(), "not found");
    }

    // Contract operations.
    std::string unlockable = firstContractOf(client, "90271436506");
    std::string locked = firstContractOf(client, "46302859115");
    ASSERT_FALSE(unlockable.empty());
    ASSERT_FALSE(locked.empty());
    auto unlock = [&](const std::string& contract, const std::string& document) {
        auto result = client.Put(kIsp + "/unlock", kNoHeaders,
                                 body(object({{"contract", contract.c_str()}, {"document", document.c_str()}})),
                                 "application/x-www-form-urlencoded");
        return result ? result->status : -1;
    };
    EXPECT_EQ(unlock(unlockable, "90271436506"), 202);
    EXPECT_EQ(unlock(locked, "46302859115"), 409);
    EXPECT_EQ(unlock("CT-0", "90271436506"), 404);
    EXPECT_EQ(unlock(unlockable, "00000000000"), 404);
    auto notJson = client.Put(kIsp + "/unlock", "<xml/>", "text/xml");
    ASSERT_TRUE(notJson);
    EXPECT_EQ(notJson->status, 400);

    std::string mariaContract = maria["signatures"][0]["id"].asString();
    auto send = client.Post(kIsp + "/send",
                            body(object({{"contract", mariaContract.c_str()},
                                         {"document", "52998224725"},
                                         {"phone", "11987654321"}})),
                            "application/x-www-form-urlencoded");
    ASSERT_TRUE(send);
    EXPECT_EQ(send->status, 200);
    auto protocol = client.Post(kIsp + "/protocol",
                                body(object({{"contract", mariaContract.c_str()},
                                             {"document", "52998224725"},
                                             {"phone", "11987654321"},
                                             {"protocol", "123"}})),
                                "application/x-www-form-urlencoded");
    ASSERT_TRUE(protocol);
    EXPECT_EQ(protocol->status, 202);

    // Tickets: a fixed number, none (null in the fixture), or a new one each time.
    auto ticket = [&](const std::string& document) {
        std::string contract = firstContractOf(client, document);
        auto result = client.Post(kIsp + "/ticket",
                                  body(object({{"channel", "SIP/1"},
                                               {"contract", contract.c_str()},
                                               {"document", document.c_str()},
                                               {"phone", "11987654321"},
                                               {"protocol", "1700000000.1"}})),
                                  "application/x-www-form-urlencoded");
        EXPECT_TRUE(result && result->status == 200) << document;
        return result ? parseJson(result->body) : Json::Value();
    };
    EXPECT_EQ(ticket("18374509279")["externalId"].asString(), "2026120900042");
    EXPECT_FALSE(ticket("52998224725").isMember("externalId"));
    std::string first = ticket("35792468109")["externalId"].asString();
    std::string second = ticket("35792468109")["externalId"].asString();
    EXPECT_FALSE(first.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(first.find_first_not_of("0123456789"), std::string::npos) << first;

    auto identification = client.Post("/service/v1/identification",
                                      body(object({{"data1", "ivr"},
                                                   {"data2", "OrvelV3"},
                                                   {"data3", "11987654321"},
                                                   {"document", "52998224725"},
                                                   {"phone", "11987654321"}})),
                                      "application/x-www-form-urlencoded");
    ASSERT_TRUE(identification);
    EXPECT_EQ(identification->status, 200);
    auto event = client.Post("/service/v1/integration/log", "{\"data\":\"52998224725\",\"event\":\"forward\"}\n",
                             "application/x-www-form-urlencoded");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->status, 200);
    auto logger = client.Post("/service/v1/logger", "{\"eventType\":\"found\"}\n", "application/json");
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->status, 200);

    auto wrongMethod = client.Get(kIsp + "/unlock");
    ASSERT_TRUE(wrongMethod);
    EXPECT_EQ(wrongMethod->status, 405);
    auto unknownPath = client.Get("/service/v1/nothing");
    ASSERT_TRUE(unknownPath);
    EXPECT_EQ(unknownPath->status, 404);
}

TEST(BackofficeSim, CountsRecallsPerDocumentWithinTheWindow) {
    SimProcess sim({"--port", "0"});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    httplib::Client client("127.0.0.1", sim.port());
    boundClient(client);
    auto call = [&](const std::string& document) {
        std::string request = "{\"destination\":\"orvel.ivr\",\"document\":\"" + document + "\"}\n";
        auto registered = client.Post("/service/v1/recall/meta/register", request, "application/x-www-form-urlencoded");
        EXPECT_TRUE(registered && registered->status == 202);
        auto search = client.Post("/service/v1/recall/meta/search", request, "application/x-www-form-urlencoded");
        EXPECT_TRUE(search && search->status == 200);
        return search ? parseJson(search->body) : Json::Value();
    };
    EXPECT_FALSE(call("52998224725").isMember("attempt"));
    EXPECT_EQ(call("52998224725")["attempt"].asInt(), 2);
    EXPECT_EQ(call("52998224725")["attempt"].asInt(), 3);
    EXPECT_FALSE(call("34857120607").isMember("attempt"));
    auto noDocument = client.Post("/service/v1/recall/meta/register", "{}", "application/json");
    ASSERT_TRUE(noDocument);
    EXPECT_EQ(noDocument->status, 400);

    // Calls older than the window no longer count.
    SimProcess shortWindow({"--port", "0", "--recall-window", "1"});
    ASSERT_GT(shortWindow.waitListening(), 0);
    httplib::Client shortClient("127.0.0.1", shortWindow.port());
    boundClient(shortClient);
    const std::string request = "{\"document\":\"71563204835\"}";
    const auto firstRegistered = std::chrono::steady_clock::now();
    shortClient.Post("/service/v1/recall/meta/register", request, "application/json");
    shortClient.Post("/service/v1/recall/meta/register", request, "application/json");
    auto recall = shortClient.Post("/service/v1/recall/meta/search", request, "application/json");
    ASSERT_TRUE(recall);
    // Still a recall, unless a busy machine let the window pass meanwhile.
    if (std::chrono::steady_clock::now() - firstRegistered < std::chrono::seconds(1)) {
        EXPECT_EQ(parseJson(recall->body)["attempt"].asInt(), 2) << recall->body;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto later = shortClient.Post("/service/v1/recall/meta/search", request, "application/json");
    ASSERT_TRUE(later);
    EXPECT_FALSE(parseJson(later->body).isMember("attempt")) << later->body;
}

TEST(BackofficeSim, RequiresTheBearerTokenWhenGivenOne) {
    SimProcess sim({"--port", "0", "--token", "s3cret", "--data", exampleCustomersPath()});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    httplib::Client client("127.0.0.1", sim.port());
    boundClient(client);
    auto statusWith = [&](const httplib::Headers& headers) {
        auto result = client.Get(kIsp + "/phone/11987654321", headers);
        return result ? result->status : -1;
    };
    EXPECT_EQ(statusWith({}), 401);
    EXPECT_EQ(statusWith({{"PreAuthorization", "Bearer wrong"}}), 401);
    EXPECT_EQ(statusWith({{"PreAuthorization", "s3cret"}}), 401);
    EXPECT_EQ(statusWith({{"Authorization", "Bearer s3cret"}}), 401);
    EXPECT_EQ(statusWith({{"PreAuthorization", "Bearer s3cret"}}), 200);
    auto stats = client.Get("/_sim/stats");
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->status, 200);
}

TEST(BackofficeSim, JournalsEveryRequestAsOneJsonLine) {
    TempDir dir;
    std::string journal = dir.file("journal.jsonl");
    SimProcess sim({"--port", "0", "--data", exampleCustomersPath(), "--journal", journal, "--token", "t"});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    httplib::Client client("127.0.0.1", sim.port());
    boundClient(client);
    client.Get(kIsp + "/document/529.982.247%2D25",
               {{"PreAuthorization", "Bearer t"}, {"x-ivr-phone", "11987654321"}, {"x-ivr-protocol", "99.1"}});
    std::string loggerBody = "{\"callerId\":\"11987654321\",\"eventType\":\"trace\"}\n";
    client.Post("/service/v1/logger", {{"PreAuthorization", "Bearer t"}}, loggerBody, "application/json");
    client.Get("/service/v1/ready");  // no token
    client.Get("/_sim/stats");        // not journaled

    // Each line is on disk by the time its answer arrives.
    std::vector<Json::Value> lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["operation"].asString(), "document");
    EXPECT_EQ(lines[0]["method"].asString(), "GET");
    EXPECT_EQ(lines[0]["path"].asString(), kIsp + "/document/529.982.247%2D25");
    EXPECT_EQ(lines[0]["headers"]["x-ivr-phone"].asString(), "11987654321");
    EXPECT_EQ(lines[0]["headers"]["PreAuthorization"].asString(), "Bearer t");
    EXPECT_FALSE(lines[0]["headers"].isMember("REMOTE_ADDR"));
    EXPECT_EQ(lines[0]["status"].asInt(), 200);
    EXPECT_EQ(lines[1]["operation"].asString(), "logger");
    EXPECT_EQ(lines[1]["body"].asString(), loggerBody);
    EXPECT_EQ(lines[1]["headers"]["Content-Type"].asString(), "application/json");
    EXPECT_EQ(lines[2]["operation"].asString(), "ready");
    EXPECT_EQ(lines[2]["status"].asInt(), 401);
    for (const Json::Value& line : lines) {
        EXPECT_TRUE(line["time"].isString());
        EXPECT_GE(line["connection"].asInt(), 1);
    }
    EXPECT_EQ(exitCodeAfter(sim, SIGTERM), 0);
    EXPECT_EQ(journalLines(journal).size(), 3u);
}

TEST(BackofficeSim, InjectsTheFaultsItIsToldTo) {
    TempDir dir;
    std::string html = "<html><body>502 Bad Gateway</body></html>";
    std::string truncated = "{\"document\":\"5299822";
    std::string huge(3 * 1024 * 1024, 'x');
    std::string journal = dir.file("journal.jsonl");
    SimProcess sim({"--port", "0", "--data", exampleCustomersPath(), "--journal", journal,
                    "--status", "ready=500", "--status", "send=202", "--drop", "unlock",
                    "--body", "phone=" + dir.write("page.html", html),
                    "--body", "document=" + dir.write("cut.json", truncated),
                    "--body", "logger=" + dir.write("huge.bin", huge),
                    "--delay-ms", "200"});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    httplib::Client client("127.0.0.1", sim.port());
    boundClient(client);

    auto started = std::chrono::steady_clock::now();
    auto ready = client.Get("/service/v1/ready");
    auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->status, 500);
    EXPECT_EQ(parseJson(ready->body)["state"].asString(), "ready");  // status only
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));

    auto send = client.Post(kIsp + "/send", "{\"contract\":\"CT-100201\",\"document\":\"52998224725\"}",
                            "application/json");
    ASSERT_TRUE(send);
    EXPECT_EQ(send->status, 202);

    auto unlock = client.Put(kIsp + "/unlock", "{\"contract\":\"CT-100205\",\"document\":\"90271436506\"}",
                             "application/json");
    EXPECT_FALSE(unlock) << "answered " << unlock->status;

    auto phone = client.Get(kIsp + "/phone/11987654321");
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->status, 200);
    EXPECT_EQ(phone->body, html);
    EXPECT_EQ(phone->get_header_value("Content-Type"), "text/html");
    auto document = client.Get(kIsp + "/document/52998224725");
    ASSERT_TRUE(document);
    EXPECT_EQ(document->body, truncated);
    auto logger = client.Post("/service/v1/logger", "{}", "application/json");
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->body.size(), huge.size());

    std::vector<Json::Value> lines = journalLines(journal);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2]["operation"].asString(), "unlock");
    EXPECT_TRUE(lines[2]["dropped"].asBool());
    EXPECT_FALSE(lines[2].isMember("status"));
}

TEST(BackofficeSim, SilentAcceptsConnectionsAndNeverAnswers) {
    SimProcess sim({"--port", "0", "--silent"});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();

    // The request is sent and the connection stays open: the client's own
    // one-second read timeout ends the wait, not a refusal or a hang-up.
    httplib::Client client("127.0.0.1", sim.port());
    boundClient(client);
    client.set_read_timeout(1, 0);
    auto ready = client.Get("/service/v1/ready");
    ASSERT_FALSE(ready) << "answered " << ready->status;
    EXPECT_EQ(ready.error(), httplib::Error::Read);

    int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(sim.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /service/v1/ready HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    char byte = 0;
    errno = 0;
    EXPECT_EQ(recv(fd, &byte, 1, 0), -1);  // neither an answer nor end of stream
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
    close(fd);

    EXPECT_EQ(exitCodeAfter(sim, SIGTERM), 0);
}

TEST(BackofficeSim, StopsCleanlyOnSigtermAndSigint) {
    for (int signal : {SIGTERM, SIGINT}) {
        SimProcess sim({"--port", "0"});
        ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
        httplib::Client client("127.0.0.1", sim.port());
        boundClient(client);
        auto ready = client.Get("/service/v1/ready");
        ASSERT_TRUE(ready);
        EXPECT_EQ(exitCodeAfter(sim, signal), 0) << "signal " << signal;
    }

    // A stop wakes answers that are being delayed, and keeps journal lines.
    TempDir dir;
    std::string journal = dir.file("journal.jsonl");
    SimProcess slow({"--port", "0", "--delay-ms", "600000", "--journal", journal});
    ASSERT_GT(slow.waitListening(), 0);
    std::atomic<int> status{-1};
    std::thread pending([&] {
        httplib::Client client("127.0.0.1", slow.port());
        boundClient(client);
        client.set_read_timeout(60, 0);
        auto ready = client.Get("/service/v1/ready");
        status = ready ? ready->status : 0;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (journalLines(journal).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(exitCodeAfter(slow, SIGTERM), 0);
    pending.join();
    EXPECT_EQ(status.load(), 200);
    EXPECT_EQ(journalLines(journal).size(), 1u);
}

TEST(BackofficeSim, KeepsConnectionsAliveAndCountsThem) {
    // Idle connections outlive the test: the burst below may take long on a
    // busy machine, and the kept connection must still be there after it.
    SimProcess sim({"--port", "0", "--data", exampleCustomersPath(), "--keep-alive", "600"});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    auto stats = [&](httplib::Client& client) {
        auto result = client.Get("/_sim/stats");
        return result ? parseJson(result->body) : Json::Value();
    };

    httplib::Client persistent("127.0.0.1", sim.port());
    boundClient(persistent);
    persistent.set_keep_alive(true);
    for (int i = 0; i < 10; ++i) {
        auto result = persistent.Get(kIsp + "/phone/11987654321");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 200);
    }
    Json::Value afterPersistent = stats(persistent);
    EXPECT_EQ(afterPersistent["connections"].asInt(), 1);
    EXPECT_EQ(afterPersistent["requests"].asInt(), 10);

    // Many short calls at once, one connection each, are all served.
    const int kThreads = 16;
    const int kCallsPerThread = 25;
    std::atomic<int> served{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < kCallsPerThread; ++i) {
                httplib::Client client("127.0.0.1", sim.port());
                boundClient(client);
                auto result = client.Get("/service/v1/ready");
                if (result && result->status == 200) {
                    ++served;
                }
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(served.load(), kThreads * kCallsPerThread);
    Json::Value afterBurst = stats(persistent);
    EXPECT_EQ(afterBurst["connections"].asInt(), 1 + kThreads * kCallsPerThread);
    EXPECT_EQ(afterBurst["requests"].asInt(), 10 + kThreads * kCallsPerThread);
}

TEST(BackofficeSim, SurvivesMalformedRequests) {
    SimProcess sim({"--port", "0", "--data", exampleCustomersPath()});
    ASSERT_GT(sim.waitListening(), 0) << sim.standardError();
    int port = sim.port();

    // Whatever the library makes of these (a 4xx answer or a closed
    // connection), the simulator must go on serving.
    std::string garbage = rawExchange(port, "GARBAGE\r\n\r\n");
    EXPECT_TRUE(garbage.empty() || garbage.compare(0, 10, "HTTP/1.1 4") == 0) << garbage;
    rawExchange(port, "GET /service/v1/ready HTTP/1.1\r\nX: " + std::string(200000, 'a') + "\r\n\r\n");
    rawExchange(port, "POST /service/v1/logger HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"short\":");
    rawExchange(port, std::string("\0\1\2\3\xff\xfe", 6));

    httplib::Client client("127.0.0.1", port);
    boundClient(client);
    std::string deep(100000, '[');
    for (const std::string& bad : {deep, std::string("{\"document\":"), std::string("[]"), std::string("")}) {
        auto result = client.Post(kIsp + "/ticket", bad, "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 400) << bad.substr(0, 20);
    }
    auto ready = client.Get("/service/v1/ready");
    ASSERT_TRUE(ready);
    EXPECT_EQ(ready->status, 200);
    EXPECT_EQ(exitCodeAfter(sim, SIGTERM), 0);
}

TEST(BackofficeSim, ChecksItsCommandLine) {
    SimRun help = runSimToEnd({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.output.compare(0, 21, "usage: backoffice-sim"), 0) << help.output;
    EXPECT_NE(help.output.find("--recall-window"), std::string::npos);
    EXPECT_NE(help.output.find("--silent"), std::string::npos);

    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"--bogus"},
             {"--port"},
             {"--port", "70000"},
             {"--status", "nosuch=500"},
             {"--status", "ready=abc"},
             {"--drop", "everything"},
             {"--tls-cert", "cert.pem"},
             {"extra"}}) {
        SimRun run = runSimToEnd(wrong);
        EXPECT_EQ(run.exitStatus, 2) << wrong[0];
        EXPECT_EQ(run.output, "") << wrong[0];
        EXPECT_NE(run.errors.find("backoffice-sim: "), std::string::npos) << wrong[0];
    }

    TempDir dir;
    for (const std::string& data : {dir.file("missing.json"), dir.write("broken.json", "{\"customers\": [")
                                   , dir.write("shape.json", "{\"customers\": {}}")}) {
        SimRun run = runSimToEnd({"--port", "0", "--data", data});
        EXPECT_EQ(run.exitStatus, 1) << data;
        EXPECT_EQ(run.output, "") << data;
    }
    SimRun badBody = runSimToEnd({"--port", "0", "--body", "ready=" + dir.file("absent.html")});
    EXPECT_EQ(badBody.exitStatus, 1);
    SimRun badCertificate = runSimToEnd(
        {"--port", "0", "--tls-cert", dir.write("cert.pem", "not a certificate"), "--tls-key", dir.file("absent.key")});
    EXPECT_EQ(badCertificate.exitStatus, 1);
    EXPECT_NE(badCertificate.errors.find("cannot use the TLS certificate"), std::string::npos) << badCertificate.errors;
}
