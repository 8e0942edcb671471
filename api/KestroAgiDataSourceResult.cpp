#include "api/KestroAgiDataSourceResult.h"

#include "util/JsonText.h"

#include <algorithm>
#include <strings.h>

namespace tarvik {

namespace {

// A path is cut at every '.': "a..b" has three steps, the middle one empty.
std::vector<std::string> splitPath(const char* path) {
    std::vector<std::string> steps;
    std::string step;
    for (const char* cursor = path; *cursor != '\0'; ++cursor) {
        if (*cursor == '.') {
            steps.push_back(step);
            step.clear();
        } else {
            step.push_back(*cursor);
        }
    }
    steps.push_back(step);
    return steps;
}

// One member step; anything but an object has no members.
Json::Value memberOf(const Json::Value& value, const std::string& name) {
    if (!value.isObject()) {
        return Json::Value(Json::nullValue);
    }
    const Json::Value* member = value.find(name.data(), name.data() + name.size());
    return member == nullptr ? Json::Value(Json::nullValue) : *member;
}

bool isContainer(const Json::Value& value) { return value.isObject() || value.isArray(); }

}  // namespace

KestroAgiDataSourceResult::~KestroAgiDataSourceResult() {
    list.clear();
    text.reset();
}

void KestroAgiDataSourceResult::setText(const char* value) { text.reset(duplicateText(value)); }

void KestroAgiDataSourceResult::setRetryAfter(long seconds) {
    retryAfter = std::clamp(seconds, 0L, kMaxRetryAfterSeconds);
}

void KestroAgiDataSourceResult::setLocation(const std::string& value) {
    location.clear();
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) location.push_back(c);
    }
}

bool KestroAgiDataSourceResult::setResultField(const char* name) {
    if (name == nullptr || std::find(fields.begin(), fields.end(), name) != fields.end()) {
        return false;
    }
    fields.emplace_back(name);
    return true;
}

bool KestroAgiDataSourceResult::setResultFieldValue(const char* name, const char* value) {
    if (name == nullptr || value == nullptr) {
        return false;
    }
    list[name] = value;
    return true;
}

const char* KestroAgiDataSourceResult::getVectorResultField(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    auto entry = list.find(name);
    return entry == list.end() ? nullptr : entry->second.c_str();
}

const char* KestroAgiDataSourceResult::getResultField(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    if (type == TYPE_FIELDS) {
        return getVectorResultField(name);
    }
    if (type == TYPE_JSON) {
        return getJsonResultField(name);
    }
    return nullptr;
}

bool KestroAgiDataSourceResult::changeTypeToJson() {
    if (!text) {
        return false;
    }
    Json::Value parsed;
    if (!JsonText::parse(std::string(text.get()), parsed, false)) {
        return false;
    }
    json = parsed;
    type = TYPE_JSON;
    return true;
}

const char* KestroAgiDataSourceResult::getJsonResultField(const char* path) {
    if (path == nullptr || json.isNull()) {
        return nullptr;
    }
    Json::Value current = json;
    for (const std::string& step : splitPath(path)) {
        if (strcasecmp(step.c_str(), "#") == 0) {
            if (!current.isArray() || currentIndex < 0 ||
                static_cast<Json::ArrayIndex>(currentIndex) >= current.size()) {
                return nullptr;
            }
            Json::Value element = current[static_cast<Json::ArrayIndex>(currentIndex)];
            current = element;
        } else {
            Json::Value member = memberOf(current, step);
            current = member;
        }
        if (current.isNull()) {
            return nullptr;
        }
    }
    // Only scalars have a text form here.
    if (isContainer(current)) {
        return nullptr;
    }
    const std::string value = current.asString();
    setResultFieldValue(path, value.c_str());
    return getVectorResultField(path);
}

int KestroAgiDataSourceResult::count(const char* path) const {
    if (type != TYPE_JSON || json.isNull()) {
        return -1;
    }
    Json::Value current = json;
    if (path != nullptr && *path != '\0') {
        for (const std::string& step : splitPath(path)) {
            Json::Value member = memberOf(current, step);
            current = member;
            if (!isContainer(current)) {
                return -1;
            }
        }
    }
    return current.isArray() ? static_cast<int>(current.size()) : -1;
}

const char* KestroAgiDataSourceResult::extract(const char* path, ExportType exportType) {
    if (path == nullptr || type != TYPE_JSON || json.isNull()) {
        return nullptr;
    }
    Json::Value current = json;
    for (const std::string& step : splitPath(path)) {
        Json::Value member = memberOf(current, step);
        current = member;
        if (!isContainer(current) && !current.isString()) {
            return nullptr;
        }
    }
    bool accepted = true;
    switch (exportType) {
        case EXPORT_STRING: accepted = current.isString(); break;
        case EXPORT_OBJECT: accepted = current.isObject(); break;
        case EXPORT_ARRAY: accepted = current.isArray(); break;
        case EXPORT_ANY: accepted = current.isString() || isContainer(current); break;
        default: break;
    }
    if (!accepted) {
        return nullptr;
    }
    const std::string value = current.isString() ? current.asString() : Json::FastWriter().write(current);
    setResultFieldValue(path, value.c_str());
    return getVectorResultField(path);
}

}  // namespace tarvik
