#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace tarvik::testing {


// Runs the test body inside another working directory and always comes back.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& directory) : previous(std::filesystem::current_path()) {
        std::filesystem::current_path(directory);
    }
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous;
};

// Sends file descriptor 1 to a file while alive; finish() restores it and
// returns everything written (a file, so the writer can never block).
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        char pattern[] = "/tmp/emulator-stdout-XXXXXX";
        fd = mkstemp(pattern);
        path = pattern;
        saved = dup(STDOUT_FILENO);
        dup2(fd, STDOUT_FILENO);
    }
    ~StdoutCapture() { finish(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string finish() {
        if (saved >= 0) {
            std::fflush(stdout);
            dup2(saved, STDOUT_FILENO);
            close(saved);
            close(fd);
            saved = -1;
            std::ifstream in(path, std::ios::binary);
            std::stringstream content;
            content << in.rdbuf();
            captured = content.str();
            unlink(path.c_str());
        }
        return captured;
    }

    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::stringstream in(finish());
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }

private:
    int fd = -1;
    int saved = -1;
    std::string path;
    std::string captured;
};

}  // namespace tarvik::testing
