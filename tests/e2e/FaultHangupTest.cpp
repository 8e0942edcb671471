// The caller hangs up in the middle of a call: Asterisk sends SIGHUP to the
// program and answers the command in progress with result -1, then either
// refuses every channel command with 511 or closes the program's input and
// output (AGIEXITONHANGUP). The program must end promptly without spinning,
// with the runner's exit status, after reporting the call to the back office
// up to its end.

#include <csignal>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/FaultCallChecks.h"
#include "tests/support/IvrCall.h"

namespace tarvik::testing {
namespace {

using namespace faults;
using Style = ScriptedAsteriskPeer::HangupStyle;

// Far above what a call that waits on its pipes uses, far below a busy loop
// running into the deadline.
constexpr long long kCpuBudgetMicroseconds = 3000000;

struct HangupPoint {
    std::string program;
    std::string caller;
    std::string commandPrefix;  // the first command of the undisturbed call that starts so
};

std::size_t commandNumber(const std::vector<std::string>& commands, const std::string& prefix) {
    for (std::size_t index = 0; index < commands.size(); ++index) {
        if (startsWith(commands[index], prefix)) return index + 1;
    }
    return 0;
}

TEST(FaultHangup, CallEndsPromptlyAndReportsItsEnd) {
    IvrBackOffice office({"--recall-window", "0"});
    ASSERT_GT(office.port(), 0);
    const std::string config = office.writeConfig();

    const std::string known = "11987654321", unknown = "11900000000";
    const std::string audio = "GET DATA /etc/tarvik/kestro/audios/";
    const std::vector<HangupPoint> points = {
        {orvelProgram(), known, "ANSWER"},                   // as the call is answered
        {orvelProgram(), known, audio + "Orvel-u4-33"},      // during the invoice question
        {orvelProgram(), known, "EXEC Goto "},               // as the call is handed over
        {orvelProgram(), unknown, "EXEC Background "},       // during the greeting
        {orvelProgram(), unknown, audio + "Orvel-u4-04"},    // during the customer question
        {pelionProgram(), unknown, audio + "Orvel-u4-04"},
        {pelionProgram(), known, audio + "Orvel-u4-33"},
    };
    const std::vector<std::pair<Style, const char*>> styles = {
        {Style::Local, "511 after the hang-up"},
        {Style::Network, "511 and a HANGUP line"},
        {Style::ExitOnHangup, "pipes closed"},
    };

    for (const HangupPoint& point : points) {
        IvrCall call;
        call.program = point.program;
        call.arguments = {"atendimento", config};
        call.callerId = point.caller;
        IvrCallResult undisturbed = runIvrCall(office, call);
        std::size_t at = commandNumber(undisturbed.commands(), point.commandPrefix);
        ASSERT_NE(at, 0u) << point.commandPrefix << " never sent:\n" << transcript(undisturbed);

        for (const auto& style : styles) {
            SCOPED_TRACE(point.program.substr(point.program.rfind('/') + 1) + ": " + point.caller + " hangs up at \"" +
                         point.commandPrefix + "\" (command " + std::to_string(at) + "), " + style.second);
            call.deadline = std::chrono::milliseconds(20000);
            call.preparePeer = [at, style](ScriptedAsteriskPeer& peer) {
                peer.hangUpAtCommand(at, style.first);
                peer.signalChildAtHangup(SIGHUP);
            };
            IvrCallResult result = runIvrCall(office, call);

            EXPECT_FALSE(result.child.timedOut);
            EXPECT_EQ(result.child.terminatingSignal, 0);
            EXPECT_EQ(result.exitStatus(), 0) << transcript(result);
            EXPECT_GE(result.child.cpuMicroseconds, 0);
            EXPECT_LT(result.child.cpuMicroseconds, kCpuBudgetMicroseconds);
            expectOnlyProgramCommands(result.commands());

            // The call was reported from its start to its hand-over, which
            // still happened (Asterisk runs EXEC on a dead channel; with
            // closed pipes only the back office saw it).
            std::vector<std::string> types = remoteLogTypes(result);
            ASSERT_GE(types.size(), 3u) << transcript(result);
            EXPECT_EQ(types.front(), "authenticated");
            EXPECT_EQ(types.back(), "forward");
            std::string key = forwardedKey(result);
            EXPECT_FALSE(key.empty());
            if (style.first != Style::ExitOnHangup || at == undisturbed.commands().size()) {
                EXPECT_EQ(result.lastGoto(), gotoExit(key)) << transcript(result);
            }
        }
    }
}

}  // namespace
}  // namespace tarvik::testing
