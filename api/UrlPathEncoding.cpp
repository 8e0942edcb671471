#include "api/UrlPathEncoding.h"

namespace tarvik {

namespace {
bool isUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~';
}
}  // namespace

std::string UrlPathEncoding::encodeSegment(const std::string& value) {
    // A segment of only dots would still be a dot-segment that clients and
    // servers resolve away ("/by-phone/.." is "/"), so those dots are encoded too.
    if (value == "." || value == "..") return value == "." ? "%2E" : "%2E%2E";
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (char character : value) {
        const auto byte = static_cast<unsigned char>(character);
        if (isUnreserved(byte)) {
            encoded.push_back(character);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

}  // namespace tarvik
