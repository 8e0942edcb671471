#include "check/ConfigurationFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <sstream>

#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

// 1-based line and column of a byte offset.
std::string position(const std::string& text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t index = 0; index < offset && index < text.size(); ++index) {
        if (text[index] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

}  // namespace

bool ConfigurationFile::load(const std::string& path, Json::Value& root, std::string& problem) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        problem = formatBounded("cannot be read: %s", std::strerror(errno));
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        problem = "is a directory, not a configuration file";
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = "is not a regular file";
        return false;
    }
    if (static_cast<std::size_t>(status.st_size) > kMaxBytes) {
        problem = formatBounded("is %lld bytes, too big for a configuration file (at most %zu)",
                                static_cast<long long>(status.st_size), kMaxBytes);
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    if (!file.is_open() || !(content << file.rdbuf())) {
        // An empty file also lands here: rdbuf copies nothing.
        if (file.is_open() && status.st_size == 0) return parse(std::string(), root, problem);
        problem = formatBounded("cannot be read: %s", std::strerror(errno != 0 ? errno : EIO));
        return false;
    }
    return parse(content.str(), root, problem);
}

bool ConfigurationFile::parse(const std::string& text, Json::Value& root, std::string& problem) {
    try {
        Json::Reader reader;
        if (reader.parse(text.data(), text.data() + text.size(), root, false)) return true;
        std::vector<Json::Reader::StructuredError> errors = reader.getStructuredErrors();
        if (errors.empty()) {
            problem = "not JSON";
        } else {
            const Json::Reader::StructuredError& first = errors.front();
            std::size_t offset = first.offset_start > 0 ? static_cast<std::size_t>(first.offset_start) : 0;
            problem = position(text, offset) + ": not JSON: " + first.message;
        }
    } catch (const std::exception&) {
        // jsoncpp gives up on very deep nesting by throwing.
        problem = "not JSON: nested too deeply to read";
    }
    return false;
}

}  // namespace tarvik
