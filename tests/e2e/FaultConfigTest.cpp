// Broken configuration, profile and robot files: the program says what is
// wrong with the operator's messages, never crashes, exits with the runner's
// status 0, and sends the back office nothing it should not.

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/support/IvrCall.h"

namespace tarvik::testing {
namespace {

using namespace faults;

const std::string kEndpointsRequired =
    "endpoints find client by document, invoice send and client unlock are required";

bool hasMessage(const IvrCallResult& result, const std::string& message) {
    std::vector<std::string> messages = loggedMessages(result.commands());
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::vector<std::string> operations(const IvrCallResult& result) {
    std::vector<std::string> names;
    for (const JournalEntry& entry : result.journal) names.push_back(entry.operation);
    return names;
}

// Each message was logged, with the configuration's path in place of "%s".
void expectMessages(const IvrCallResult& result, const std::vector<std::string>& messages, const std::string& path) {
    for (std::string message : messages) {
        std::string::size_type at = message.find("%s");
        if (at != std::string::npos) message.replace(at, 2, path);
        EXPECT_TRUE(hasMessage(result, message)) << message << "\n" << transcript(result);
    }
}

// A configuration that cannot be used stops the call before it is answered:
// no command to the channel, no hand-over, no request, although the files
// that parse name the simulator as their back office.
TEST(FaultConfig, UnusableConfigurationStopsTheCallUnanswered) {
    IvrBackOffice office;
    ASSERT_GT(office.port(), 0);
    const std::string kestro = "\"kestro\": \"" + office.baseUrl() + "\", \"token\": \"change-me\"";
    struct Case {
        std::string name;
        const char* content;  // null: the file does not exist
        std::vector<std::string> messages;  // "%s" stands for the path
    };
    const std::string badJson = "failure on load json configuration from file %s";
    const std::vector<Case> cases = {
        {"missing", nullptr, {"configuration file %s not exists"}},
        {"empty", "", {badJson}},
        {"not JSON", "kestro = http://127.0.0.1\n", {badJson}},
        {"XML", "<?xml version=\"1.0\"?><config><kestro>http://127.0.0.1</kestro></config>\n", {badJson}},
        {"truncated JSON", "{\"kestro\": \"http://127.0.0.1\", \"plugin\": {\"driver\": \"demo\", \"id\"", {badJson}},
        {"array", "[{\"plugin\": {\"driver\": \"demo\", \"id\": \"1\"}}]", {}},
        {"number", "42", {}},
        {"no plugin", "{KESTRO}", {}},
        {"plugin is a text", "{KESTRO, \"plugin\": \"demo/1\"}", {}},
        {"plugin id is a number", "{KESTRO, \"plugin\": {\"driver\": \"demo\", \"id\": 1}}",
         {"failure on load plugin data"}},
        {"plugin without driver", "{KESTRO, \"plugin\": {\"id\": \"1\"}}", {"failure on load plugin data"}},
    };
    for (const Case& broken : cases) {
        SCOPED_TRACE(broken.name);
        std::string path = office.dir().file("broken.json");
        ::unlink(path.c_str());
        if (broken.content != nullptr) {
            std::string content = broken.content;
            std::string::size_type at = content.find("KESTRO");
            if (at != std::string::npos) content.replace(at, 6, kestro);
            office.dir().write("broken.json", content);
        }
        IvrCall call;
        call.arguments = {"atendimento", path};
        IvrCallResult result = runIvrCall(office, call);

        EXPECT_EQ(result.exitStatus(), 0);
        expectOnlyProgramCommands(result.commands());
        expectMessages(result, broken.messages, path);
        EXPECT_TRUE(hasMessage(result, kEndpointsRequired)) << transcript(result);
        EXPECT_FALSE(result.sent("ANSWER"));
        EXPECT_EQ(result.lastGoto(), "");
        EXPECT_TRUE(result.journal.empty()) << operations(result).size() << " requests";
    }
}

// A profile that does not load in full is reported, and the call runs with
// what was loaded before the fault.
TEST(FaultConfig, BrokenProfileIsReportedAndTheCallGoesOn) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    struct Case {
        std::string name;
        std::string overrides;
        std::vector<std::string> messages;  // "%s" stands for the path
        std::string exitKey;
    };
    const std::string routeLoaded = "configuration profile route is loaded  from file %s";
    const std::vector<Case> cases = {
        {"profile is a number", R"({"profile": 7})",
         {"no route or route is not array in configuration profile file %s", "failure on load profile"}, "50011"},
        {"route is a text", R"({"profile": {"route": "50011=9000"}})",
         {"no route or route is not array in configuration profile file %s", "failure on load profile"}, "50011"},
        {"audio is an object", R"({"profile": {"audio": {"dir": "/tmp/"}}})",
         {routeLoaded, "no audio is not array in configuration profile file %s", "failure on load profile"}, "50011"},
        {"audio entry without variables", R"({"profile": {"audio": [{"dir": "/tmp/"}]}})",
         {routeLoaded, "failure on parse audio profile in configuration profile file %s", "failure on load profile"},
         "50011"},
        // The entry is kept, without its condition, before the fault.
        {"route condition without description",
         R"({"profile": {"route": [{"destinations": {"50011": "9000"}, "variables": {"values": []}}]}})",
         {"failure on parse route profile in configuration profile file %s", "failure on load profile"}, "9000"},
        {"duplicate mark in a condition",
         R"({"profile": {"route": [{"destinations": {"50011": "9000"}, "variables": {"description": "d",
             "values": [{"mark": "state", "value": "ready"}, {"mark": "state", "value": "x"}]}}]}})",
         {"failure on parse route profile in configuration profile file %s", "failure on load profile"}, "9000"},
    };
    for (const Case& broken : cases) {
        SCOPED_TRACE(broken.name);
        std::string path = office.writeConfig(broken.overrides);
        IvrCall call;
        call.arguments = {"atendimento", path};
        call.answersByPrompt["Orvel-u4-33"] = "1";
        IvrCallResult result = runIvrCall(office, call);

        EXPECT_EQ(result.exitStatus(), 0);
        expectOnlyProgramCommands(result.commands());
        expectMessages(result, broken.messages, path);
        EXPECT_EQ(result.lastGoto(), gotoExit(broken.exitKey)) << transcript(result);
        EXPECT_EQ(forwardedKey(result), "50011");  // the back office hears the key, not the extension
    }

    // Values of the wrong type are skipped: "kestro" as a number leaves no
    // back office to talk to, and nothing is sent anywhere.
    IvrCall call;
    call.arguments = {"atendimento", office.writeConfig(R"({"kestro": 8080, "feature": ["recall"],
        "profile": {"route": [{"destinations": {"50003": {"to": "9000"}, "50002": [1]}}]}})")};
    call.answersByPrompt["Orvel-u4-04"] = "52998224725";
    IvrCallResult result = runIvrCall(office, call);
    EXPECT_EQ(result.exitStatus(), 0);
    EXPECT_TRUE(startsWith(result.lastGoto(), "EXEC Goto ivr-exits,")) << transcript(result);
    EXPECT_TRUE(hasMessage(result, "is client, but server is not ready")) << transcript(result);
    EXPECT_TRUE(result.journal.empty());
}

// Emulator mode with a robot file that does not load: the program says why
// on one line and stops before the call, so no answer-less call passes for
// the scenario and the back office hears nothing.
TEST(FaultConfig, BrokenRobotFileStopsBeforeTheCall) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig();
    struct Case {
        std::string name;
        const char* content;  // null: the file does not exist
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"missing", nullptr, "robot.xml cannot be read: No such file or directory (looked for ./robot.xml and "},
        {"empty", "", "./robot.xml is not well-formed XML"},
        {"not XML", "agi_callerid=11987654321\n", "./robot.xml is not well-formed XML"},
        {"JSON", "{\"agis\": {\"agi_callerid\": \"11987654321\"}}", "./robot.xml is not well-formed XML"},
        {"truncated XML", "<kestro-agi><agis><agi variable=\"agi_callerid\" value=\"1198765",
         "./robot.xml is not well-formed XML"},
        {"other root", "<robot><agis><agi variable=\"agi_callerid\" value=\"11987654321\"/></agis></robot>",
         "./robot.xml: expected root element <kestro-agi>, found <robot>"},
        {"root in upper case", "<KESTRO-AGI><agis><agi variable=\"agi_callerid\" value=\"11987654321\"/></agis>"
                               "</KESTRO-AGI>", "./robot.xml: expected root element <kestro-agi>, found <KESTRO-AGI>"},
        {"unknown section", "<kestro-agi><caller><agi variable=\"agi_callerid\" value=\"1\"/></caller></kestro-agi>",
         "./robot.xml: only <inputs> and <agis> sections may stand under <kestro-agi>"},
    };
    for (const Case& broken : cases) {
        SCOPED_TRACE(broken.name);
        ::unlink(office.dir().file("robot.xml").c_str());
        if (broken.content != nullptr) office.dir().write("robot.xml", broken.content);
        IvrCall call;
        call.arguments = {"-e", "-r", "robot.xml", "atendimento", config};
        call.workingDirectory = office.dir().path();
        IvrCallResult result = runIvrCall(office, call);

        EXPECT_EQ(result.exitStatus(), 1) << transcript(result);
        const std::string& errors = result.child.stderrText;
        EXPECT_EQ(errors.rfind("ivr-orvel: robot file " + broken.reason, 0), 0u) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_TRUE(result.commands().empty()) << transcript(result);
        EXPECT_TRUE(result.journal.empty());
    }

    // An entry it cannot read is skipped, the rest of the file still counts:
    // the call runs, without the caller's number.
    office.dir().write("robot.xml", "<kestro-agi><agis><agi name=\"agi_callerid\" value=\"11987654321\"/></agis>"
                                    "</kestro-agi>");
    IvrCall skipped;
    skipped.arguments = {"-e", "-r", "robot.xml", "atendimento", config};
    skipped.workingDirectory = office.dir().path();
    IvrCallResult partial = runIvrCall(office, skipped);
    EXPECT_EQ(partial.exitStatus(), 0) << transcript(partial);
    EXPECT_TRUE(partial.sent("goTo ivr-exits 50002 1")) << transcript(partial);

    // The same run with a good robot file reaches the back office in full.
    office.dir().write("robot.xml", R"(<kestro-agi><agis>
        <agi variable="agi_callerid" value="11987654321"/><agi variable="agi_uniqueid" value="1765246800.1"/>
        <agi variable="agi_channel" value="PJSIP/trunk-00000001"/></agis>
        <inputs><input variable="atendimento_referente_ao_boleto" value="1"/></inputs></kestro-agi>)");
    IvrCall call;
    call.arguments = {"-e", "-r", "robot.xml", "atendimento", config};
    call.workingDirectory = office.dir().path();
    IvrCallResult result = runIvrCall(office, call);
    EXPECT_TRUE(result.sent("goTo ivr-exits 50011 1")) << transcript(result);
    EXPECT_EQ(forwardedKey(result), "50011");
}

}  // namespace
}  // namespace tarvik::testing
