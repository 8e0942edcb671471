#include "fastagi/FastAgiNetwork.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

namespace tarvik {

namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool readPrefix(const std::string& digits, unsigned limit, unsigned& bits) {
    if (digits.empty() || digits.size() > 3) return false;
    for (char digit : digits) {
        if (digit < '0' || digit > '9') return false;
    }
    unsigned long value = std::strtoul(digits.c_str(), nullptr, 10);
    if (value > limit) return false;
    bits = static_cast<unsigned>(value);
    return true;
}

}  // namespace

bool FastAgiNetwork::parse(const std::string& written) {
    std::size_t slash = written.find('/');
    std::string address = written.substr(0, slash);
    std::array<std::uint8_t, 16> parsed{};
    int parsedFamily = AF_UNSPEC;
    if (inet_pton(AF_INET, address.c_str(), parsed.data()) == 1) {
        parsedFamily = AF_INET;
    } else if (inet_pton(AF_INET6, address.c_str(), parsed.data()) == 1) {
        parsedFamily = AF_INET6;
    } else {
        return false;
    }
    unsigned limit = parsedFamily == AF_INET ? 32 : 128;
    unsigned bits = limit;
    if (slash != std::string::npos && !readPrefix(written.substr(slash + 1), limit, bits)) return false;

    family = parsedFamily;
    bytes = parsed;
    prefixBits = bits;
    text = written;
    return true;
}

bool FastAgiNetwork::matches(const std::uint8_t* candidate, int candidateFamily) const {
    if (candidateFamily != family) return false;
    unsigned whole = prefixBits / 8;
    if (std::memcmp(candidate, bytes.data(), whole) != 0) return false;
    unsigned rest = prefixBits % 8;
    if (rest == 0) return true;
    auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
    return (candidate[whole] & mask) == (bytes[whole] & mask);
}

bool FastAgiNetwork::contains(const sockaddr* address) const {
    if (address == nullptr) return false;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return matches(reinterpret_cast<const std::uint8_t*>(&v4->sin_addr), AF_INET);
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&v6->sin6_addr);
        if (family == AF_INET && std::memcmp(raw, kMappedPrefix, sizeof(kMappedPrefix)) == 0) {
            return matches(raw + sizeof(kMappedPrefix), AF_INET);
        }
        return matches(raw, AF_INET6);
    }
    return false;
}

bool FastAgiNetwork::admits(const std::vector<FastAgiNetwork>& networks, const sockaddr* address) {
    if (networks.empty()) return true;
    for (const FastAgiNetwork& network : networks) {
        if (network.contains(address)) return true;
    }
    return false;
}

}  // namespace tarvik
