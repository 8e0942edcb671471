#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestProcess.h"

namespace tarvik::testing {

// A FastAGI service under test, in a process of its own (a TestProcess):
// either a program or a function run in a forked child. Its standard error
// goes to a file, where the test finds the "listening on ADDRESS:PORT" line
// and the per-call lines. Every wait is bounded; the destructor kills what
// is left.
class FastAgiService {
public:
    FastAgiService();
    ~FastAgiService();

    FastAgiService(const FastAgiService&) = delete;
    FastAgiService& operator=(const FastAgiService&) = delete;

    // Both wait for the listening line; false when it did not come.
    bool startProgram(const std::string& path, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory = "");
    bool startFunction(const std::function<int()>& body);

    std::uint16_t port() const { return listeningPort; }
    pid_t pid() const { return process ? process->pid() : -1; }

    // Standard error so far.
    std::string log() const;
    // Waits until `count` lines hold `text`; false at the deadline.
    bool waitForLog(const std::string& text, std::size_t count = 1,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) const;
    std::size_t countInLog(const std::string& text) const;

    // Children of the service that are zombies right now.
    std::size_t zombieChildren() const;
    // Waits until the service has no zombie child; false at the deadline.
    bool waitForNoZombies(std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) const;

    void signal(int number) const;
    // SIGTERM (unless `send` is false), then waits for the exit: the exit
    // status, or -1 when it was killed at the deadline or by a signal.
    int stop(std::chrono::milliseconds limit = std::chrono::milliseconds(60000), bool send = true);

private:
    bool waitForListening();

    std::unique_ptr<TestProcess> process;
    std::uint16_t listeningPort = 0;
};

}  // namespace tarvik::testing
