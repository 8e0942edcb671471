#include "util/JsonMembers.h"

#include <cmath>
#include <cstring>

namespace tarvik {

namespace {
constexpr double kMaxSeconds = 86400.0;
}  // namespace

const Json::Value* JsonMembers::find(const Json::Value& object, const char* key) {
    if (!object.isObject()) return nullptr;
    return object.find(key, key + std::strlen(key));
}

void JsonMembers::readString(const Json::Value& object, const char* key, std::string& target) {
    const Json::Value* value = find(object, key);
    if (value != nullptr && value->isString()) target = value->asString();
}

void JsonMembers::readBool(const Json::Value& object, const char* key, bool& target) {
    const Json::Value* value = find(object, key);
    if (value != nullptr && value->isBool()) target = value->asBool();
}

void JsonMembers::readSeconds(const Json::Value& object, const char* key, long& target) {
    const Json::Value* value = find(object, key);
    if (value == nullptr || !value->isNumeric()) return;
    const double seconds = value->asDouble();
    if (!(seconds > 0.0) || seconds > kMaxSeconds) return;
    target = static_cast<long>(std::ceil(seconds));
}

void JsonMembers::readCount(const Json::Value& object, const char* key, long long& target, long long most) {
    const Json::Value* value = find(object, key);
    if (value == nullptr || !value->isNumeric()) return;
    const double number = value->asDouble();
    if (!(number >= 1.0) || number > static_cast<double>(most) || number != std::floor(number)) return;
    target = static_cast<long long>(number);
}

}  // namespace tarvik
