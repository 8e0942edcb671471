#include "fastagi/FastAgiOptions.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cstdlib>

namespace tarvik {

namespace {

bool readNumber(const std::string& digits, unsigned long limit, unsigned long& value) {
    if (digits.empty() || digits.size() > 9) return false;
    for (char digit : digits) {
        if (digit < '0' || digit > '9') return false;
    }
    value = std::strtoul(digits.c_str(), nullptr, 10);
    return value <= limit;
}

bool isAddress(const std::string& text) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// "[ADDRESS:]PORT", the address defaulting to `host` as given.
bool readAddressAndPort(const std::string& text, std::string& host, std::uint16_t& port) {
    std::string address = host;
    std::string portText = text;
    if (!text.empty() && text[0] == '[') {
        std::size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        address = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else {
        std::size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            address = text.substr(0, colon);
            portText = text.substr(colon + 1);
        }
    }
    unsigned long number = 0;
    if (!isAddress(address) || !readNumber(portText, 65535, number)) return false;
    host = address;
    port = static_cast<std::uint16_t>(number);
    return true;
}

bool addNetwork(const std::string& text, std::vector<FastAgiNetwork>& networks) {
    FastAgiNetwork network;
    if (!network.parse(text)) return false;
    networks.push_back(network);
    return true;
}

}  // namespace

bool FastAgiOptions::setListen(const std::string& text) { return readAddressAndPort(text, address, port); }

bool FastAgiOptions::setMetrics(const std::string& text) {
    if (!readAddressAndPort(text, metricsAddress, metricsPort)) return false;
    metricsEnabled = true;
    return true;
}

bool FastAgiOptions::setMaxCalls(const std::string& text) {
    unsigned long number = 0;
    if (!readNumber(text, 100000, number) || number == 0) return false;
    maxCalls = number;
    return true;
}

bool FastAgiOptions::setCallsPerProcess(const std::string& text) {
    unsigned long number = 0;
    if (!readNumber(text, 100000000, number) || number == 0) return false;
    callsPerProcess = number;
    return true;
}

bool FastAgiOptions::setSpareProcesses(const std::string& text) {
    unsigned long number = 0;
    if (!readNumber(text, 100000, number)) return false;
    spareProcesses = number;
    return true;
}

bool FastAgiOptions::setIdleTimeout(const std::string& text) {
    unsigned long seconds = 0;
    if (!readNumber(text, 7 * 24 * 3600, seconds)) return false;
    idleTimeout = std::chrono::seconds(seconds);
    return true;
}

bool FastAgiOptions::addAllowed(const std::string& text) { return addNetwork(text, allowed); }

bool FastAgiOptions::addMetricsAllowed(const std::string& text) { return addNetwork(text, metricsAllowed); }

bool FastAgiOptions::setConfigs(const std::string& text) {
    struct stat status {};
    if (text.empty() || ::stat(text.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    configsDirectory = text;
    return true;
}

bool FastAgiOptions::isAllowed(const sockaddr* peer) const { return FastAgiNetwork::admits(allowed, peer); }

}  // namespace tarvik
