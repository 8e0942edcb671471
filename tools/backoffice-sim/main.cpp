// backoffice-sim: a stand-in for the ISP back office, so that the IVR can be
// demonstrated and tested end to end without the real one.

#include "tools/backoffice-sim/BackOffice.h"
#include "tools/backoffice-sim/CustomerStore.h"
#include "tools/backoffice-sim/RecallHistory.h"
#include "tools/backoffice-sim/RequestJournal.h"
#include "tools/backoffice-sim/SimOptions.h"
#include "tools/backoffice-sim/SimServer.h"
#include "tools/backoffice-sim/SilentListener.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

using namespace tarvik;

namespace {

const int kExitUsage = 2;
const int kExitFailure = 1;

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

// Waits for SIGTERM or SIGINT (blocked in every thread) and stops the
// server once it runs; returns when the main thread says it is finished.
void watchSignals(SimServer& server, const std::atomic<bool>& finished) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    const timespec tick{0, 100 * 1000 * 1000};
    while (!finished) {
        if (sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
            continue;  // timeout or interruption: look at finished again
        }
        // A signal that comes before the server runs must still stop it.
        while (!finished && !server.isRunning()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        server.stop();
        return;
    }
}

// --silent: listen, accept and hold every connection, answer nothing,
// until SIGTERM or SIGINT.
int runSilent(const SimOptions& options) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    SilentListener listener;
    int port = listener.bind(options.port);
    if (port < 0) {
        std::cerr << "backoffice-sim: cannot listen on 127.0.0.1:" << options.port << "\n";
        return kExitFailure;
    }
    std::cout << "listening on 127.0.0.1:" << port << std::endl;
    std::cerr << "backoffice-sim: silent: connections are accepted and never answered\n";
    if (!listener.run(stopSignals)) {
        std::cerr << "backoffice-sim: cannot watch the stop signals\n";
        return kExitFailure;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!SimOptionsParser::parse(argc, argv, options, error)) {
        std::cerr << "backoffice-sim: " << error << "\n" << SimOptionsParser::usage();
        return kExitUsage;
    }
    if (options.help) {
        std::cout << SimOptionsParser::usage();
        return 0;
    }
    if (options.silent) {
        return runSilent(options);
    }

    CustomerStore store;
    if (!options.dataFile.empty()) {
        if (!store.loadFile(options.dataFile, error)) {
            std::cerr << "backoffice-sim: " << error << "\n";
            return kExitFailure;
        }
        for (const std::string& warning : store.warnings()) {
            std::cerr << "backoffice-sim: warning: " << warning << "\n";
        }
    }
    std::map<SimOperation, std::string> bodies;
    for (const auto& entry : options.bodyFiles) {
        if (!readFile(entry.second, bodies[entry.first])) {
            std::cerr << "backoffice-sim: cannot read " << entry.second << "\n";
            return kExitFailure;
        }
    }
    RequestJournal journal;
    if (!options.journalFile.empty() && !journal.open(options.journalFile, error)) {
        std::cerr << "backoffice-sim: " << error << "\n";
        return kExitFailure;
    }

    // Stop signals are taken by one watcher thread only; every thread
    // created from here on inherits the mask. A client that goes away
    // must not kill the process.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    RecallHistory recalls{std::chrono::seconds(options.recallWindowSeconds)};
    BackOffice backOffice(store, recalls);
    SimServer server(options, backOffice, journal, std::move(bodies));
    if (!server.isValid()) {
        std::cerr << "backoffice-sim: cannot use the TLS certificate " << options.tlsCert << " and key "
                  << options.tlsKey << "\n";
        return kExitFailure;
    }
    int port = server.bind(options.port);
    if (port < 0) {
        std::cerr << "backoffice-sim: cannot listen on 127.0.0.1:" << options.port << "\n";
        return kExitFailure;
    }
    std::cout << "listening on 127.0.0.1:" << port << (options.tlsCert.empty() ? "" : " (https)") << std::endl;
    std::cerr << "backoffice-sim: " << store.size() << " customers"
              << (options.token.empty() ? "" : ", token required")
              << (options.journalFile.empty() ? "" : ", journal " + options.journalFile) << "\n";

    std::atomic<bool> finished{false};
    std::thread watcher(watchSignals, std::ref(server), std::cref(finished));
    bool served = server.run();
    finished = true;
    watcher.join();
    journal.close();
    if (!served) {
        std::cerr << "backoffice-sim: the server stopped with an error\n";
        return kExitFailure;
    }
    return 0;
}
