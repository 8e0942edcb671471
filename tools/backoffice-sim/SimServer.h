#pragma once

#include "tools/backoffice-sim/BackOffice.h"
#include "tools/backoffice-sim/RequestJournal.h"
#include "tools/backoffice-sim/SimOptions.h"

#include <httplib.h>
#include <json/json.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tarvik {

// The HTTP face of the simulator on 127.0.0.1: authorization, journal,
// fault injection and statistics around the back office's answers.
class SimServer {
public:
    // bodies: the bytes of each --body file, by operation.
    SimServer(const SimOptions& options, BackOffice& backOffice, RequestJournal& journal,
              std::map<SimOperation, std::string> bodies);

    // Binds 127.0.0.1 at the port (0: any free port). The bound port, or -1.
    int bind(int port);
    // Serves until stop; false when the server could not run.
    bool run();
    // From any thread: wakes delayed answers and ends run.
    void stop();
    bool isRunning() const { return server_->is_running(); }
    // False when TLS was asked for and the certificate or key was unusable.
    bool isValid() const { return server_->is_valid(); }

private:
    void handle(const httplib::Request& request, httplib::Response& response);
    bool authorized(const httplib::Request& request) const;
    void applyFaults(SimOperation operation, SimAnswer& answer) const;
    void waitDelay(SimOperation operation);
    Json::Value journalLine(const httplib::Request& request, SimOperation operation) const;

    const SimOptions& options_;
    BackOffice& backOffice_;
    RequestJournal& journal_;
    std::map<SimOperation, std::string> bodies_;
    std::unique_ptr<httplib::Server> server_;  // an SSLServer with --tls-cert
    int listeningSocket_ = -1;

    std::atomic<unsigned long> connections_{0};
    std::atomic<unsigned long> requests_{0};

    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
};

}  // namespace tarvik
