#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace tarvik::testing {


inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct ProcessResult {
    bool exited = false;  // false: killed by a signal (or by the deadline)
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `body` in a child process whose standard input is a pipe fed with
// `input` (then closed) and whose standard output and error go to files;
// the child runs in `directory`. The child's result is its exit status.
// Bounded: the child has an alarm and the parent kills it at a deadline.
inline ProcessResult runInChild(const std::string& directory, const std::string& input,
                                const std::function<int()>& body) {
    ProcessResult result;
    std::string outPath = directory + "/.child-stdout";
    std::string errPath = directory + "/.child-stderr";
    int feed[2];
    if (pipe(feed) != 0) return result;
    // The AGI block and replies are small: they fit in the pipe at once.
    if (write(feed[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) return result;
    close(feed[1]);

    std::fflush(nullptr);  // nothing buffered may be written twice
    pid_t child = fork();
    if (child < 0) return result;
    if (child == 0) {
        alarm(20);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(feed[0], STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (chdir(directory.c_str()) != 0) _exit(99);
        int status = body();
        std::fflush(nullptr);
        _exit(status);
    }
    close(feed[0]);

    int status = 0;
    timespec pause{0, 5 * 1000 * 1000};
    pid_t done = 0;
    for (int waited = 0; waited < 6000 && done == 0; ++waited) {  // 30 s
        done = waitpid(child, &status, WNOHANG);
        if (done == 0) nanosleep(&pause, nullptr);
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    } else if (WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    }
    std::ifstream outFile(outPath, std::ios::binary), errFile(errPath, std::ios::binary);
    std::stringstream outText, errText;
    outText << outFile.rdbuf();
    errText << errFile.rdbuf();
    result.out = outText.str();
    result.err = errText.str();
    return result;
}

}  // namespace tarvik::testing
