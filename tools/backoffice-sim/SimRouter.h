#pragma once

#include "tools/backoffice-sim/SimOperation.h"

#include <string>

namespace tarvik {

// Which operation a request addresses.
struct SimRoute {
    SimOperation operation = SimOperation::Unknown;
    bool methodAllowed = false;  // false: known path, wrong method
    std::string value;           // the searched phone or document, percent-decoded
};

// Maps a request to an operation by the path pieces the IVR builds
// ("/service/v1/ready", "/service/v1/isp/DRIVER/ID/phone/VALUE", ...).
// Whatever precedes "/service/v1/" (a base path, an extra "/") is ignored,
// driver and id may be anything, and every path segment is percent-decoded
// on its own, so an encoded "/" stays inside its value.
class SimRouter {
public:
    static SimRoute route(const std::string& method, const std::string& target);

    // "%XY" sequences become bytes; malformed ones are kept as they are.
    static std::string percentDecode(const std::string& text);
};

}  // namespace tarvik
