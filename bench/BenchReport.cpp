#include "bench/BenchReport.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace tarvik {

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

namespace {

// The value of the first line of file that begins with key ("model name").
std::string firstValue(const char* file, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            std::size_t colon = line.find(':');
            if (colon == std::string::npos) {
                return std::string();
            }
            std::size_t start = line.find_first_not_of(" \t", colon + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    }
    return std::string();
}

}  // namespace

std::string describeMachine() {
    std::ostringstream text;
    text << sysconf(_SC_NPROCESSORS_ONLN) << " CPU(s), " << firstValue("/proc/cpuinfo", "model name");
    std::string memory = firstValue("/proc/meminfo", "MemTotal");
    long kib = std::atol(memory.c_str());
    text << ", " << fixed(kib / 1024.0 / 1024.0, 1) << " GiB memory";
    return text.str();
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string first;
    in >> first;
    return first.empty() ? "unknown" : first;
}

std::string TextTable::render() const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::ostringstream text;
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        const auto& row = rows_[index];
        std::string line;
        for (std::size_t column = 0; column < row.size(); ++column) {
            std::string cell = row[column];
            if (column + 1 < row.size()) {
                cell.resize(widths[column] + 2, ' ');
            }
            line += cell;
        }
        text << line << "\n";
        if (index == 0) {
            std::size_t total = 0;
            for (std::size_t width : widths) {
                total += width + 2;
            }
            text << std::string(total - 2, '-') << "\n";
        }
    }
    return text.str();
}

std::string fixed(double value, int decimals) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

}  // namespace tarvik
