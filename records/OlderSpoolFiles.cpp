#include "records/OlderSpoolFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "records/ClaimMarker.h"
#include "records/RecordFile.h"

namespace tarvik {

namespace {

const char* const kRecordSuffix = ".rec";
const char* const kAsideFolder = "aside";
// Files that are no record: kept for the operator, never read again.
const char* const kNotRecordsFolder = "not-records";
// No record comes near this; a bigger file is not read.
constexpr off_t kMaxRecordBytes = 1024 * 1024;

bool endsWith(const std::string& text, const char* end) {
    const std::size_t length = std::strlen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

// The file's text when it is a regular file of a sane size, never through a
// symbolic link; false otherwise.
bool readRegularFile(const std::string& path, std::string& text, std::int64_t& modified) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat facts {};
    bool fine = ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size <= kMaxRecordBytes;
    modified = static_cast<std::int64_t>(facts.st_mtime) * 1000000000;
    text.clear();
    char buffer[8192];
    while (fine) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fine = false;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return fine;
}

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    DIR* folder = ::opendir(directory.c_str());
    if (folder == nullptr) return names;
    while (const dirent* item = ::readdir(folder)) names.emplace_back(item->d_name);
    ::closedir(folder);
    return names;
}

// The name of a waiting file, or empty when `name` is none (a claimed file
// of a process still running is left to it).
std::string waitingName(const std::string& name) {
    if (name.empty() || name[0] == '.') return std::string();
    if (endsWith(name, kRecordSuffix)) return name;
    const std::size_t marker = name.rfind(ClaimMarker::kPrefix);
    if (marker == std::string::npos || marker == 0) return std::string();
    const std::string waiting = name.substr(0, marker);
    if (!endsWith(waiting, kRecordSuffix) || !ClaimMarker::ownerIsGone(name.substr(marker))) return std::string();
    return waiting;
}

}  // namespace

OlderSpoolFiles::Scan OlderSpoolFiles::scan(const std::string& directory) {
    Scan scan;
    const std::string asideDirectory = directory + "/" + kAsideFolder;
    const std::string notRecords = directory + "/" + kNotRecordsFolder;
    const std::string mine = ClaimMarker::own();
    auto take = [&](const std::string& folder, const std::string& name, const std::string& waiting, bool aside) {
        Found found;
        // Claimed first, as before: of processes taking the files in at
        // once, exactly one renames each.
        found.path = folder + "/" + waiting + mine;
        if (::rename((folder + "/" + name).c_str(), found.path.c_str()) != 0) return;
        found.aside = aside;
        std::string text;
        std::int64_t modified = 0;
        // Names begin with the time written, in nanoseconds.
        char* end = nullptr;
        const long long stamp = std::strtoll(waiting.c_str(), &end, 10);
        // A link or anything but a regular file is never read through.
        const bool read = readRegularFile(found.path, text, modified);
        found.written = modified;
        found.order = end != nullptr && *end == '-' && stamp > 0 ? stamp : modified;
        if (read && RecordFile::read(text, found.record, found.identity) == RecordFile::Reading::record) {
            scan.records.push_back(std::move(found));
        } else {
            ::mkdir(notRecords.c_str(), 0700);
            if (::rename(found.path.c_str(), (notRecords + "/" + waiting).c_str()) == 0) ++scan.notRecords;
        }
    };
    for (const std::string& name : namesIn(directory)) {
        const std::string waiting = waitingName(name);
        if (!waiting.empty()) take(directory, name, waiting, false);
    }
    struct stat facts {};
    if (::lstat(asideDirectory.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode)) {
        for (const std::string& name : namesIn(asideDirectory)) {
            if (!name.empty() && name[0] != '.' && endsWith(name, kRecordSuffix)) {
                take(asideDirectory, name, name, true);
            }
        }
    }
    return scan;
}

bool OlderSpoolFiles::present(const std::string& directory) {
    for (const std::string& name : namesIn(directory)) {
        if (!waitingName(name).empty()) return true;
    }
    const std::string asideDirectory = directory + "/" + kAsideFolder;
    struct stat facts {};
    if (::lstat(asideDirectory.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) return false;
    for (const std::string& name : namesIn(asideDirectory)) {
        if (!name.empty() && name[0] != '.' && endsWith(name, kRecordSuffix)) return true;
    }
    return false;
}

void OlderSpoolFiles::removeTaken(const std::vector<Found>& taken) {
    for (const Found& found : taken) ::unlink(found.path.c_str());
}

}  // namespace tarvik
