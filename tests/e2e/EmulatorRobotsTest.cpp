// The programs in emulator mode with the example robot files, run from the
// repository root as a developer would, and `make demo`'s script.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/CallExpectations.h"
#include "tests/support/IvrCall.h"
#include "tests/support/ScriptedAsteriskPeer.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing::e2e {
namespace {

// The emulator prints one line per call operation on standard output and
// reads nothing; the peer only collects those lines.
ScriptedAsteriskPeer::ChildResult runEmulated(const std::string& program, const std::vector<std::string>& arguments,
                                              int localHour) {
    ScriptedAsteriskPeer peer;
    return peer.runChild({program, arguments, IVR_SOURCE_DIR, {localHourZone(localHour)},
                          std::chrono::milliseconds(30000)});
}

struct RobotCase {
    std::string robot;
    std::string program;
    std::vector<std::string> trace;  // in this order, others between
    std::string exit;
};

TEST(EmulatorRobots, EachExampleRobotRunsItsCallToTheEnd) {
    const std::string orvel = orvelProgram();
    const std::string pelion = pelionProgram();
    const std::vector<RobotCase> cases = {
        {"identified-by-phone", orvel,
         {"input atendimento_referente_ao_boleto 1 5 " + kAudios + "Orvel-u4-33 1",
          "verbose Success on get from robot variable: atendimento_referente_ao_boleto -> 1",
          "background " + kAudios + "Orvel-u4-19"},
         "50011"},
        {"identified-by-document", orvel,
         {"input is_client 14 5 " + kAudios + "Orvel-u4-04 3", "background " + kAudios + "Orvel-u4-57",
          "setVariable TARVIK_API_ID 71563204835", "background " + kAudios + "Orvel-u4-13",
          "input atendimento_referente_ao_debito 14 7 " + kAudios + "Orvel-u4-18 3"},
         "50015"},
        {"blocked-trust-unlock", orvel,
         {"input opcao_atendimento_inadimplente 14 5 " + kAudios + "Orvel-u4-23 3",
          "input deseja_liberar_em_confianca 14 5 " + kAudios + "Orvel-u4-25 3", "background " + kAudios + "Orvel-u4-26",
          "input outras_opcoes_de_atendimento 14 5 beep 3"},
         "50020"},
        {"not-a-customer", orvel, {"input is_client 14 5 " + kAudios + "Orvel-u4-04 3"}, "50001"},
        {"pelion-by-document", pelion,
         {"input is_client 1 5 " + kAudios + "Orvel-u4-04 3", "input document 17 5 " + kAudios + "Orvel-u4-05 3",
          "setVariable TARVIK_API_ID 34857120607"},
         "50009"},
    };
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig();
    for (const RobotCase& robot : cases) {
        SCOPED_TRACE(robot.robot);
        auto run = runEmulated(robot.program, {"-e", "-r", "examples/robots/" + robot.robot + ".xml", "atendimento", config}, 22);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.stderrText, "");
        std::vector<std::string> expected = {"verbose Agi is loaded in mode emulator",
                                             "verbose Agi starting to destination atendimento", "answer",
                                             "background " + kAudios + "Orvel-u4-03"};
        expected.insert(expected.end(), robot.trace.begin(), robot.trace.end());
        expected.push_back("goTo ivr-exits " + robot.exit + " 1");
        expected.push_back("verbose Player finished by plugin");
        EXPECT_TRUE(inOrder(run.commands, expected));
        ASSERT_FALSE(run.commands.empty());
        EXPECT_EQ(run.commands.back(), "verbose Player finished by plugin");
    }
}

// The demo's whole output, for a failure message.
std::string shown(const ScriptedAsteriskPeer::ChildResult& run) {
    std::string text = "demo output:\n";
    for (const std::string& line : run.commands) text += line + "\n";
    return text + "demo errors:\n" + run.stderrText;
}

ScriptedAsteriskPeer::ChildResult runDemo(const std::vector<std::pair<std::string, std::string>>& environment) {
    ScriptedAsteriskPeer peer;
    return peer.runChild({"/bin/sh", {IVR_SOURCE_DIR "/tools/demo.sh", IVR_BINARY_DIR}, IVR_SOURCE_DIR, environment,
                          std::chrono::milliseconds(90000)});
}

TEST(EmulatorRobots, DemoScriptRunsAWholeCall) {
    auto run = runDemo({});
    ASSERT_EQ(run.exitStatus, 0) << shown(run);
    EXPECT_TRUE(inOrder(run.commands, {"answer", "goTo ivr-exits 50011 1", "== requests received by the back office",
                                       "== ivr-orvel exited with status 0"}))
        << shown(run);
    bool sendReceived = false;
    bool unlockRefused = false;
    std::vector<std::string> simulators;
    for (const std::string& line : run.commands) {
        sendReceived |= line.rfind("POST /service/v1/isp/demo/1/send -> 200 ", 0) == 0;
        unlockRefused |= line.rfind("PUT  /service/v1/isp/demo/1/unlock -> 503 ", 0) == 0;
        if (line.rfind("== back-office simulator on ", 0) == 0) simulators.push_back(line);
    }
    EXPECT_TRUE(sendReceived) << shown(run);
    // Then the failed call, shown to its end: the refused unlock, the
    // trust-unlock-failed exit, the requests and the program's status.
    EXPECT_TRUE(inOrder(run.commands, {"== ivr-orvel exited with status 0", "goTo ivr-exits 50019 1",
                                       "== requests received by the back office",
                                       "== ivr-orvel exited with status 0"}))
        << shown(run);
    EXPECT_TRUE(unlockRefused) << shown(run);
    // Each call has a simulator of its own; the second is told to refuse.
    ASSERT_EQ(simulators.size(), 2u) << shown(run);
    EXPECT_EQ(simulators[0].find("--status"), std::string::npos) << shown(run);
    EXPECT_NE(simulators[1].find(" (--status unlock=503), "), std::string::npos) << shown(run);
}

// A call that does not end where the demo says it should fails the demo,
// with a line naming both extensions: here the back office knows no one.
TEST(EmulatorRobots, DemoScriptFailsWhenACallEndsElsewhere) {
    TempDir examples;
    for (const char* file : {"config/orvel.json", "robots/identified-by-phone.xml", "robots/blocked-trust-unlock.xml"}) {
        examples.write(file, TempDir::readFile(std::string(IVR_SOURCE_DIR "/examples/") + file));
    }
    examples.write("backoffice/customers.json", R"({"customers": []})");
    auto run = runDemo({{"EXAMPLES", examples.path()}});
    EXPECT_EQ(run.exitStatus, 1) << shown(run);
    EXPECT_NE(run.stderrText.find("demo: \"a whole call: customer identified by phone, invoice sent\" should end at "
                                  "50011 with status 0; it ended at "),
              std::string::npos)
        << shown(run);
    EXPECT_FALSE(inOrder(run.commands, {"== a failed call: the back office refuses the trust unlock (answers 503)"}))
        << shown(run);
}

}  // namespace
}  // namespace tarvik::testing::e2e
