#include "api/BackOfficeRecord.h"

#include <json/json.h>

#include "util/JsonText.h"

namespace tarvik {

namespace {

bool readText(const Json::Value& object, const char* key, std::string& target) {
    const Json::Value& value = object[key];
    if (!value.isString()) return false;
    target = value.asString();
    return true;
}

}  // namespace

std::string BackOfficeRecord::toJson() const {
    Json::Value object(Json::objectValue);
    object["kind"] = kind;
    object["method"] = method;
    object["path"] = path;
    Json::Value headerObject(Json::objectValue);
    for (const auto& [name, value] : headers) headerObject[name] = value;
    object["headers"] = headerObject;
    object["body"] = body;
    object["failure"] = failureText;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, object) + "\n";
}

bool BackOfficeRecord::fromJson(const std::string& text, BackOfficeRecord& record) {
    Json::Value object;
    if (!JsonText::parse(text, object, false) || !object.isObject()) return false;
    BackOfficeRecord parsed;
    if (!readText(object, "kind", parsed.kind) || !readText(object, "path", parsed.path) ||
        !readText(object, "body", parsed.body) || !object["method"].isInt() || !object["headers"].isObject()) {
        return false;
    }
    readText(object, "failure", parsed.failureText);
    parsed.method = object["method"].asInt();
    // Only paths of this back office's API: a record never names a host.
    if (parsed.path.empty() || parsed.path[0] != '/' || parsed.method < 0 || parsed.method > 3) return false;
    const Json::Value& headerObject = object["headers"];
    for (const auto& name : headerObject.getMemberNames()) {
        if (!headerObject[name].isString()) return false;
        parsed.headers[name] = headerObject[name].asString();
    }
    record = std::move(parsed);
    return true;
}

}  // namespace tarvik
