#pragma once

#include <stdexcept>

namespace tarvik {

// A failed back-office operation, carrying the line the operator sees. It is
// raised inside one operation of the client and caught at its end; it never
// leaves the client.
class ApiFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tarvik
