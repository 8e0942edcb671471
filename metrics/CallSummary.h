#pragma once

#include <cstddef>
#include <string>

namespace tarvik {

// The one line a call leaves in the system log once the caller was handed
// back, in both ways of serving calls:
//
//   call uniqueid=1796777065.3 caller=11987654321 found=phone
//   document=********725 contract=CT-77 exit=50011 extension=50011
//   route=none seconds=23.4 requests=7 longest_wait_ms=41 not_delivered=0
//
// Every value comes from the caller or the back office, so each is cut to
// one word of printable ASCII; the document shows its last three digits only.
class CallSummary {
public:
    enum class Found { notFound, byPhone, byDocument };

    void setUniqueId(const std::string& id) { uniqueId = id; }
    void setCaller(const std::string& number) { caller = number; }
    void setFound(Found how) { found = how; }
    void setDocument(const std::string& typed) { document = typed; }
    void setContract(const std::string& id) { contract = id; }
    // The exit key the flow chose, the extension the profile made of it and
    // the profile's route entry that did (its index, -1 for none).
    void setExit(const std::string& key, const std::string& extensionAfterProfile, int routeEntry);
    void setSeconds(double inCall) { seconds = inCall; }
    void setRequests(std::size_t count, double longestSeconds);
    void setNotDelivered(std::size_t count) { notDelivered = count; }

    const std::string& getExtension() const { return extension; }
    bool routedByProfile() const { return route >= 0; }

    std::string line() const;

    // "********123": as long as the document (at most 20), the last three
    // digits shown; a document of three or fewer shows none; "-" when empty.
    static std::string maskDocument(const std::string& document);

private:
    std::string uniqueId;
    std::string caller;
    Found found = Found::notFound;
    std::string document;
    std::string contract;
    std::string exitKey;
    std::string extension;
    int route = -1;
    double seconds = 0;
    std::size_t requests = 0;
    double longestRequestSeconds = 0;
    std::size_t notDelivered = 0;
};

}  // namespace tarvik
