#include "agi/AgiLineStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/DescriptorWrite.h"

namespace tarvik {

AgiLineStream::AgiLineStream(int inFd, int outFd) : inFd(inFd), outFd(outFd) {}

bool AgiLineStream::fillBuffer() {
    if (inputEnded) return false;
    for (;;) {
        ssize_t count = ::read(inFd, buffer, sizeof(buffer));
        if (count > 0) {
            start = 0;
            end = static_cast<std::size_t>(count);
            return true;
        }
        if (count < 0 && errno == EINTR) continue;
        // End of input or a broken descriptor: either way nothing more comes.
        inputEnded = true;
        return false;
    }
}

bool AgiLineStream::readLine(std::string& line) {
    line.clear();
    bool gotAnything = false;
    for (;;) {
        if (start == end && !fillBuffer()) return gotAnything;
        gotAnything = true;
        const char* begin = buffer + start;
        std::size_t available = end - start;
        const void* feed = std::memchr(begin, '\n', available);
        std::size_t take = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - begin) : available;
        if (line.size() < kMaxLineLength) {
            line.append(begin, std::min(take, kMaxLineLength - line.size()));
        }
        if (feed) {
            start += take + 1;
            return true;
        }
        start = end;
    }
}

bool AgiLineStream::writeAll(const char* data, std::size_t size) { return tarvik::writeAll(outFd, data, size); }

bool AgiLineStream::writeLine(const std::string& text) {
    if (outputBroken) return false;
    std::string framed = text + '\n';
    if (!writeAll(framed.data(), framed.size())) outputBroken = true;
    return !outputBroken;
}

}  // namespace tarvik
