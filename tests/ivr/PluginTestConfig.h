#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "ivr/Plugin.h"

namespace tarvik::testing {

// A private temporary directory for configuration and debug files, removed
// with everything in it when the test ends.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/ivr-plugin-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) dir = pattern;
        EXPECT_FALSE(dir.empty());
    }
    ~TempDir() {
        for (const auto& file : files) unlink(file.c_str());
        if (!dir.empty()) rmdir(dir.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Path of a file in the directory (removed at the end; need not exist).
    std::string path(const std::string& name) {
        std::string full = dir + "/" + name;
        files.push_back(full);
        return full;
    }
    std::string write(const std::string& name, const std::string& content) {
        std::string full = path(name);
        std::ofstream(full) << content;
        return full;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string dir;
    std::vector<std::string> files;
};

// Opens the protected state that the module keeps for the call flow, so
// tests can set up and inspect it without running a whole call.
template <typename Module>
class Exposed : public Module {
public:
    using Module::apiReady;
    using Module::callerId;
    using Module::caFile;
    using Module::client;
    using Module::document;
    using Module::escapeCode;
    using Module::httpConnectTimeoutSeconds;
    using Module::httpTimeoutSeconds;
    using Module::ignoreEmptyBarCode;
    using Module::protocol;
    using Module::verifyTls;
};

// True when the recorded operations hold exactly this line.
inline bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& each : lines)
        if (each == line) return true;
    return false;
}

}  // namespace tarvik::testing
