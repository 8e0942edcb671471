#include "fastagi/FastAgiCallRecord.h"

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// Values come from the peer: keep the line one line of plain words.
std::string loggable(const char* text, std::size_t limit) {
    if (text == nullptr || *text == '\0') return "-";
    std::string clean;
    for (const char* cursor = text; *cursor != '\0' && clean.size() < limit; ++cursor) {
        auto byte = static_cast<unsigned char>(*cursor);
        clean += (byte > 0x20 && byte < 0x7f) ? static_cast<char>(byte) : '_';
    }
    return clean;
}

std::string utcText(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::size_t length = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text, length);
}

}  // namespace

FastAgiCallRecord::FastAgiCallRecord(std::string peer)
    : peer(std::move(peer)), started(std::time(nullptr)), startedSteady(std::chrono::steady_clock::now()) {}

void FastAgiCallRecord::setCaller(const char* callerId) { caller = loggable(callerId, 64); }

void FastAgiCallRecord::setUniqueId(const char* id) { uniqueId = loggable(id, 64); }

void FastAgiCallRecord::setDestination(const std::string& target) { destination = loggable(target.c_str(), 200); }

std::string FastAgiCallRecord::finish(int status) const {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                        startedSteady);
    return formatBounded(
        "fastagi: call peer=%s uniqueid=%s caller=%s start=%s end=%s duration_ms=%lld destination=%s "
        "hangup=%s status=%d\n",
        peer.c_str(), uniqueId.c_str(), caller.c_str(), utcText(started).c_str(), utcText(std::time(nullptr)).c_str(),
        static_cast<long long>(elapsed.count()), destination.c_str(), hangupNotified ? "yes" : "no", status);
}

double FastAgiCallRecord::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - startedSteady).count();
}

std::string FastAgiCallRecord::refuse(const char* reason) const {
    return formatBounded("fastagi: call peer=%s ended: %s\n", peer.c_str(), reason);
}

std::string FastAgiCallRecord::refuseConfiguration(const std::string& path, const std::string& reason) const {
    return formatBounded("fastagi: call peer=%s uniqueid=%s configuration %s refused: %s\n", peer.c_str(),
                         uniqueId.c_str(), loggable(path.c_str(), 200).c_str(), reason.c_str());
}

}  // namespace tarvik
