#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/TestProcess.h"

namespace tarvik::testing {

namespace {

const char* const kOpenssl = "/usr/bin/openssl";
const std::string kLoopbackNames = "subjectAltName=IP:127.0.0.1,DNS:localhost\n";

}  // namespace

TestCertificates::TestCertificates() {
    dir.write("loopback.ext", kLoopbackNames);
    dir.write("wrong-host.ext", "subjectAltName=DNS:wrong.example.net\n");
    made = makeCa("ca") && makeCa("other-ca") && makeSigned("good", "loopback.ext", "2") &&
           makeSigned("second", "loopback.ext", "2") && makeSigned("expired", "loopback.ext", "-1") &&
           makeSigned("wrong-host", "wrong-host.ext", "2") &&
           openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                    dir.file("self.key"), "-out", dir.file("self.pem"), "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
    EXPECT_TRUE(made) << "openssl could not make the test certificates";
}

bool TestCertificates::openssl(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{kOpenssl};
    command.insert(command.end(), arguments.begin(), arguments.end());
    TestProcess::Options options;
    options.output = TestProcess::Output::discard;
    TestProcess process(command, options);
    return process.waitExitStatus(std::chrono::seconds(30)) == 0;
}

bool TestCertificates::makeCa(const std::string& name) const {
    return openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                    dir.file(name + ".key"), "-out", dir.file(name + ".pem"), "-days", "2", "-subj",
                    "/CN=IVR test CA " + name});
}

// A key, a request, and the CA's signature for `days` (negative: expired).
bool TestCertificates::makeSigned(const std::string& name, const std::string& altNames, const std::string& days) const {
    return openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                    dir.file(name + ".key"), "-out", dir.file(name + ".csr"), "-subj", "/CN=127.0.0.1"}) &&
           openssl({"x509", "-req", "-in", dir.file(name + ".csr"), "-CA", caFile(), "-CAkey", dir.file("ca.key"),
                    "-CAcreateserial", "-out", dir.file(name + ".pem"), "-days", days, "-extfile",
                    dir.file(altNames)});
}

}  // namespace tarvik::testing
