#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <vector>

namespace tarvik {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ivr-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path target(file(name));
    std::error_code ignored;
    std::filesystem::create_directories(target.parent_path(), ignored);
    std::ofstream(target, std::ios::binary) << bytes;
    return target.string();
}

// Plain reads, not a stream: a file under /proc vanishes with its process,
// mid-read too, and a stream buffer reports that by throwing.
std::string TempDir::readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            text.clear();  // half a file would pass for a whole one
            break;
        }
    }
    ::close(fd);
    return text;
}

}  // namespace tarvik
