#include "fuzz/FuzzInput.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace tarvik::fuzz {

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

int memoryDescriptor(const std::uint8_t* data, std::size_t size) {
    int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd < 0) return -1;
    if (!writeAll(fd, data, size) || ::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string writeWorkingFile(const char* stem, const char* suffix, const std::uint8_t* data, std::size_t size) {
    std::string name = std::string(stem) + "-" + std::to_string(::getpid()) + suffix;
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return std::string();
    bool written = writeAll(fd, data, size);
    ::close(fd);
    return written ? name : std::string();
}

int nullOutput() {
    static int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

}  // namespace tarvik::fuzz
