#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "ivr/Plugin.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {

// Opens the protected state that the module keeps for the call flow, so
// tests can set up and inspect it without running a whole call.
template <typename Module>
class Exposed : public Module {
public:
    using Module::apiReady;
    using Module::backOffice;
    using Module::callerId;
    using Module::client;
    using Module::document;
    using Module::escapeCode;
    using Module::ignoreEmptyBarCode;
    using Module::protocol;
};

// True when the recorded operations hold exactly this line.
inline bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& each : lines)
        if (each == line) return true;
    return false;
}

}  // namespace tarvik::testing
