#include "metrics/MetricsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "metrics/CallMetrics.h"
#include "util/DescriptorWrite.h"

namespace tarvik {

namespace {

// Far beyond what the families grow to (labels are bounded).
constexpr std::size_t kMaxFileBytes = 1 << 20;

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The file as it is, empty when there is none yet. Read to its size, so
// one read does (the file is only ever replaced, never written in place).
bool readWhole(const std::string& path, std::string& text) {
    text.clear();
    int fd = openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_size > 0 && static_cast<std::size_t>(status.st_size) <= kMaxFileBytes) {
        text.resize(static_cast<std::size_t>(status.st_size));
        std::size_t got = 0;
        while (got < text.size()) {
            ssize_t part = ::read(fd, &text[got], text.size() - got);
            if (part < 0 && errno == EINTR) continue;
            if (part <= 0) break;
            got += static_cast<std::size_t>(part);
        }
        text.resize(got);
    }
    // A larger file is not ours: it is started over.
    ::close(fd);
    return true;
}

class LockFile {
public:
    explicit LockFile(const std::string& path) : fd(openRetrying(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd < 0) return;
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            const int error = errno;
            ::close(fd);
            fd = -1;
            errno = error;
        }
    }
    ~LockFile() {
        if (fd >= 0) ::close(fd);  // closing releases the lock
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool held() const { return fd >= 0; }

private:
    int fd;
};

std::string failed(const std::string& path, const char* what, int error) {
    return "metrics file " + path + " not updated: " + what + ": " + std::strerror(error);
}

}  // namespace

bool MetricsFile::add(const std::string& path, const std::vector<std::string>& reports, std::string& failure) {
    LockFile lock(path + ".lock");
    if (!lock.held()) {
        failure = failed(path, "cannot lock", errno);
        return false;
    }
    std::string text;
    if (!readWhole(path, text)) {
        failure = failed(path, "cannot read", errno);
        return false;
    }
    CallMetrics metrics;
    metrics.restore(text);
    for (const std::string& report : reports) metrics.apply(report);
    text = metrics.render();

    // Only the holder of the lock writes the temporary file, so one name does.
    const std::string temporary = path + ".tmp";
    int fd = openRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        failure = failed(path, "cannot write", errno);
        return false;
    }
    // Blocks allocated before the write: ext4 then has nothing to flush
    // when the file is renamed over the old one, a third of the update's
    // cost otherwise. Where it is not supported the write allocates them.
    ::fallocate(fd, 0, 0, static_cast<off_t>(text.size()));
    const bool written = writeAll(fd, text.data(), text.size());
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        failure = failed(path, "cannot write", written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    // No fsync: the counts are a scrape's, and a reader never sees half a file.
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = failed(path, "cannot replace", errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace tarvik
