#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ivr/BackOfficeSteps.h"
#include "tests/ivr/BackOfficeTestSupport.h"
#include "agi/RecordingSession.h"

namespace tarvik {
namespace {

using testing::RawOneShotServer;
using testing::TestConfiguration;
using Lines = std::vector<std::string>;

std::string requestLine(RawOneShotServer& raw) {
    const std::string head = raw.head();
    return head.substr(0, head.find("\r\n"));
}

// The request keeps its headers sorted by name, so they leave in byte
// order (upper case first), whatever order the client set them in.
TEST(BackOfficeStepsWireTest, HeadersGoOutInByteOrderOfTheirNames) {
    {
        RawOneShotServer raw(R"({"state":"ready"})");
        TestConfiguration config(raw.baseUrl());
        config.marks["header-lumora"] = "9";
        BackOfficeSteps client(&config);
        RecordingSession session;
        EXPECT_TRUE(client.isReady(session));
        EXPECT_EQ(requestLine(raw), "GET /service/v1/ready HTTP/1.1");
        EXPECT_EQ(raw.headerNamesOnWire(), (Lines{"Host", "Accept", "Addon-Lumora", "PreAuthorization",
                                                  "x-ivr-plugin-driver", "x-ivr-plugin-id"}));
    }
    {
        RawOneShotServer raw(R"({"document":"1"})");
        TestConfiguration config(raw.baseUrl());
        config.marks["header-lumora"] = "9";
        BackOfficeSteps client(&config);
        RecordingSession session;
        std::unique_ptr<ISPClient> found(client.getClientByDocument(session, "1", "2", "3"));
        EXPECT_NE(found, nullptr);
        EXPECT_EQ(requestLine(raw), "GET /ivr/client/document/1 HTTP/1.1");
        EXPECT_EQ(raw.headerNamesOnWire(),
                  (Lines{"Host", "Accept", "Addon-Lumora", "PreAuthorization", "x-ivr-phone", "x-ivr-plugin-driver",
                         "x-ivr-plugin-id", "x-ivr-protocol"}));
    }
    {
        RawOneShotServer raw("");
        TestConfiguration config(raw.baseUrl());
        config.marks["header-lumora"] = "9";
        BackOfficeSteps client(&config);
        RecordingSession session;
        client.logger(session, "50001", "forward", nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_TRUE(session.operations().empty());
        EXPECT_EQ(requestLine(raw), "POST /service/v1/logger HTTP/1.1");
        EXPECT_EQ(raw.headerNamesOnWire(), (Lines{"Host", "Accept", "Content-Type", "PreAuthorization",
                                                  "x-ivr-plugin-driver", "x-ivr-plugin-id", "Content-Length"}));
    }
}

}  // namespace
}  // namespace tarvik
