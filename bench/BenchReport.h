#pragma once

#include <string>
#include <vector>

namespace tarvik {

// Median of repeated measurements (the mean of the two middle values for an
// even count; 0 for none).
double median(std::vector<double> values);

// The machine a report was measured on: processors, CPU model, memory.
std::string describeMachine();

// The one-minute load average (/proc/loadavg), as text.
std::string loadAverage();

// A plain text table: a header row, then rows, columns padded to the widest cell.
class TextTable {
public:
    explicit TextTable(std::vector<std::string> header) : rows_{std::move(header)} {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    std::string render() const;

private:
    std::vector<std::vector<std::string>> rows_;
};

// Fixed-point text of a number with the given decimals.
std::string fixed(double value, int decimals);

}  // namespace tarvik
