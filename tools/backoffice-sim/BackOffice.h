#pragma once

#include "tools/backoffice-sim/CustomerStore.h"
#include "tools/backoffice-sim/RecallHistory.h"
#include "tools/backoffice-sim/SimRouter.h"

#include <atomic>
#include <string>

namespace tarvik {

// What the simulator answers: a status and a body.
struct SimAnswer {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

// The back office's behaviour: answers each operation from the customer
// store and the recall history, as a real back office would (lookups,
// contract operations, protocol numbers, recalls, logs).
class BackOffice {
public:
    BackOffice(const CustomerStore& store, RecallHistory& recalls) : store_(store), recalls_(recalls) {}

    SimAnswer answer(const SimRoute& route, const std::string& body);

private:
    SimAnswer lookup(const SimCustomer* customer) const;
    SimAnswer contractOperation(SimOperation operation, const Json::Value& request);
    SimAnswer ticket(const SimCustomer& customer);
    SimAnswer recallSearch(const Json::Value& request);
    SimAnswer recallRegister(const Json::Value& request);
    SimAnswer identification(const Json::Value& request) const;
    std::string nextProtocolNumber();

    const CustomerStore& store_;
    RecallHistory& recalls_;
    std::atomic<unsigned long> tickets_{0};
};

}  // namespace tarvik
