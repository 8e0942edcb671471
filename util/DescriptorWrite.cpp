#include "util/DescriptorWrite.h"

#include <unistd.h>

#include <cerrno>

namespace tarvik {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace tarvik
