#include "configuration/ConfigurationKeyTable.h"

#include <cstring>

namespace tarvik {

namespace {

// The path of the object a key is a member of ("" for the root).
std::string parentOf(const ConfigurationKey& key) {
    const char* name = key.name();
    return name == key.path ? std::string() : std::string(key.path, name - 1);
}

}  // namespace

const ConfigurationKey* ConfigurationKeyTable::find(const std::string& path) {
    for (const ConfigurationKey* key = begin(); key != end(); ++key) {
        if (path == key->path) return key;
    }
    return nullptr;
}

const ConfigurationKey* ConfigurationKeyTable::member(const std::string& parentPath, const std::string& name) {
    const std::string prefix = parentPath.empty() ? std::string() : parentPath + ".";
    // A name with a dot is one member, never a path into the table.
    if (name != "*" && name.find('.') == std::string::npos) {
        if (const ConfigurationKey* named = find(prefix + name)) return named;
    }
    return parentPath.empty() ? nullptr : find(prefix + "*");
}

std::vector<std::string> ConfigurationKeyTable::memberNames(const std::string& parentPath) {
    std::vector<std::string> names;
    for (const ConfigurationKey* key = begin(); key != end(); ++key) {
        if (parentOf(*key) == parentPath && std::strcmp(key->name(), "*") != 0) names.emplace_back(key->name());
    }
    return names;
}

const char* ConfigurationKeyTable::typeName(JsonType type) {
    switch (type) {
        case JsonType::String: return "string";
        case JsonType::Number: return "number";
        case JsonType::Boolean: return "boolean";
        case JsonType::Object: return "object";
        case JsonType::Array: return "array";
        case JsonType::Scalar: return "string or number";
    }
    return "?";
}

}  // namespace tarvik
