#include "check/ConfigurationKeys.h"

#include <algorithm>
#include <cctype>

namespace tarvik {

namespace {

bool fits(JsonType type, const Json::Value& value) {
    switch (type) {
        case JsonType::String: return value.isString();
        case JsonType::Number: return value.isNumeric();
        case JsonType::Boolean: return value.isBool();
        case JsonType::Object: return value.isObject();
        case JsonType::Array: return value.isArray();
        case JsonType::Scalar: return !value.isObject() && !value.isArray();
    }
    return false;
}

const char* kindName(JsonType type) {
    switch (type) {
        case JsonType::String: return "a string";
        case JsonType::Number: return "a number";
        case JsonType::Boolean: return "a boolean (true or false)";
        case JsonType::Object: return "an object";
        case JsonType::Array: return "an array";
        case JsonType::Scalar: return "a string or number";
    }
    return "?";
}

const char* typeName(const Json::Value& value) {
    switch (value.type()) {
        case Json::nullValue: return "null";
        case Json::intValue:
        case Json::uintValue:
        case Json::realValue: return "a number";
        case Json::stringValue: return "a string";
        case Json::booleanValue: return "a boolean";
        case Json::arrayValue: return "an array";
        case Json::objectValue: return "an object";
    }
    return "?";
}

// `shown` is where the value sits in this file ("profile.route[0]"),
// `keyPath` the same place in the table's form ("profile.route[]").
void walkObject(const std::string& keyPath, const Json::Value& object, const std::string& shown,
                std::vector<std::string>& problems);

void wrongType(JsonType expected, const Json::Value& value, const std::string& shown,
               std::vector<std::string>& problems) {
    problems.push_back("key \"" + shown + "\" should be " + kindName(expected) + ", not " + typeName(value) +
                       ": a call ignores it");
}

void walkValue(const ConfigurationKey& key, const Json::Value& value, const std::string& shown,
               std::vector<std::string>& problems) {
    if (!fits(key.type, value)) {
        wrongType(key.type, value, shown, problems);
    } else if (key.type == JsonType::Object) {
        walkObject(key.path, value, shown, problems);
    } else if (key.type == JsonType::Array) {
        const std::string elementPath = std::string(key.path) + "[]";
        // An array of plain values lists its element ("allowPeers[]");
        // without one the elements are objects of the keys below.
        const ConfigurationKey* element = ConfigurationKeyTable::find(elementPath);
        for (Json::ArrayIndex index = 0; index < value.size(); ++index) {
            const std::string elementShown = shown + "[" + std::to_string(index) + "]";
            if (element != nullptr) {
                walkValue(*element, value[index], elementShown, problems);
            } else if (!value[index].isObject()) {
                wrongType(JsonType::Object, value[index], elementShown, problems);
            } else {
                walkObject(elementPath, value[index], elementShown, problems);
            }
        }
    }
}

void walkObject(const std::string& keyPath, const Json::Value& object, const std::string& shown,
                std::vector<std::string>& problems) {
    for (auto member = object.begin(); member != object.end(); ++member) {
        const std::string name = member.name();
        const std::string path = shown.empty() ? name : shown + "." + name;
        const ConfigurationKey* known = ConfigurationKeyTable::member(keyPath, name);
        if (known == nullptr) {
            std::string hint = ConfigurationKeys::nearest(name, ConfigurationKeyTable::memberNames(keyPath));
            problems.push_back("key \"" + path + "\" is not read by anyone" +
                               (hint.empty() ? std::string() : " (a typo? the nearest known key is \"" +
                                                                   (shown.empty() ? hint : shown + "." + hint) +
                                                                   "\")"));
            continue;
        }
        walkValue(*known, *member, path, problems);
    }
}

std::size_t editDistance(const std::string& left, const std::string& right) {
    std::vector<std::size_t> previous(right.size() + 1);
    std::vector<std::size_t> current(right.size() + 1);
    for (std::size_t column = 0; column <= right.size(); ++column) previous[column] = column;
    for (std::size_t row = 1; row <= left.size(); ++row) {
        current[0] = row;
        for (std::size_t column = 1; column <= right.size(); ++column) {
            char a = static_cast<char>(std::tolower(static_cast<unsigned char>(left[row - 1])));
            char b = static_cast<char>(std::tolower(static_cast<unsigned char>(right[column - 1])));
            std::size_t change = previous[column - 1] + (a == b ? 0 : 1);
            current[column] = std::min({previous[column] + 1, current[column - 1] + 1, change});
        }
        previous.swap(current);
    }
    return previous[right.size()];
}

}  // namespace

std::vector<std::string> ConfigurationKeys::check(const Json::Value& root) {
    std::vector<std::string> problems;
    if (root.isObject()) walkObject("", root, "", problems);
    return problems;
}

std::string ConfigurationKeys::nearest(const std::string& key, const std::vector<std::string>& known) {
    std::string best;
    std::size_t bestDistance = 0;
    for (const std::string& candidate : known) {
        // A very long key is nobody's typo; keep the work bounded.
        std::size_t distance = key.size() > 256 ? key.size() : editDistance(key, candidate);
        if (best.empty() || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace tarvik
