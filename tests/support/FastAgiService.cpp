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
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvik::testing {

namespace {

using Clock = std::chrono::steady_clock;

void pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// The child starts with default signal handling and nothing blocked, as a
// service started by systemd would.
void cleanSignalState() {
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE}) ::signal(number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

FastAgiService::FastAgiService() {
    char pattern[] = "/tmp/fastagi-service-XXXXXX";
    if (mkdtemp(pattern) != nullptr) directory = pattern;
    logPath = directory + "/stderr.log";
}

FastAgiService::~FastAgiService() {
    if (child > 0) {
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
}

bool FastAgiService::startProgram(const std::string& path, const std::vector<std::string>& arguments,
                                  const std::string& workingDirectory) {
    std::vector<std::string> texts{path};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    return startFunction([&]() {
        std::vector<char*> argv;
        for (auto& text : texts) argv.push_back(text.data());
        argv.push_back(nullptr);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) return 126;
        execv(argv[0], argv.data());
        return 127;
    });
}

bool FastAgiService::startFunction(const std::function<int()>& body) {
    std::fflush(nullptr);
    child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        cleanSignalState();
        int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(nothing, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        // A test that dies must not leave a service behind.
        alarm(300);
        int status = body();
        _exit(status);
    }
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
        if (::waitpid(child, &status, WNOHANG) == child) {
            child = -1;
            return false;
        }
        pause(10);
    }
    return false;
}

std::string FastAgiService::log() const {
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

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
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == child &&
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
    if (child > 0) ::kill(child, number);
}

int FastAgiService::stop(std::chrono::milliseconds limit, bool send) {
    if (child <= 0) return -1;
    if (send) ::kill(child, SIGTERM);
    Clock::time_point deadline = Clock::now() + limit;
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0 && Clock::now() < deadline) pause(10);
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    child = -1;
    return done != 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tarvik::testing
