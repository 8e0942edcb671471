#include "metrics/MetricsText.h"

namespace tarvik {

std::string MetricsText::header(const std::string& name, const char* type, const char* help) {
    const std::string full = kPrefix + name;
    return "# HELP " + full + " " + help + "\n# TYPE " + full + " " + type + "\n";
}

std::string MetricsText::sample(const std::string& name, const std::string& labels, unsigned long long value) {
    // Every call's update of the metrics file writes every sample: appends.
    std::string text = kPrefix + name;
    if (!labels.empty()) text += "{" + labels + "}";
    return text + " " + std::to_string(value) + "\n";
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

std::string MetricsText::addressLabel(const std::string& address) {
    std::string clean;
    for (char c : address.substr(0, 128)) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                           c == '-' || c == '.' || c == ':' || c == '/' || c == '[' || c == ']';
        clean += plain ? c : '_';
    }
    return clean.empty() ? "none" : clean;
}

}  // namespace tarvik
