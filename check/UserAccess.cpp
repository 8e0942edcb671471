#include "check/UserAccess.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

struct FreeDeleter {
    void operator()(char* text) const noexcept { std::free(text); }
};

// The path with every link and "." or ".." resolved; empty when it does
// not exist. Permissions are those of the real directories, not the links.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, FreeDeleter> real(::realpath(path.c_str(), nullptr));
    return real ? std::string(real.get()) : std::string();
}

std::string ownerName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string groupName(gid_t gid) {
    const group* entry = ::getgrgid(gid);
    return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

}  // namespace

bool UserAccess::forName(const std::string& name, UserAccess& user, std::string& problem) {
    errno = 0;
    const passwd* entry = ::getpwnam(name.c_str());
    if (entry == nullptr) {
        problem = "there is no user \"" + name + "\"";
        return false;
    }
    user.userName = entry->pw_name;
    user.uid = entry->pw_uid;
    // The primary group comes first; ask again when the first guess of the
    // group count is too small.
    int count = 16;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (::getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) == -1) {
        groups.resize(static_cast<std::size_t>(count) + 16);
        count = static_cast<int>(groups.size());
    }
    groups.resize(static_cast<std::size_t>(count));
    user.groups = std::move(groups);
    return true;
}

bool UserAccess::forOwnerOf(const std::string& path, UserAccess& user, std::string& problem) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        problem = formatBounded("%s", std::strerror(errno));
        return false;
    }
    const passwd* entry = ::getpwuid(status.st_uid);
    if (entry == nullptr) {
        problem = "its owner " + std::to_string(status.st_uid) + " is no user of this system";
        return false;
    }
    return forName(entry->pw_name, user, problem);
}

// The owner's bits for the owner, else the group's for a member, else the
// others': only the first class that applies counts. Root passes, but
// needs some execute bit to run a file, which does not matter here.
bool UserAccess::permits(const struct stat& status, int bits) const {
    if (uid == 0) return true;
    int shift = 0;
    if (status.st_uid == uid) {
        shift = 6;
    } else if (std::find(groups.begin(), groups.end(), status.st_gid) != groups.end()) {
        shift = 3;
    }
    const int granted = static_cast<int>((status.st_mode >> shift) & 07);
    return (granted & bits) == bits;
}

std::string UserAccess::describe(const std::string& path, const struct stat& status) {
    return formatBounded("%s (owner %s, group %s, mode %04o)", path.c_str(), ownerName(status.st_uid).c_str(),
                         groupName(status.st_gid).c_str(), static_cast<unsigned>(status.st_mode & 07777));
}

// Every directory above `resolved` must let the user through.
std::string UserAccess::reachProblem(const std::string& resolvedPath) const {
    std::size_t slash = 0;
    while ((slash = resolvedPath.find('/', slash + 1)) != std::string::npos) {
        const std::string directory = resolvedPath.substr(0, slash);
        struct stat status {};
        if (::stat(directory.c_str(), &status) != 0) return std::string();
        if (!permits(status, X_OK)) return "cannot pass through directory " + describe(directory, status);
    }
    struct stat root {};
    if (resolvedPath.size() > 1 && ::stat("/", &root) == 0 && !permits(root, X_OK)) {
        return "cannot pass through directory " + describe("/", root);
    }
    return std::string();
}

std::string UserAccess::readProblem(const std::string& path) const {
    const std::string real = resolved(path);
    struct stat status {};
    if (real.empty() || ::stat(real.c_str(), &status) != 0) return std::string();
    std::string problem = reachProblem(real);
    if (!problem.empty()) return problem;
    if (!permits(status, R_OK)) return "cannot read " + describe(real, status);
    return std::string();
}

std::string UserAccess::directoryProblem(const std::string& path, int bits) const {
    const std::string real = resolved(path);
    struct stat status {};
    if (real.empty() || ::stat(real.c_str(), &status) != 0) return std::string();
    std::string problem = reachProblem(real);
    if (!problem.empty()) return problem;
    if (!permits(status, bits)) {
        const char* what = (bits & W_OK) != 0   ? "cannot write in directory "
                           : (bits & R_OK) != 0 ? "cannot read directory "
                                                : "cannot pass through directory ";
        return what + describe(real, status);
    }
    return std::string();
}

}  // namespace tarvik
