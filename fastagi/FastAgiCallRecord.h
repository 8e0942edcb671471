#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace tarvik {

// What the service logs about one call: one line on standard error when
// the call ends. It names the calling number and nothing else about the
// customer.
class FastAgiCallRecord {
public:
    explicit FastAgiCallRecord(std::string peer);

    void setCaller(const char* callerId);
    void setUniqueId(const char* uniqueId);
    // The last dial-plan target the call was sent to ("ivr-exits,50009,1").
    void setDestination(const std::string& target);
    void setHangupNotified(bool notified) { hangupNotified = notified; }

    const std::string& getDestination() const { return destination; }
    double elapsedSeconds() const;

    // "fastagi: call peer=... uniqueid=... caller=... start=... end=...
    // duration_ms=... destination=... hangup=yes|no status=N"
    std::string finish(int status) const;
    // "fastagi: call peer=... ended: <reason>" for a call that never started.
    std::string refuse(const char* reason) const;

private:
    std::string peer;
    std::string caller = "-";
    std::string uniqueId = "-";
    std::string destination = "-";
    bool hangupNotified = false;
    std::time_t started;
    std::chrono::steady_clock::time_point startedSteady;
};

}  // namespace tarvik
