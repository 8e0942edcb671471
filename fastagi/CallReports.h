#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace tarvik {

// One-line reports from the call processes to the service process, over a
// datagram socket pair made before the first fork. A call process gathers
// its reports and sends them together (lines in one datagram, never split
// across two) at the end of each call or when a datagram is full: every
// datagram wakes the service, and a call makes some twenty reports. Reports
// of concurrent calls never mix. Sending never blocks a call; a datagram
// that finds the queue full is lost.
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
    // Keeps a report for the next flush (any thread of the call process).
    void send(const std::string& report);
    // Sends what was kept.
    void flush();
    // In the service: hands every waiting report to `take`.
    void receiveAll(const std::function<void(const std::string&)>& take) const;

private:
    void sendDatagram(const std::string& lines) const;

    int receiving = -1;
    int sending = -1;
    std::mutex keptMutex;
    std::string kept;
};

}  // namespace tarvik
