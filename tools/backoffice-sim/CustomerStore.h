#pragma once

#include <json/json.h>

#include <map>
#include <string>
#include <vector>

namespace tarvik {

// One customer of the fixture: the client document the back office answers
// with, and what the simulator needs to find and serve it.
struct SimCustomer {
    // What a ticket request of this customer answers.
    enum class TicketMode { Generated, Fixed, None };

    Json::Value client;        // the client document, without the fixture's own keys
    std::string answer;        // the client document as compact JSON text
    std::string document;      // the "document" text, when it is one
    TicketMode ticketMode = TicketMode::Generated;
    std::string externalId;    // for TicketMode::Fixed
};

// The customers of a fixture file, indexed by phone and document digits.
// Read-only once loaded, so any number of threads may search it.
class CustomerStore {
public:
    bool loadFile(const std::string& path, std::string& error);
    bool loadText(const std::string& text, std::string& error);

    // The customer whose lookup phones hold the phone (compared by digits;
    // a leading 0 or the country code 55 may be added), or null.
    const SimCustomer* findByPhone(const std::string& phone) const;
    // The customer whose document (or lookup document) has the same digits, or null.
    const SimCustomer* findByDocument(const std::string& document) const;

    // The contract of the customer with that id, from "signatures" or
    // "standard", or null.
    static const Json::Value* findContract(const SimCustomer& customer, const std::string& contractId);

    std::size_t size() const { return customers_.size(); }
    // Warnings about the fixture (repeated phones or documents), one per line.
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    bool addCustomer(const Json::Value& entry, std::size_t position, std::string& error);
    void index(std::map<std::string, std::size_t>& keys, const std::string& digits, std::size_t position,
               const char* what);

    std::vector<SimCustomer> customers_;
    std::map<std::string, std::size_t> byPhone_;
    std::map<std::string, std::size_t> byDocument_;
    std::vector<std::string> warnings_;
};

// The decimal digits of a text, in order.
std::string digitsOf(const std::string& text);

}  // namespace tarvik
