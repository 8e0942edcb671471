#include "tests/support/FastAgiService.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/TempDir.h"

namespace tarvik::testing {

namespace {

using Clock = std::chrono::steady_clock;

void pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

TestProcess::Options serviceOptions(const std::string& workingDirectory = "") {
    TestProcess::Options options;
    options.output = TestProcess::Output::discard;
    options.workingDirectory = workingDirectory;
    return options;
}

}  // namespace

FastAgiService::FastAgiService() = default;

FastAgiService::~FastAgiService() = default;

bool FastAgiService::startProgram(const std::string& path, const std::vector<std::string>& arguments,
                                  const std::string& workingDirectory) {
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process = std::make_unique<TestProcess>(argv, serviceOptions(workingDirectory));
    return waitForListening();
}

bool FastAgiService::startFunction(const std::function<int()>& body) {
    process = std::make_unique<TestProcess>(
        [body] {
            alarm(300);  // a service the test forgot must not run on
            return body();
        },
        serviceOptions());
    return waitForListening();
}

bool FastAgiService::waitForListening() {
    const std::string marker = "listening on ";
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        std::string text = log();
        std::size_t at = text.find(marker);
        std::size_t end = at == std::string::npos ? at : text.find_first_of(" \n", at + marker.size());
        if (end != std::string::npos) {
            std::string address = text.substr(at + marker.size(), end - at - marker.size());
            listeningPort = static_cast<std::uint16_t>(std::atoi(address.substr(address.rfind(':') + 1).c_str()));
            return listeningPort != 0;
        }
        int status = 0;
        if (process->waitExit(std::chrono::milliseconds(0), status) || process->pid() <= 0) return false;
        pause(10);
    }
    return false;
}

std::string FastAgiService::log() const { return process ? process->errorText() : std::string(); }

std::size_t FastAgiService::countInLog(const std::string& text) const {
    std::istringstream lines(log());
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(text) != std::string::npos) ++count;
    }
    return count;
}

bool FastAgiService::waitForLog(const std::string& text, std::size_t count, std::chrono::milliseconds limit) const {
    Clock::time_point deadline = Clock::now() + limit;
    while (countInLog(text) < count) {
        if (Clock::now() >= deadline) return false;
        pause(10);
    }
    return true;
}

std::size_t FastAgiService::zombieChildren() const {
    std::size_t zombies = 0;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return 0;
    while (dirent* entry = readdir(processes)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        // Empty when the process went away since the listing.
        const std::string text = TempDir::readFile(std::string("/proc/") + entry->d_name + "/stat");
        std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == pid() &&
            state == 'Z') {
            ++zombies;
        }
    }
    closedir(processes);
    return zombies;
}

bool FastAgiService::waitForNoZombies(std::chrono::milliseconds limit) const {
    Clock::time_point deadline = Clock::now() + limit;
    while (zombieChildren() != 0) {
        if (Clock::now() >= deadline) return false;
        pause(10);
    }
    return true;
}

void FastAgiService::signal(int number) const {
    if (process) process->signal(number);
}

int FastAgiService::stop(std::chrono::milliseconds limit, bool send) {
    if (!process || process->pid() <= 0) return -1;
    if (send) process->signal(SIGTERM);
    return process->waitExitStatus(limit);
}

}  // namespace tarvik::testing
