#include "check/SpoolDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvik {

namespace {

std::string quoted(const std::string& directory) { return "spool directory \"" + directory + "\""; }

// A missing spool is made by the first record when its parent lets us.
bool canBeMade(const std::string& directory) {
    std::string parent = directory.substr(0, directory.find_last_not_of('/') + 1);
    std::size_t slash = parent.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    struct stat status {};
    return ::stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           ::access(parent.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string SpoolDirectory::problem(const std::string& directory) {
    const std::string cannot = quoted(directory) + " cannot be written: ";
    struct stat status {};
    if (directory.empty()) return cannot + "the name is empty";
    if (::stat(directory.c_str(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT && canBeMade(directory)) return std::string();
        return cannot + std::strerror(error);
    }
    if (!S_ISDIR(status.st_mode)) return cannot + "not a directory";
    if (::access(directory.c_str(), W_OK | X_OK) != 0) return cannot + std::strerror(errno);
    return std::string();
}

std::string SpoolDirectory::warning(const std::string& directory) {
    struct stat status {};
    if (directory.empty() || ::stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return std::string();
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) == 0) return std::string();
    return quoted(directory) +
           " can be written by group or others: records planted there would be sent with the access token "
           "(chmod 700)";
}

}  // namespace tarvik
