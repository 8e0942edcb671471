#include "check/MetricsFileFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvik {

std::string MetricsFileFolder::warning(const std::string& metricsFile) {
    if (metricsFile.empty()) return std::string();
    const std::string::size_type slash = metricsFile.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : metricsFile.substr(0, slash);
    const std::string cannot = "metrics file \"" + metricsFile + "\" cannot be written (calls go on without it): ";
    if (slash + 1 == metricsFile.size()) return cannot + "the name is a folder";
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return cannot + "folder " + folder + ": " + std::strerror(errno);
    if (!S_ISDIR(status.st_mode)) return cannot + folder + " is not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return cannot + "folder " + folder + ": " + std::strerror(errno);
    return std::string();
}

}  // namespace tarvik
