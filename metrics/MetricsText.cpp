#include "metrics/MetricsText.h"

#include "util/BoundedFormat.h"

namespace tarvik {

std::string MetricsText::header(const std::string& name, const char* type, const char* help) {
    return formatBounded("# HELP %s%s %s\n# TYPE %s%s %s\n", kPrefix, name.c_str(), help, kPrefix, name.c_str(), type);
}

std::string MetricsText::sample(const std::string& name, const std::string& labels, unsigned long long value) {
    const std::string braces = labels.empty() ? "" : "{" + labels + "}";
    return formatBounded("%s%s%s %llu\n", kPrefix, name.c_str(), braces.c_str(), value);
}

std::string MetricsText::labelValue(const std::string& text) {
    std::string clean;
    for (char c : text.substr(0, 64)) {
        bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                     c == '-' || c == '.';
        clean += plain ? c : '_';
    }
    return clean.empty() ? "none" : clean;
}

}  // namespace tarvik
