#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tarvik {

// What one user may do with a file, worked out from the file's owner, group
// and mode against the user's uid and groups (getpwnam, getgrouplist), the
// way the kernel decides for that user: the check runs as root, for whom
// access() would always answer yes. ACLs are not consulted.
class UserAccess {
public:
    // The user named `name`; false, with `problem` saying why, when there is
    // no such user.
    static bool forName(const std::string& name, UserAccess& user, std::string& problem);
    // The user owning `path`; false, with `problem`, when it cannot be told.
    static bool forOwnerOf(const std::string& path, UserAccess& user, std::string& problem);

    const std::string& name() const { return userName; }

    // Empty when the user can open the file at `path` for reading (every
    // directory on the way searchable, the file itself readable); otherwise
    // which directory or file stops it, with its owner, group and mode. A
    // path that does not resolve gives empty too: other checks report it.
    std::string readProblem(const std::string& path) const;
    // As above for entering a directory and listing or writing in it: `bits`
    // is what the directory itself must grant (R_OK, W_OK, X_OK).
    std::string directoryProblem(const std::string& path, int bits) const;

private:
    bool permits(const struct stat& status, int bits) const;
    std::string reachProblem(const std::string& resolved) const;
    static std::string describe(const std::string& path, const struct stat& status);

    std::string userName;
    uid_t uid = 0;
    std::vector<gid_t> groups;
};

}  // namespace tarvik
