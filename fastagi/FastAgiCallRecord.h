#pragma once

#include <chrono>
#include <ctime>
#include <set>
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

    // The routing profile's replacement extensions of the call's configuration.
    void setReplacements(std::set<std::string> extensions) { replacements = std::move(extensions); }

    const std::string& getDestination() const { return destination; }
    const std::set<std::string>& getReplacements() const { return replacements; }
    double elapsedSeconds() const;

    // "fastagi: call peer=... uniqueid=... caller=... start=... end=...
    // duration_ms=... destination=... hangup=yes|no status=N"
    std::string finish(int status) const;
    // "fastagi: call peer=... ended: <reason>" for a call that never started.
    std::string refuse(const char* reason) const;
    // "fastagi: call peer=... uniqueid=... configuration ... refused: <reason>".
    std::string refuseConfiguration(const std::string& path, const std::string& reason) const;

private:
    std::string peer;
    std::string caller = "-";
    std::string uniqueId = "-";
    std::string destination = "-";
    std::set<std::string> replacements;
    bool hangupNotified = false;
    std::time_t started;
    std::chrono::steady_clock::time_point startedSteady;
};

}  // namespace tarvik
