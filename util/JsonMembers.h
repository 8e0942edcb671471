#pragma once

#include <string>

#include <json/json.h>

namespace tarvik {

// Reading keys of a configuration object safely: any root value may come
// from a file, so a key is read only when the object is one and the value
// has the expected type; otherwise the target keeps what it had.
class JsonMembers {
public:
    // The member `key`, or null when `object` is not an object or lacks it.
    static const Json::Value* find(const Json::Value& object, const char* key);
    static void readString(const Json::Value& object, const char* key, std::string& target);
    static void readBool(const Json::Value& object, const char* key, bool& target);
    // Whole seconds, rounded up, from above zero up to a day: anything else
    // (zero, negative, absurd) would leave a call waiting without bound.
    static void readSeconds(const Json::Value& object, const char* key, long& target);
    // A whole number from 1 up to `most`; anything else keeps the target.
    static void readCount(const Json::Value& object, const char* key, long long& target, long long most);
};

}  // namespace tarvik
