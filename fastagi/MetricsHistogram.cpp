#include "fastagi/MetricsHistogram.h"

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
