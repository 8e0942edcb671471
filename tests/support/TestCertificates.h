#pragma once

#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace tarvik::testing {

// A throwaway certificate authority and server certificates, made at run
// time with the openssl command in a scratch directory removed at scope
// end. Every certificate names 127.0.0.1 and localhost unless said
// otherwise. ok() is false (and the test has failed) when openssl could not
// make them.
class TestCertificates {
public:
    TestCertificates();

    bool ok() const { return made; }

    // A certificate file and its key (PEM).
    struct Pair {
        std::string cert;
        std::string key;
    };

    std::string caFile() const { return dir.file("ca.pem"); }       // signs good(), expired(), wrongHost()
    std::string otherCaFile() const { return dir.file("other-ca.pem"); }  // signs nothing we serve
    Pair good() const { return pair("good"); }
    Pair secondGood() const { return pair("second"); }  // another good one, for a changed certificate
    Pair expired() const { return pair("expired"); }    // valid until yesterday
    Pair wrongHost() const { return pair("wrong-host"); }  // names only wrong.example.net
    Pair selfSigned() const { return pair("self"); }    // signed by its own key

private:
    Pair pair(const std::string& name) const { return {dir.file(name + ".pem"), dir.file(name + ".key")}; }
    bool openssl(const std::vector<std::string>& arguments) const;
    bool makeCa(const std::string& name) const;
    bool makeSigned(const std::string& name, const std::string& altNames, const std::string& days) const;

    TempDir dir;
    bool made = false;
};

}  // namespace tarvik::testing
