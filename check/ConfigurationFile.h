#pragma once

#include <cstddef>
#include <string>

#include <json/json.h>

namespace tarvik {

// Reads a configuration file for the check: refuses what is not a regular
// readable file of sensible size, and parses it as a call does (comments
// allowed) while keeping where the first syntax error is.
class ConfigurationFile {
public:
    // A configuration is a few kilobytes; beyond this it is not one.
    static constexpr std::size_t kMaxBytes = 4 * 1024 * 1024;

    // True when `root` holds the parsed file; otherwise `problem` says why,
    // with "LINE:COLUMN: " in front for a syntax error.
    static bool load(const std::string& path, Json::Value& root, std::string& problem);

    // Parses `text`; on failure `problem` is as above.
    static bool parse(const std::string& text, Json::Value& root, std::string& problem);
};

}  // namespace tarvik
