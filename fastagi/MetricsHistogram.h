#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {

// A Prometheus histogram of durations in seconds: cumulative buckets, sum
// and count, written in the text exposition format.
class MetricsHistogram {
public:
    explicit MetricsHistogram(std::vector<double> upperBounds);

    void observe(double seconds);
    // The _bucket, _sum and _count lines of `name`; labels without braces
    // ("operation=\"ready\"") or empty.
    std::string render(const std::string& name, const std::string& labels) const;

private:
    std::vector<double> bounds;
    std::vector<std::uint64_t> counts;  // per bucket, not cumulative; one more for +Inf
    double sum = 0;
};

}  // namespace tarvik
