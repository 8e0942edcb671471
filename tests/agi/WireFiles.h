#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarvik::testing {

// The two ends of an AGI wire as in-memory files: what Asterisk "wrote"
// is read from the input file (end of input after it), and everything the
// session writes lands in the output file. Nothing can block.
class WireFiles {
public:
    explicit WireFiles(const std::string& input)
        : in(memfd_create("agi-in", MFD_CLOEXEC)), out(memfd_create("agi-out", MFD_CLOEXEC)) {
        EXPECT_GE(in, 0);
        EXPECT_GE(out, 0);
        EXPECT_EQ(::write(in, input.data(), input.size()), static_cast<ssize_t>(input.size()));
        ::lseek(in, 0, SEEK_SET);
    }
    ~WireFiles() {
        ::close(in);
        ::close(out);
    }
    WireFiles(const WireFiles&) = delete;
    WireFiles& operator=(const WireFiles&) = delete;

    int input() const { return in; }
    int output() const { return out; }

    std::string written() const {
        std::string bytes;
        char chunk[4096];
        off_t offset = 0;
        ssize_t got;
        while ((got = ::pread(out, chunk, sizeof(chunk), offset)) > 0) {
            bytes.append(chunk, static_cast<std::size_t>(got));
            offset += got;
        }
        return bytes;
    }

    std::vector<std::string> writtenLines() const {
        std::vector<std::string> lines;
        std::istringstream stream(written());
        for (std::string line; std::getline(stream, line);) lines.push_back(line);
        return lines;
    }

private:
    int in;
    int out;
};

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << "cannot read " << path;
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

inline std::string transcriptFile(const std::string& name) {
    return readFile(std::string(IVR_TRANSCRIPTS_DIR) + "/" + name);
}

}  // namespace tarvik::testing
