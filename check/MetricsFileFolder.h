#pragma once

#include <string>

namespace tarvik {

// Whether the folder of "metricsFile" takes the file: each call writes a
// new file beside it and a lock file, so the folder itself must be
// writable. A call that cannot only says so on standard error and goes on,
// so the check only warns.
class MetricsFileFolder {
public:
    // Empty when usable (or no file is named); otherwise one line saying why not.
    static std::string warning(const std::string& metricsFile);
};

}  // namespace tarvik
