#pragma once

#include <memory>
#include <string>

#include <json/json.h>

namespace tarvik {

// A JSON file read once and kept while it stays the same file: a process
// that serves many calls parses its configuration and profile when they
// change, not for every call. The file is known by its device, inode, size
// and change times; any write, rename over it or chmod reads it again.
class JsonFile {
public:
    enum class Outcome { unreadable, notJson, parsed };

    // The parsed document, shared and never changed (null unless parsed).
    static std::shared_ptr<const Json::Value> load(const std::string& path, Outcome& outcome);
};

}  // namespace tarvik
