#pragma once

#include <cstddef>
#include <string>

namespace tarvik {

// Line-oriented I/O over a pair of file descriptors (standard input/output
// for a local AGI, one socket twice for a network one). Raw read()/write():
// standard output must carry nothing but AGI commands, so no stdio buffers.
class AgiLineStream {
public:
    // A reply line longer than this is kept only up to this length; the rest
    // of it, up to its line feed, is read and thrown away.
    static constexpr std::size_t kMaxLineLength = 64 * 1024;

    AgiLineStream(int inFd, int outFd);

    AgiLineStream(const AgiLineStream&) = delete;
    AgiLineStream& operator=(const AgiLineStream&) = delete;

    // One line without its line feed. False at end of input (the peer closed
    // it, or a read failed); a last line without a line feed still counts.
    bool readLine(std::string& line);

    // Writes text and a line feed. False when the peer is gone (EPIPE or any
    // other write failure); later writes are then skipped.
    bool writeLine(const std::string& text);

    // End of input reached, or output broken: no reply will come any more.
    bool isClosed() const { return inputEnded || outputBroken; }

private:
    bool fillBuffer();
    bool writeAll(const char* data, std::size_t size);

    int inFd;
    int outFd;
    char buffer[4096];
    std::size_t start = 0;
    std::size_t end = 0;
    bool inputEnded = false;
    bool outputBroken = false;
};

}  // namespace tarvik
