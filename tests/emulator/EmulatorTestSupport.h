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

namespace tarvik::testing {

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/emulator-test-XXXXXX";
        char* made = mkdtemp(pattern);
        if (made != nullptr) path = made;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }
    void write(const std::string& name, const std::string& content) const {
        std::filesystem::path target(file(name));
        std::filesystem::create_directories(target.parent_path());
        std::ofstream(target, std::ios::binary) << content;
    }

    std::string path;
};

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
