#include "api/RecordSpool.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util/BoundedFormat.h"
#include "util/DescriptorWrite.h"
#include "util/SpoolObserver.h"

namespace tarvik {

namespace {

const char* const kWaitingSuffix = ".rec";
const char* const kClaimMarker = ".claimed-";
const char* const kTempPrefix = ".tmp-";
const char* const kAsideFolder = "aside";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Unique within the machine: time, process and a counter of this process.
std::string freshName() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    return formatBounded("%019lld-%ld-%u", nanoseconds, static_cast<long>(::getpid()), counter++);
}

bool processIsGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

RecordSpool::RecordSpool(std::string directory) : RecordSpool(std::move(directory), Limits()) {}

RecordSpool::RecordSpool(std::string directory, Limits limits) : directory_(std::move(directory)), limits(limits) {}

bool RecordSpool::store(const BackOfficeRecord& record, std::string& problem) {
    // The spool's own folder is made when missing; its parents are the
    // operator's (packages make it owned by the user that runs the calls).
    if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = formatBounded("spool directory %s cannot be written: %s", directory_.c_str(), std::strerror(errno));
        return false;
    }
    const std::string text = record.toJson();
    makeRoomFor(text.size());

    const std::string name = freshName();
    const std::string temporary = directory_ + "/" + kTempPrefix + name;
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = formatBounded("spool directory %s cannot be written: %s", directory_.c_str(), std::strerror(errno));
        return false;
    }
    // Written whole and synced before it gets a name that is ever read, so a
    // process killed half-way leaves only a temporary file.
    bool written = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    const std::string waiting = directory_ + "/" + name + kWaitingSuffix;
    if (!written || ::rename(temporary.c_str(), waiting.c_str()) != 0) {
        const int error = written ? errno : writeError;
        ::unlink(temporary.c_str());
        problem = formatBounded("spool directory %s cannot be written: %s", directory_.c_str(), std::strerror(error));
        return false;
    }
    SpoolObserver::report("stored", 1);
    return true;
}

std::vector<RecordSpool::Entry> RecordSpool::waitingEntries() const {
    std::vector<Entry> entries;
    DIR* folder = ::opendir(directory_.c_str());
    if (folder == nullptr) return entries;
    while (dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name.empty() || name[0] == '.' || !endsWith(name, kWaitingSuffix)) continue;
        struct stat facts {};
        if (::stat((directory_ + "/" + name).c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) continue;
        Entry entry;
        entry.name = name;
        entry.bytes = static_cast<std::uintmax_t>(facts.st_size);
        entry.written = std::chrono::system_clock::from_time_t(facts.st_mtime);
        entries.push_back(entry);
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

std::size_t RecordSpool::waitingCount() const { return waitingEntries().size(); }

void RecordSpool::makeRoomFor(std::uintmax_t bytes) {
    std::vector<Entry> entries = waitingEntries();
    std::uintmax_t total = bytes;
    for (const Entry& entry : entries) total += entry.bytes;
    std::size_t count = entries.size() + 1;
    for (const Entry& oldest : entries) {
        if (count <= limits.maxRecords && total <= limits.maxBytes) break;
        if (::unlink((directory_ + "/" + oldest.name).c_str()) == 0) {
            ++dropped;
            SpoolObserver::report("dropped", 1);
        }
        total -= oldest.bytes;
        --count;
    }
}

void RecordSpool::giveBackOrphanedClaims() {
    DIR* folder = ::opendir(directory_.c_str());
    if (folder == nullptr) return;
    std::vector<std::string> orphans;
    while (dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        const std::size_t marker = name.rfind(kClaimMarker);
        if (marker == std::string::npos) continue;
        const long pid = std::strtol(name.c_str() + marker + std::strlen(kClaimMarker), nullptr, 10);
        if (processIsGone(pid)) orphans.push_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : orphans) {
        const std::string waiting = name.substr(0, name.rfind(kClaimMarker));
        ::rename((directory_ + "/" + name).c_str(), (directory_ + "/" + waiting).c_str());
    }
}

std::vector<RecordSpool::Claimed> RecordSpool::claim(std::size_t count) {
    std::vector<Claimed> claimed;
    if (count == 0) return claimed;
    giveBackOrphanedClaims();
    const auto now = std::chrono::system_clock::now();
    const std::string mine = formatBounded("%s%ld", kClaimMarker, static_cast<long>(::getpid()));
    for (const Entry& entry : waitingEntries()) {
        if (claimed.size() >= count) break;
        Claimed item;
        item.waitingPath = directory_ + "/" + entry.name;
        item.claimedPath = item.waitingPath + mine;
        // Renaming is the claim: of processes racing for one file, exactly
        // one rename succeeds.
        if (::rename(item.waitingPath.c_str(), item.claimedPath.c_str()) != 0) continue;
        if (now - entry.written > limits.maxAge) {
            ::unlink(item.claimedPath.c_str());
            ++dropped;
            SpoolObserver::report("dropped", 1);
            continue;
        }
        if (!BackOfficeRecord::fromJson(readWhole(item.claimedPath), item.record)) {
            moveAside(item.claimedPath, entry.name);
            continue;
        }
        claimed.push_back(std::move(item));
    }
    return claimed;
}

void RecordSpool::release(const Claimed& claimed) {
    ::rename(claimed.claimedPath.c_str(), claimed.waitingPath.c_str());
}

void RecordSpool::remove(const Claimed& claimed) {
    if (::unlink(claimed.claimedPath.c_str()) == 0) SpoolObserver::report("delivered", 1);
}

void RecordSpool::setAside(const Claimed& claimed) {
    const std::size_t slash = claimed.waitingPath.rfind('/');
    moveAside(claimed.claimedPath, claimed.waitingPath.substr(slash + 1));
}

void RecordSpool::moveAside(const std::string& path, const std::string& name) {
    const std::string aside = directory_ + "/" + kAsideFolder;
    ::mkdir(aside.c_str(), 0700);
    if (::rename(path.c_str(), (aside + "/" + name).c_str()) != 0) ::unlink(path.c_str());
    ++setAsideCount;
    SpoolObserver::report("set-aside", 1);
}

std::vector<std::string> RecordSpool::takeNotices() {
    std::vector<std::string> notices;
    if (dropped > 0) {
        notices.push_back(formatBounded("spool %s: dropped %zu records (spool full or records too old)",
                                        directory_.c_str(), dropped));
    }
    if (setAsideCount > 0) {
        notices.push_back(formatBounded("spool %s: set %zu records aside in %s/ (refused by the back office or not a record)",
                                        directory_.c_str(), setAsideCount, kAsideFolder));
    }
    dropped = 0;
    setAsideCount = 0;
    return notices;
}

}  // namespace tarvik
