#include "records/RecordFile.h"

#include <json/json.h>

#include "api/BackOfficeTable.h"
#include "util/JsonText.h"

namespace tarvik {

namespace {

bool readText(const Json::Value& object, const char* key, std::string& target) {
    const Json::Value* value = object.find(key, key + std::char_traits<char>::length(key));
    if (value == nullptr || !value->isString()) return false;
    target = value->asString();
    return true;
}

}  // namespace

bool RecordFile::isRecordOperation(int method, const std::string& path) {
    const BackOfficeTable::Row* operation = BackOfficeTable::findFixed(method, path);
    return operation != nullptr && operation->kind == BackOfficeTable::Kind::record;
}

std::string RecordFile::write(const BackOfficeRecord& record, const BackOfficeIdentity& identity) {
    Json::Value object(Json::objectValue);
    object["backOffice"] = identity.address();
    object["pluginDriver"] = identity.pluginDriver();
    object["pluginId"] = identity.pluginId();
    object["kind"] = record.kind;
    object["method"] = record.method;
    object["path"] = record.path;
    Json::Value headerObject(Json::objectValue);
    for (const auto& [name, value] : record.headers) headerObject[name] = value;
    object["headers"] = headerObject;
    object["body"] = record.body;
    object["failure"] = record.failureText;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, object) + "\n";
}

RecordFile::Reading RecordFile::read(const std::string& text, BackOfficeRecord& record, BackOfficeIdentity& identity) {
    Json::Value object;
    if (!JsonText::parse(text, object, false) || !object.isObject()) return Reading::notRecord;
    BackOfficeRecord parsed;
    if (!readText(object, "kind", parsed.kind) || !readText(object, "path", parsed.path) ||
        !readText(object, "body", parsed.body) || !object["method"].isInt() || !object["headers"].isObject()) {
        return Reading::notRecord;
    }
    readText(object, "failure", parsed.failureText);
    parsed.method = object["method"].asInt();
    const Json::Value& headerObject = object["headers"];
    for (const auto& name : headerObject.getMemberNames()) {
        if (!headerObject[name].isString()) return Reading::notRecord;
        parsed.headers[name] = headerObject[name].asString();
    }
    std::string address;
    std::string driver;
    std::string id;
    if (!readText(object, "backOffice", address) || !readText(object, "pluginDriver", driver) ||
        !readText(object, "pluginId", id) || address.empty()) {
        return Reading::noBackOffice;
    }
    if (!isRecordOperation(parsed.method, parsed.path)) return Reading::notAnOperation;
    identity = BackOfficeIdentity(address, driver, id);
    record = std::move(parsed);
    return Reading::record;
}

}  // namespace tarvik
