// Calling numbers are chosen by whoever places the call. Numbers carrying
// line breaks, quotes, format sequences, path pieces and sheer length must
// travel as plain text: never a second AGI command, never a format, never a
// different back-office resource, and the call still ends at its exit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/support/IvrCall.h"

namespace tarvik::testing {
namespace {

using namespace faults;

const std::string kPhonePath = "/service/v1/isp/demo/1/phone/";

// The caller id as the program reads it from the start-up block: the line
// ends at the first line feed, spaces around the value are dropped.
std::string asReadFromStartup(const std::string& raw) {
    std::string value = raw.substr(0, raw.find('\n'));
    value.erase(0, value.find_first_not_of(' '));
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
}

// Undoes percent-encoding; false for a malformed escape.
bool percentDecode(const std::string& text, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            return false;
        }
        decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return true;
}

std::string withoutLineBreaks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }), text.end());
    return text;
}

// What the program sends the back office: these headers and no others.
const std::set<std::string> kRequestHeaders = {"Accept", "Addon-Lumora", "Content-Length", "Content-Type", "Expect",
                                               "Host", "PreAuthorization", "x-ivr-phone", "x-ivr-plugin-driver",
                                               "x-ivr-plugin-id", "x-ivr-protocol"};

// Checks every request of a call: only the program's own headers, no line
// break in any of them, and every body a JSON object.
void expectCleanRequests(const IvrCallResult& result) {
    for (const JournalEntry& entry : result.journal) {
        for (const auto& header : entry.headers) {
            EXPECT_EQ(kRequestHeaders.count(header.first), 1u) << "injected header " << header.first;
            EXPECT_EQ(header.second.find_first_of("\r\n"), std::string::npos) << header.first;
        }
        if (entry.method != "GET") {
            EXPECT_TRUE(entry.body.isObject()) << entry.operation << ": " << entry.bodyText;
        }
    }
}

TEST(HostileCallerId, CallerIdTravelsAsPlainText) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig();

    struct Case {
        std::string name;
        std::string raw;  // agi_callerid as Asterisk writes it
    };
    const std::vector<Case> cases = {
        {"carriage return and a command", "1133\rHANGUP"},
        {"carriage return, line feed", "11\r\nEXEC Goto pwned,666,1"},
        {"line feed and a command", "1133\nHANGUP"},
        {"quotes and backslashes", "\"11\" 1 \\\" VERBOSE \\\\\"pwned\" 1"},
        {"format sequences", "%n%s%s%n%x%p%.99999d%%"},
        {"path climbing to another resource", "11987654321/../../document/52998224725"},
        {"dot segments", "../../../ready"},
        {"query and fragment", "11987654321?token=x&phone=1#frag"},
        {"spaces and text", "  Rig Caller <1133>  "},
        {"UTF-8", "S\xC3\xA3o Paulo \xE2\x98\x8E 11 3030-0000"},
    };
    // Not found by its number, the caller gives the document (each program
    // asks its own way), then asks for the open invoice.
    struct Program {
        std::string path;
        std::map<std::string, std::string> answers;
    };
    const std::vector<Program> programs = {
        {orvelProgram(), {{"Orvel-u4-04", "52998224725"}, {"Orvel-u4-33", "1"}}},
        {pelionProgram(), {{"Orvel-u4-04", "2"}, {"Orvel-u4-05", "52998224725"}, {"Orvel-u4-33", "1"}}},
    };
    for (const Program& program : programs) {
        for (const Case& hostile : cases) {
            SCOPED_TRACE(program.path.substr(program.path.rfind('/') + 1) + ": " + hostile.name);
            const std::string callerId = asReadFromStartup(hostile.raw);
            IvrCall call;
            call.program = program.path;
            call.arguments = {"atendimento", config};
            call.callerId = hostile.raw;
            call.answersByPrompt = program.answers;
            IvrCallResult result = runIvrCall(office, call);

            EXPECT_EQ(result.exitStatus(), 0);
            expectOnlyProgramCommands(result.commands());
            EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);
            EXPECT_TRUE(loggedLiterally(result.commands(), "phone detected: " + onOneLine(callerId)))
                << transcript(result);

            // The lookup asked for exactly this number, as one path segment.
            std::vector<JournalEntry> lookups = result.requests("phone");
            ASSERT_EQ(lookups.size(), 1u) << transcript(result);
            for (const JournalEntry& lookup : lookups) {
                ASSERT_TRUE(startsWith(lookup.path, kPhonePath)) << lookup.path;
                std::string segment = lookup.path.substr(kPhonePath.size()), decoded;
                EXPECT_EQ(segment.find_first_of("/?#"), std::string::npos) << segment;
                ASSERT_TRUE(percentDecode(segment, decoded)) << segment;
                EXPECT_EQ(decoded, callerId);
            }
            std::vector<JournalEntry> documents = result.requests("document");
            ASSERT_EQ(documents.size(), 1u);
            EXPECT_EQ(documents[0].path, "/service/v1/isp/demo/1/document/52998224725");
            EXPECT_EQ(documents[0].headers["x-ivr-phone"], withoutLineBreaks(callerId));

            // Bodies carry the number literally.
            expectCleanRequests(result);
            ASSERT_EQ(result.requests("send").size(), 1u);
            EXPECT_EQ(result.requests("send")[0].body["phone"].asString(), callerId);
            ASSERT_EQ(result.requests("identification").size(), 1u);
            EXPECT_EQ(result.requests("identification")[0].body["data3"].asString(), callerId);
            ASSERT_EQ(result.requests("recall-register").size(), 1u);
            EXPECT_EQ(result.requests("recall-register")[0].body["e164"].asString(), callerId);
            for (const JournalEntry& entry : result.requests("logger")) {
                EXPECT_EQ(entry.body["callerId"].asString(), callerId);
                EXPECT_EQ(entry.body["source"].asString(), callerId);
            }
            EXPECT_EQ(forwardedKey(result), "50011");
        }
    }
}

// A 10 KB number does not fit a request line: it must not be looked up cut
// to a different number. (The simulator refuses form bodies above 8 KiB, so
// only the requests it journaled can be checked for the number.)
TEST(HostileCallerId, OverlongNumberIsNeverLookedUpCut) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    const std::string callerId = std::string(10240, '7') + "\"%n%s\rHANGUP";
    IvrCall call;
    call.arguments = {"atendimento", office.writeConfig()};
    call.callerId = callerId;
    call.answersByPrompt = {{"Orvel-u4-04", "52998224725"}, {"Orvel-u4-33", "1"}};
    IvrCallResult result = runIvrCall(office, call);

    EXPECT_EQ(result.exitStatus(), 0);
    expectOnlyProgramCommands(result.commands());
    EXPECT_EQ(result.lastGoto(), gotoExit("50011")) << transcript(result);
    EXPECT_TRUE(loggedLiterally(result.commands(), "phone detected: " + onOneLine(callerId)));
    expectCleanRequests(result);
    for (const JournalEntry& lookup : result.requests("phone")) {
        std::string decoded;
        ASSERT_TRUE(percentDecode(lookup.path.substr(kPhonePath.size()), decoded));
        EXPECT_EQ(decoded.size(), callerId.size()) << "looked up a different number";
    }
    for (const JournalEntry& entry : result.requests("logger")) EXPECT_EQ(entry.body["callerId"].asString(), callerId);
}

}  // namespace
}  // namespace tarvik::testing
