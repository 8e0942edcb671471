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

    // The bucket a rendered `le` value stands for ("0.25", "+Inf"); -1 when
    // it is none of this histogram's.
    int bucketOf(const std::string& le) const;
    // Takes back what render wrote: cumulative counts per bucket (one more
    // than the bounds, +Inf last) and the sum.
    void restore(const std::vector<std::uint64_t>& cumulative, double restoredSum);
    std::size_t bucketCount() const { return counts.size(); }

private:
    std::vector<double> bounds;
    std::vector<std::string> boundTexts;  // as `le` writes them, "+Inf" last
    std::vector<std::uint64_t> counts;  // per bucket, not cumulative; one more for +Inf
    double sum = 0;
};

}  // namespace tarvik
