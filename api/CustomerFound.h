#pragma once

#include <memory>

#include "api/BackOfficeOutcome.h"
#include "model/ISPClient.h"

namespace tarvik {

// A lookup's answer: the customer (null: nobody found) and the lines of
// why not, or of what could not be read of the customer.
struct CustomerFound : BackOfficeOutcome {
    std::unique_ptr<ISPClient> client;
};

}  // namespace tarvik
