#include "records/RecordSpool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "records/ClaimMarker.h"
#include "records/RecordFile.h"
#include "util/BoundedFormat.h"
#include "util/DescriptorWrite.h"
#include "util/SpoolObserver.h"

namespace tarvik {

namespace {

const char* const kRecordSuffix = ".rec";
const char* const kTempPrefix = ".tmp-";
const char* const kHoldPrefix = ".hold-";
const char* const kAsideFolder = "aside";
// No record comes near this; a bigger file is not read.
constexpr off_t kMaxRecordBytes = 1024 * 1024;

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool startsWith(const std::string& text, const char* start) { return text.compare(0, std::strlen(start), start) == 0; }

// The file's text when it is a regular file of a sane size, never through a
// symbolic link; false otherwise.
bool readRegularFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat facts {};
    bool fine = ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size <= kMaxRecordBytes;
    text.clear();
    char buffer[8192];
    while (fine) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fine = false;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > static_cast<std::size_t>(kMaxRecordBytes)) fine = false;
    }
    ::close(fd);
    return fine;
}

// A rename survives a power cut only once its directory is synced.
void syncDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string timeNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return formatBounded("%019lld", static_cast<long long>(
                                        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

// Unique within the machine: time, process and a counter of this process.
std::string freshName() {
    static std::atomic<unsigned> counter{0};
    return timeNow() + formatBounded("-%ld-%u", static_cast<long>(::getpid()), counter++);
}

// Writes `text` under a temporary name, syncs it and renames it to `target`.
bool writeWhole(const std::string& directory, const std::string& text, const std::string& target, int& error) {
    const std::string temporary = directory + "/" + kTempPrefix + freshName();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
        return false;
    }
    // Written whole and synced before it gets a name that is ever read, so a
    // process killed half-way leaves only a temporary file.
    bool written = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        if (written) error = errno;
        ::unlink(temporary.c_str());
        return false;
    }
    syncDirectory(directory);
    return true;
}

// Whether a waiting file's name is one of this back office's records (or of
// the older form, which every reader sets aside).
bool isMine(const std::string& name, const std::string& ownSuffix) {
    if (endsWith(name, ownSuffix)) return true;
    const std::string stem = name.substr(0, name.size() - std::strlen(kRecordSuffix));
    return stem.find('.') == std::string::npos;
}

}  // namespace

RecordSpool::RecordSpool(std::string directory, BackOfficeIdentity identity)
    : RecordSpool(std::move(directory), std::move(identity), Limits()) {}

RecordSpool::RecordSpool(std::string directory, BackOfficeIdentity identityIn, Limits limits)
    : directory_(std::move(directory)),
      identity(std::move(identityIn)),
      waitingSuffix("." + identity.tag() + kRecordSuffix),
      limits(limits) {}

bool RecordSpool::usable(bool create, std::string& problem) {
    if (usability >= 0) {
        if (usability == 0) problem = unusable;
        return usability == 1;
    }
    struct stat facts {};
    if (::stat(directory_.c_str(), &facts) != 0 && errno == ENOENT && create) ::mkdir(directory_.c_str(), 0700);
    int missing = 0;
    if (::stat(directory_.c_str(), &facts) != 0) {
        missing = errno;
        problem = formatBounded("spool directory %s cannot be used: %s", directory_.c_str(), std::strerror(missing));
    } else if (!S_ISDIR(facts.st_mode)) {
        problem = formatBounded("spool directory %s cannot be used: not a directory", directory_.c_str());
    } else if (facts.st_uid != ::geteuid()) {
        problem = formatBounded("spool directory %s is not used: it belongs to uid %u, not to uid %u that runs this "
                                "program (records are written only where nobody else can change them)",
                                directory_.c_str(), static_cast<unsigned>(facts.st_uid),
                                static_cast<unsigned>(::geteuid()));
    } else if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        problem = formatBounded("spool directory %s is not used: it is writable by group or others (mode %03o)",
                                directory_.c_str(), static_cast<unsigned>(facts.st_mode & 0777));
    } else {
        usability = 1;
        return true;
    }
    // A directory that cannot be created now may be made later: only a
    // directory that exists and is wrong is refused for good.
    if (missing == 0) {
        usability = 0;
        unusable = problem;
    }
    return false;
}

bool RecordSpool::store(const BackOfficeRecord& record, std::string& problem) {
    if (!usable(true, problem)) return false;
    const std::string text = RecordFile::write(record, identity);
    makeRoomFor(text.size());
    int error = 0;
    if (!writeWhole(directory_, text, directory_ + "/" + freshName() + waitingSuffix, error)) {
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
        if (name.empty() || name[0] == '.' || !endsWith(name, kRecordSuffix)) continue;
        struct stat facts {};
        if (::lstat((directory_ + "/" + name).c_str(), &facts) != 0 || S_ISDIR(facts.st_mode)) continue;
        Entry entry;
        entry.name = name;
        entry.bytes = static_cast<std::uintmax_t>(facts.st_size);
        entry.written = std::chrono::system_clock::from_time_t(facts.st_mtime);
        entry.mine = isMine(name, waitingSuffix);
        entries.push_back(entry);
    }
    ::closedir(folder);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

std::size_t RecordSpool::waitingCount() const {
    const std::vector<Entry> entries = waitingEntries();
    return static_cast<std::size_t>(
        std::count_if(entries.begin(), entries.end(), [](const Entry& entry) { return entry.mine; }));
}

void RecordSpool::removeLeftovers() {
    DIR* folder = ::opendir(directory_.c_str());
    if (folder == nullptr) return;
    const auto now = std::chrono::system_clock::now();
    std::vector<std::string> old;
    while (dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (!startsWith(name, kTempPrefix)) continue;
        struct stat facts {};
        if (::lstat((directory_ + "/" + name).c_str(), &facts) != 0) continue;
        if (now - std::chrono::system_clock::from_time_t(facts.st_mtime) > limits.leftoverAge) old.push_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : old) {
        if (::unlink((directory_ + "/" + name).c_str()) == 0) ++leftovers;
    }
}

void RecordSpool::makeRoomFor(std::uintmax_t bytes) {
    removeLeftovers();
    // The bounds hold for the whole directory: every back office's records
    // and what writers are still writing.
    std::vector<Entry> entries = waitingEntries();
    std::uintmax_t total = bytes;
    std::size_t count = entries.size() + 1;
    DIR* folder = ::opendir(directory_.c_str());
    if (folder != nullptr) {
        while (dirent* item = ::readdir(folder)) {
            const std::string name = item->d_name;
            struct stat facts {};
            if (!startsWith(name, kTempPrefix) || ::lstat((directory_ + "/" + name).c_str(), &facts) != 0) continue;
            total += static_cast<std::uintmax_t>(facts.st_size);
            ++count;
        }
        ::closedir(folder);
    }
    for (const Entry& entry : entries) total += entry.bytes;
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
        const std::size_t marker = name.rfind(ClaimMarker::kPrefix);
        if (marker == std::string::npos || marker == 0) continue;
        if (ClaimMarker::ownerIsGone(name.substr(marker))) orphans.push_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : orphans) {
        const std::string waiting = name.substr(0, name.rfind(ClaimMarker::kPrefix));
        ::rename((directory_ + "/" + name).c_str(), (directory_ + "/" + waiting).c_str());
    }
}

std::string RecordSpool::timeWrittenNow() { return timeNow(); }

std::vector<RecordSpool::Claimed> RecordSpool::claim(std::size_t count, const std::string& writtenBefore) {
    std::vector<Claimed> claimed;
    std::string problem;
    if (count == 0 || !usable(false, problem) || heldOff()) return claimed;
    giveBackOrphanedClaims();
    removeLeftovers();
    const auto now = std::chrono::system_clock::now();
    const std::string mine = ClaimMarker::own();
    for (const Entry& entry : waitingEntries()) {
        if (claimed.size() >= count) break;
        if (!entry.mine || stuck.count(entry.name) != 0 || foreign.count(entry.name) != 0) continue;
        if (!writtenBefore.empty() && entry.name.compare(0, writtenBefore.size(), writtenBefore) >= 0) continue;
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
        std::string text;
        BackOfficeIdentity written;
        const RecordFile::Reading reading = readRegularFile(item.claimedPath, text)
                                                ? RecordFile::read(text, item.record, written)
                                                : RecordFile::Reading::notRecord;
        if (reading == RecordFile::Reading::record && written == identity) {
            claimed.push_back(std::move(item));
        } else if (reading == RecordFile::Reading::record) {
            // Another back office's record under a name like ours: not ours to send.
            release(item);
            foreign.insert(entry.name);
        } else if (reading == RecordFile::Reading::noBackOffice) {
            if (moveAside(item.claimedPath, item.waitingPath, "names no back office")) ++olderForm;
        } else if (reading == RecordFile::Reading::notAnOperation) {
            if (moveAside(item.claimedPath, item.waitingPath, "is no record operation")) ++notOperations;
        } else {
            if (moveAside(item.claimedPath, item.waitingPath, "is not a record")) ++setAsideCount;
        }
    }
    return claimed;
}

void RecordSpool::release(const Claimed& claimed) {
    ::rename(claimed.claimedPath.c_str(), claimed.waitingPath.c_str());
}

void RecordSpool::releaseAll() {
    DIR* folder = ::opendir(directory_.c_str());
    if (folder == nullptr) return;
    const std::string mine = ClaimMarker::own();
    std::vector<std::string> held;
    while (dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (endsWith(name, mine)) held.push_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : held) {
        const std::string waiting = name.substr(0, name.size() - mine.size());
        ::rename((directory_ + "/" + name).c_str(), (directory_ + "/" + waiting).c_str());
    }
}

void RecordSpool::remove(const Claimed& claimed) {
    if (::unlink(claimed.claimedPath.c_str()) == 0) SpoolObserver::report("delivered", 1);
}

bool RecordSpool::setAside(const Claimed& claimed) {
    if (!moveAside(claimed.claimedPath, claimed.waitingPath, "was refused by the back office")) return false;
    ++setAsideCount;
    return true;
}

bool RecordSpool::asideFolder(std::string& path) const {
    path = directory_ + "/" + kAsideFolder;
    ::mkdir(path.c_str(), 0700);
    struct stat facts {};
    // Never through a link: aside/ must be this spool's own folder.
    return ::lstat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
}

bool RecordSpool::storeAside(const BackOfficeRecord& record, std::string& problem) {
    std::string aside;
    if (!usable(true, problem)) return false;
    int error = ENOTDIR;
    if (asideFolder(aside) &&
        writeWhole(aside, RecordFile::write(record, identity), aside + "/" + freshName() + waitingSuffix, error)) {
        SpoolObserver::report("set-aside", 1);
        return true;
    }
    problem = formatBounded("spool directory %s: %s/ cannot be written: %s", directory_.c_str(), kAsideFolder,
                            std::strerror(error));
    return false;
}

bool RecordSpool::moveAside(const std::string& claimedPath, const std::string& waitingPath, const char* why) {
    std::string aside;
    const std::string name = waitingPath.substr(waitingPath.rfind('/') + 1);
    const bool folderFine = asideFolder(aside);
    if (folderFine && ::rename(claimedPath.c_str(), (aside + "/" + name).c_str()) == 0) {
        syncDirectory(aside);
        syncDirectory(directory_);
        SpoolObserver::report("set-aside", 1);
        return true;
    }
    const int error = folderFine ? errno : ENOTDIR;
    ::rename(claimedPath.c_str(), waitingPath.c_str());
    stuck.insert(name);
    pending.push_back(formatBounded("spool %s: record %s %s but cannot be set aside in %s/ (%s): it stays in the "
                                    "spool and is not sent again",
                                    directory_.c_str(), name.c_str(), why, kAsideFolder, std::strerror(error)));
    return false;
}

std::string RecordSpool::holdPath() const { return directory_ + "/" + kHoldPrefix + identity.tag(); }

void RecordSpool::holdOff(long seconds) {
    if (seconds <= 0) return;
    std::string problem;
    if (!usable(true, problem)) return;
    const long long until = static_cast<long long>(std::time(nullptr)) + seconds;
    int error = 0;
    writeWhole(directory_, formatBounded("%lld\n", until), holdPath(), error);
}

bool RecordSpool::heldOff() {
    std::string text;
    if (!readRegularFile(holdPath(), text)) return false;
    return std::strtoll(text.c_str(), nullptr, 10) > static_cast<long long>(std::time(nullptr));
}

std::vector<std::string> RecordSpool::takeNotices() {
    std::vector<std::string> notices;
    notices.swap(pending);
    const char* dir = directory_.c_str();
    if (dropped > 0) {
        notices.push_back(formatBounded("spool %s: dropped %zu records (spool full or records too old)", dir, dropped));
    }
    if (setAsideCount > 0) {
        notices.push_back(formatBounded("spool %s: set %zu records aside in %s/ (refused by the back office or not a "
                                        "record)", dir, setAsideCount, kAsideFolder));
    }
    if (olderForm > 0) {
        notices.push_back(formatBounded("spool %s: set %zu records of an older form aside in %s/ (they name no back "
                                        "office, so none is guessed)", dir, olderForm, kAsideFolder));
    }
    if (notOperations > 0) {
        notices.push_back(formatBounded("spool %s: set %zu files aside in %s/ that name a request no record makes "
                                        "(never sent)", dir, notOperations, kAsideFolder));
    }
    if (leftovers > 0) {
        notices.push_back(formatBounded("spool %s: removed %zu unfinished files writers left behind", dir, leftovers));
    }
    dropped = setAsideCount = olderForm = notOperations = leftovers = 0;
    return notices;
}

}  // namespace tarvik
