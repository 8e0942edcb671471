#pragma once

#include <string>

namespace tarvik {

// Pieces of the Prometheus text exposition every metric of the programs is
// written with: the "ivr_" prefix, the HELP and TYPE lines, one sample.
class MetricsText {
public:
    static constexpr const char* kPrefix = "ivr_";

    // "# HELP ivr_NAME HELP" and "# TYPE ivr_NAME TYPE".
    static std::string header(const std::string& name, const char* type, const char* help);
    // "ivr_NAME{LABELS} VALUE"; labels without braces, or empty.
    static std::string sample(const std::string& name, const std::string& labels, unsigned long long value);
    // Label values come from configuration and the back office's paths:
    // kept to a safe alphabet (at most 64 bytes) so the exposition stays
    // parseable; "none" for an empty text.
    static std::string labelValue(const std::string& text);
    // A back office's address as a label: the same alphabet and ":/[]",
    // at most 128 bytes.
    static std::string addressLabel(const std::string& address);
};

}  // namespace tarvik
