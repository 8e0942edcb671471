// --explain-route of both programs, run as real processes: the entries it
// walks, the extension it names, and that a real call with the same marks
// reaching the same exit is sent to that very extension.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {
namespace {

const char* kProfile = R"({"profile": {"route": [
    {"destinations": {"50005": "7000", "50021": 7100},
     "variables": {"description": "business", "values": [{"mark": "type", "value": "pj"}]}},
    {"destinations": {"50007": "7200"},
     "variables": {"description": "night campaign",
                   "values": [{"mark": "campaign", "value": "night"}, {"mark": "type", "value": "pf"}]}},
    {"destinations": {"50005": "7999", "PLANO-X": "7300"}}
]}})";

SimRun explain(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--explain-route"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgramToEnd(program, all, 20000);
}

TEST(ExplainRoute, WalksEveryEntryAndNamesTheExtension) {
    TempDir dir;
    const std::string config = dir.write("profile.json", kProfile);
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
    };
    const std::vector<Case> cases = {
        {{config, "50005", "mark::type:pj"},
         "exit 50005, marks: state=\"ready\", type=\"pj\"\n"
         "route entry 1 (business): condition holds; lists 50005 -> 7000\n"
         "route entry 2 (night campaign): condition does not hold: mark campaign must be \"night\", the call has "
         "no such mark; mark type must be \"pf\", the call has \"pj\"; does not list 50005\n"
         "route entry 3: condition holds (it requires no mark); lists 50005 -> 7999\n"
         "chosen: route entry 1\n"
         "extension: 7000\n"},
        // The first entry fails on the value; the one without a condition takes it.
        {{config, "50005", "mark::type:pf"},
         "exit 50005, marks: state=\"ready\", type=\"pf\"\n"
         "route entry 1 (business): condition does not hold: mark type must be \"pj\", the call has \"pf\"; lists "
         "50005 -> 7000\n"
         "route entry 2 (night campaign): condition does not hold: mark campaign must be \"night\", the call has "
         "no such mark; does not list 50005\n"
         "route entry 3: condition holds (it requires no mark); lists 50005 -> 7999\n"
         "chosen: route entry 3\n"
         "extension: 7999\n"},
        // Every failing mark of an entry is named; nothing applies, the key stays.
        {{config, "50007", "mark::campaign:day"},
         "exit 50007, marks: campaign=\"day\", state=\"ready\"\n"
         "route entry 1 (business): condition does not hold: mark type must be \"pj\", the call has no such mark; "
         "does not list 50007\n"
         "route entry 2 (night campaign): condition does not hold: mark campaign must be \"night\", the call has "
         "\"day\"; mark type must be \"pf\", the call has no such mark; lists 50007 -> 7200\n"
         "route entry 3: condition holds (it requires no mark); does not list 50007\n"
         "chosen: none (no entry whose condition holds lists 50007): the exit keeps its key\n"
         "extension: 50007\n"},
        // A forwarding text the profile lists; a later mark replaces an earlier one.
        {{config, "PLANO-X", "mark::type:pf", "mark::type:pj"},
         "exit PLANO-X, marks: state=\"ready\", type=\"pj\"\n"
         "route entry 1 (business): condition holds; does not list PLANO-X\n"
         "route entry 2 (night campaign): condition does not hold: mark campaign must be \"night\", the call has "
         "no such mark; mark type must be \"pf\", the call has \"pj\"; does not list PLANO-X\n"
         "route entry 3: condition holds (it requires no mark); lists PLANO-X -> 7300\n"
         "chosen: route entry 3\n"
         "extension: 7300\n"},
    };
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        for (const Case& each : cases) {
            SCOPED_TRACE(program + " " + each.arguments[1]);
            SimRun run = explain(program, each.arguments);
            EXPECT_EQ(run.exitStatus, 0) << run.errors;
            EXPECT_EQ(run.errors, "");
            EXPECT_EQ(run.output, each.output);
        }
    }
}

TEST(ExplainRoute, RefusesWhatItCannotExplainWithOneLine) {
    TempDir dir;
    const std::string config = dir.write("profile.json", kProfile);
    const std::string missing = dir.file("absent.json");
    const std::string broken = dir.write("broken.json", "{\"profile\": {\"route\": [}");
    const std::string noProfile = dir.write("plain.json", "{\"kestro\": \"http://127.0.0.1:9\"}");
    const std::string wrongShape = dir.write("shape.json", "{\"profile\": {\"route\": {\"50005\": \"7000\"}}}");
    const std::string badCondition =
        dir.write("condition.json", R"({"profile": {"route": [{"destinations": {"50005": "7"},
        "variables": {"description": "twice", "values": [{"mark": "a", "value": "1"}, {"mark": "a", "value": "2"}]}}]}})");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{config, "50032"}, "unknown exit \"50032\": neither a destination key (50001..50031) nor a name the "
                            "profile's destinations list"},
        {{config, "PLANO-Y"}, "unknown exit \"PLANO-Y\": neither a destination key (50001..50031) nor a name the "
                              "profile's destinations list"},
        {{config, "50005", "type:pj"}, "type:pj: not a mark (mark::KEY:VALUE)"},
        {{missing, "50005"}, missing + ": cannot be read: No such file or directory"},
        {{broken, "50005"}, broken + ": 1:24: not JSON: "},
        {{noProfile, "50005"}, noProfile + ": no routing profile (key \"profile\"): every exit keeps its own key"},
        {{wrongShape, "50005"}, wrongShape + ": the routing profile cannot be used in full: a call would log \"no "
                                             "route or route is not array in configuration profile file " +
                                    wrongShape + "\""},
        {{badCondition, "50005"}, badCondition + ": the routing profile cannot be used in full: a call would log "
                                                 "\"failure on parse route profile in configuration profile file " +
                                      badCondition + "\""},
    };
    for (const std::string& program : {orvelProgram(), pelionProgram()}) {
        for (const auto& [arguments, line] : refusals) {
            SCOPED_TRACE(program + " " + arguments[0] + " " + arguments[1]);
            SimRun run = explain(program, arguments);
            EXPECT_EQ(run.exitStatus, 1);
            EXPECT_EQ(run.output, "");
            EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
            EXPECT_EQ(run.errors.rfind(line, 0), 0u) << run.errors;
        }
    }
    // Without an exit it is a command-line mistake, shown with the usage.
    SimRun bare = explain(orvelProgram(), {config});
    EXPECT_EQ(bare.exitStatus, 1);
    EXPECT_EQ(bare.errors.rfind("ivr-orvel: --explain-route needs an exit after the configuration", 0), 0u)
        << bare.errors;
    EXPECT_NE(bare.errors.find("\nUsage: ivr-orvel "), std::string::npos);
}

// The last extension a call's trace sends it to ("goTo CONTEXT EXTENSION 1").
std::string lastExtension(const std::vector<std::string>& trace) {
    for (auto line = trace.rbegin(); line != trace.rend(); ++line) {
        if (line->rfind("goTo ", 0) != 0) continue;
        const std::size_t from = line->find(' ', 5) + 1;
        return line->substr(from, line->rfind(' ') - from);
    }
    return "";
}

// A caller the back office does not know ends at 50001: the call and the
// explanation agree on where that goes, for a condition on a command-line
// mark and for one on the mark every call starts with.
TEST(ExplainRoute, AgreesWithARealCall) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig(R"({"profile": {"route": [
        {"destinations": {"50001": "7001"},
         "variables": {"description": "night", "values": [{"mark": "campaign", "value": "night"}]}},
        {"destinations": {"50001": "7002"},
         "variables": {"description": "any call", "values": [{"mark": "state", "value": "ready"}]}}]}})");
    for (const std::string campaign : {"night", "day"}) {
        SCOPED_TRACE(campaign);
        const std::string mark = "mark::campaign:" + campaign;
        SimRun explained = explain(orvelProgram(), {config, "50001", mark});
        ASSERT_EQ(explained.exitStatus, 0) << explained.errors;
        const std::string said = explained.output.substr(explained.output.rfind("extension: ") + 11);

        ScriptedAsteriskPeer peer;
        auto call = peer.runChild({orvelProgram(),
                                   {"-e", "-r", "examples/robots/not-a-customer.xml", "atendimento", config, mark},
                                   IVR_SOURCE_DIR,
                                   {},
                                   std::chrono::milliseconds(30000)});
        ASSERT_EQ(call.exitStatus, 0) << call.stderrText;
        EXPECT_EQ(lastExtension(call.commands) + "\n", said) << explained.output;
        EXPECT_EQ(said, campaign == "night" ? "7001\n" : "7002\n");
    }
}

}  // namespace
}  // namespace tarvik::testing
