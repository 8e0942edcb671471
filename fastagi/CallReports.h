#pragma once

#include <functional>
#include <string>

namespace tarvik {

// One-line reports from the call processes to the service process, over a
// datagram socket pair made before the first fork: each report is one
// datagram, so reports of concurrent calls never mix. Sending never blocks
// a call; a report that finds the queue full is lost.
class CallReports {
public:
    CallReports();
    ~CallReports();

    CallReports(const CallReports&) = delete;
    CallReports& operator=(const CallReports&) = delete;

    bool isOpen() const { return receiving >= 0; }
    // Where the service waits for reports (poll for reading).
    int receiveFd() const { return receiving; }

    // In a call process: the receiving end is not its business.
    void becomeSender();
    void send(const std::string& report) const;
    // In the service: hands every waiting report to `take`.
    void receiveAll(const std::function<void(const std::string&)>& take) const;

private:
    int receiving = -1;
    int sending = -1;
};

}  // namespace tarvik
