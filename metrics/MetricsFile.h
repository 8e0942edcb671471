#pragma once

#include <string>
#include <vector>

namespace tarvik {

// The metrics file of the calls Asterisk starts one process each: the
// CallMetrics families in the Prometheus text format, for the node
// exporter's textfile collector. Each call adds its reports under an flock
// on PATH.lock, reading the counts back from the file itself, and writes
// PATH.tmp then renames it over PATH: a reader always finds a whole file,
// and calls ending at once all count.
class MetricsFile {
public:
    // False when the file could not be updated; `failure` then says why in
    // one line naming the file.
    static bool add(const std::string& path, const std::vector<std::string>& reports, std::string& failure);
};

}  // namespace tarvik
