#include "tools/backoffice-sim/SimRouter.h"

#include <vector>

namespace tarvik {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The raw segments of the path part of a request target; empty segments
// (doubled slashes) are kept so that a lookup of an empty value stays unknown.
std::vector<std::string> segmentsOf(const std::string& target) {
    std::string path = target.substr(0, target.find_first_of("?#"));
    std::vector<std::string> segments;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        std::string::size_type slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        segments.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return segments;
}

struct Rule {
    std::vector<const char*> pieces;  // "*" matches any one non-empty segment
    const char* method;
    SimOperation operation;
    bool lastIsValue;
};

const std::vector<Rule>& rules() {
    static const std::vector<Rule> kRules = {
        {{"ready"}, "GET", SimOperation::Ready, false},
        {{"isp", "*", "*", "phone", "*"}, "GET", SimOperation::Phone, true},
        {{"isp", "*", "*", "document", "*"}, "GET", SimOperation::Document, true},
        {{"isp", "*", "*", "unlock"}, "PUT", SimOperation::Unlock, false},
        {{"isp", "*", "*", "send"}, "POST", SimOperation::Send, false},
        {{"isp", "*", "*", "protocol"}, "POST", SimOperation::Protocol, false},
        {{"isp", "*", "*", "ticket"}, "POST", SimOperation::Ticket, false},
        {{"identification"}, "POST", SimOperation::Identification, false},
        {{"recall", "meta", "search"}, "POST", SimOperation::RecallSearch, false},
        {{"recall", "meta", "register"}, "POST", SimOperation::RecallRegister, false},
        {{"integration", "log"}, "POST", SimOperation::Event, false},
        {{"logger"}, "POST", SimOperation::Logger, false},
    };
    return kRules;
}

bool matches(const Rule& rule, const std::vector<std::string>& rest) {
    if (rule.pieces.size() != rest.size()) {
        return false;
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        std::string piece = rule.pieces[i];
        if (piece == "*" ? rest[i].empty() : piece != rest[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string SimRouter::percentDecode(const std::string& text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

SimRoute SimRouter::route(const std::string& method, const std::string& target) {
    std::vector<std::string> segments = segmentsOf(target);
    SimRoute route;
    // The first "service/v1" pair starts the operation's path.
    std::size_t start = segments.size();
    for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
        if (segments[i] == "service" && segments[i + 1] == "v1") {
            start = i + 2;
            break;
        }
    }
    if (start >= segments.size()) {
        return route;
    }
    std::vector<std::string> rest;
    for (std::size_t i = start; i < segments.size(); ++i) {
        rest.push_back(percentDecode(segments[i]));
    }
    for (const Rule& rule : rules()) {
        if (matches(rule, rest)) {
            route.operation = rule.operation;
            route.methodAllowed = method == rule.method;
            if (rule.lastIsValue) {
                route.value = rest.back();
            }
            return route;
        }
    }
    return route;
}

}  // namespace tarvik
