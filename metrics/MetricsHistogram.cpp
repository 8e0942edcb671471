#include "metrics/MetricsHistogram.h"

#include <charconv>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// Counts and sums are written on every call's update of the metrics file:
// plain appends, not a formatted line each.
void appendNumber(std::string& text, std::uint64_t value) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof(digits), value);
    text.append(digits, written.ptr);
}

void appendSeconds(std::string& text, double value) {
    char digits[64];
    const auto written = std::to_chars(digits, digits + sizeof(digits), value, std::chars_format::fixed, 6);
    if (written.ec == std::errc()) text.append(digits, written.ptr);
    else text += "0";
}

}  // namespace

MetricsHistogram::MetricsHistogram(std::vector<double> upperBounds)
    : bounds(std::move(upperBounds)), counts(bounds.size() + 1, 0) {
    for (double bound : bounds) boundTexts.push_back(formatBounded("%g", bound));
    boundTexts.emplace_back("+Inf");
}

void MetricsHistogram::observe(double seconds) {
    if (!(seconds >= 0)) seconds = 0;  // NaN or a clock step back
    std::size_t index = 0;
    while (index < bounds.size() && seconds > bounds[index]) ++index;
    ++counts[index];
    sum += seconds;
}

int MetricsHistogram::bucketOf(const std::string& le) const {
    for (std::size_t index = 0; index < boundTexts.size(); ++index) {
        if (boundTexts[index] == le) return static_cast<int>(index);
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
    const std::string braces = labels.empty() ? "" : "{" + labels + "}";
    std::string text;
    std::uint64_t cumulative = 0;
    for (std::size_t index = 0; index < counts.size(); ++index) {
        cumulative += counts[index];
        text += name;
        text += "_bucket{";
        text += labels;
        text += separator;
        text += "le=\"";
        text += boundTexts[index];
        text += "\"} ";
        appendNumber(text, cumulative);
        text += '\n';
    }
    text += name + "_sum" + braces + " ";
    appendSeconds(text, sum);
    text += "\n" + name + "_count" + braces + " ";
    appendNumber(text, cumulative);
    text += '\n';
    return text;
}

}  // namespace tarvik
