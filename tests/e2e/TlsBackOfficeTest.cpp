// Whole calls of ivr-orvel against the simulator serving HTTPS with
// certificates made for the test: verification off takes any certificate,
// on takes only one that the configured CA signed for this host and that
// is in date. A refused certificate is a transfer failure: the call goes
// its failure path and one line on standard error says why.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/IvrCall.h"
#include "tests/support/TestCertificates.h"

namespace tarvik::testing {
namespace {

const std::string kInvoiceSent = "EXEC Goto ivr-exits,50011,1";
const std::string kServerNotReady = "EXEC Goto ivr-exits,50003,1";

struct TlsCase {
    std::string name;
    TestCertificates::Pair served;
    std::string configOverrides;
    bool accepted;
    std::string reason;  // in the failure line when refused
};

TEST(TlsBackOffice, CertificatesAreCheckedOnlyWhenAskedTo) {
    TestCertificates certificates;
    ASSERT_TRUE(certificates.ok());
    const std::string ca = certificates.caFile();
    const std::vector<TlsCase> cases = {
        {"verification off, self-signed", certificates.selfSigned(), R"({"verifyTls": false})", true, ""},
        {"verification on, the right CA", certificates.good(), R"({"verifyTls": true, "caFile": ")" + ca + "\"}",
         true, ""},
        {"verification on, no CA given", certificates.good(), R"({"verifyTls": true})", false,
         "unable to get local issuer certificate"},
        {"verification on, another CA", certificates.good(),
         R"({"verifyTls": true, "caFile": ")" + certificates.otherCaFile() + "\"}", false,
         "unable to get local issuer certificate"},
        {"verification on, expired", certificates.expired(), R"({"verifyTls": true, "caFile": ")" + ca + "\"}",
         false, "certificate has expired"},
        {"verification on, another host's", certificates.wrongHost(),
         R"({"verifyTls": true, "caFile": ")" + ca + "\"}", false, "no alternative certificate subject name matches target host name"},
    };
    for (const TlsCase& each : cases) {
        SCOPED_TRACE(each.name);
        IvrBackOffice office({"--recall-window", "0", "--tls-cert", each.served.cert, "--tls-key", each.served.key});
        ASSERT_GT(office.port(), 0);
        IvrCall call;
        call.arguments = {"atendimento", office.writeConfig(each.configOverrides)};
        call.answersByPrompt = {{"Orvel-u4-33", "1"}, {"Orvel-u4-04", "52998224725"}};
        IvrCallResult result = runIvrCall(office, call);
        EXPECT_EQ(result.exitStatus(), 0);
        if (each.accepted) {
            EXPECT_EQ(result.lastGoto(), kInvoiceSent);
            EXPECT_EQ(result.requests("send").size(), 1u);
            EXPECT_EQ(result.child.stderrText, "");
            continue;
        }
        // Nothing reached the back office; the call still ends in the dial plan.
        EXPECT_EQ(result.lastGoto(), kServerNotReady);
        EXPECT_TRUE(result.journal.empty());
        const std::string& errors = result.child.stderrText;
        const std::string first = errors.substr(0, errors.find('\n') + 1);
        EXPECT_EQ(first.rfind("curl_easy_perform() failed: ", 0), 0u) << errors;
        EXPECT_NE(first.find(each.reason), std::string::npos) << errors;
    }
}

}  // namespace
}  // namespace tarvik::testing
