#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {

// One entry of the FastAGI allow list: an IPv4 or IPv6 network written as
// an address with an optional prefix length ("10.1.2.0/24", "192.0.2.7",
// "fd00::/8"). An IPv4 network also matches the IPv4-mapped IPv6 form
// (::ffff:a.b.c.d) a dual-stack listener reports.
class FastAgiNetwork {
public:
    // False (and this unchanged) when the text is not a network.
    bool parse(const std::string& text);

    bool contains(const sockaddr* address) const;
    // An allow list: true when it is empty or a network of it holds `address`.
    static bool admits(const std::vector<FastAgiNetwork>& networks, const sockaddr* address);

    const std::string& getText() const { return text; }

private:
    bool matches(const std::uint8_t* bytes, int bytesFamily) const;

    int family = AF_UNSPEC;
    std::array<std::uint8_t, 16> bytes{};
    unsigned prefixBits = 0;
    std::string text;
};

}  // namespace tarvik
