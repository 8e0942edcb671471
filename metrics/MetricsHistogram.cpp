#include "metrics/MetricsHistogram.h"

#include "util/BoundedFormat.h"

namespace tarvik {

MetricsHistogram::MetricsHistogram(std::vector<double> upperBounds)
    : bounds(std::move(upperBounds)), counts(bounds.size() + 1, 0) {}

void MetricsHistogram::observe(double seconds) {
    if (!(seconds >= 0)) seconds = 0;  // NaN or a clock step back
    std::size_t index = 0;
    while (index < bounds.size() && seconds > bounds[index]) ++index;
    ++counts[index];
    sum += seconds;
}

int MetricsHistogram::bucketOf(const std::string& le) const {
    if (le == "+Inf") return static_cast<int>(bounds.size());
    for (std::size_t index = 0; index < bounds.size(); ++index) {
        if (formatBounded("%g", bounds[index]) == le) return static_cast<int>(index);
    }
    return -1;
}

void MetricsHistogram::restore(const std::vector<std::uint64_t>& cumulative, double restoredSum) {
    std::uint64_t below = 0;
    for (std::size_t index = 0; index < counts.size(); ++index) {
        const std::uint64_t upTo = index < cumulative.size() ? cumulative[index] : below;
        // A file edited by hand may not be cumulative: never a negative bucket.
        counts[index] = upTo > below ? upTo - below : 0;
        below = upTo > below ? upTo : below;
    }
    sum = restoredSum >= 0 ? restoredSum : 0;
}

std::string MetricsHistogram::render(const std::string& name, const std::string& labels) const {
    const std::string separator = labels.empty() ? "" : ",";
    std::string text;
    std::uint64_t cumulative = 0;
    for (std::size_t index = 0; index <= bounds.size(); ++index) {
        cumulative += counts[index];
        const std::string bound = index < bounds.size() ? formatBounded("%g", bounds[index]) : "+Inf";
        text += formatBounded("%s_bucket{%s%sle=\"%s\"} %llu\n", name.c_str(), labels.c_str(), separator.c_str(),
                              bound.c_str(), static_cast<unsigned long long>(cumulative));
    }
    const std::string braces = labels.empty() ? "" : "{" + labels + "}";
    text += formatBounded("%s_sum%s %.6f\n", name.c_str(), braces.c_str(), sum);
    text += formatBounded("%s_count%s %llu\n", name.c_str(), braces.c_str(), static_cast<unsigned long long>(cumulative));
    return text;
}

}  // namespace tarvik
