#pragma once

#include <map>
#include <string>
#include <vector>

#include <json/json.h>

#include "util/CText.h"

namespace tarvik {

// What an executed request returns: the status code and body of the
// exchange, plus a field table and a JSON view for reading values out of the
// body by dotted path ("items.#.name").
class KestroAgiDataSourceResult {
public:
    // What extract() accepts as the value at the end of its path.
    enum ExportType : int {
        EXPORT_STRING = 0,
        EXPORT_OBJECT = 1,
        EXPORT_ARRAY = 2,
        EXPORT_ANY = 3,
    };

    // type values
    static constexpr int TYPE_JSON = 0;
    static constexpr int TYPE_FIELDS = 1;

    KestroAgiDataSourceResult() = default;
    KestroAgiDataSourceResult(const KestroAgiDataSourceResult&) = delete;
    KestroAgiDataSourceResult& operator=(const KestroAgiDataSourceResult&) = delete;
    ~KestroAgiDataSourceResult();

    int getCode() const { return code; }
    void setCode(int value) { code = value; }
    // The longest pause a "Retry-After" may impose: one asking for years
    // would otherwise hold a back office's records as long.
    static constexpr long kMaxRetryAfterSeconds = 3600;
    // Seconds the answer's "Retry-After" asks the client to wait, at most
    // kMaxRetryAfterSeconds; 0 without one.
    long getRetryAfter() const { return retryAfter; }
    // A negative value is no pause, a larger one is cut to the cap.
    void setRetryAfter(long seconds);

    // A 3xx answer: a redirect, which only a GET follows.
    bool isRedirect() const { return code >= 300 && code <= 399; }
    // Where a redirect not followed points (its Location, made absolute
    // when libcurl could); empty otherwise.
    const std::string& getLocation() const { return location; }
    // Control characters are dropped: the text ends up in log lines.
    void setLocation(const std::string& value);

    // The response body, or null when the exchange carried none.
    const char* getText() const { return text.get(); }
    void setText(const char* value);

    int getType() const { return type; }

    int getCurrentIndex() const { return currentIndex; }
    void setCurrentIndex(int value) { currentIndex = value; }

    const std::vector<std::string>& getFields() const { return fields; }
    const std::map<std::string, std::string>& getList() const { return list; }

    bool setResultField(const char* name);
    bool setResultFieldValue(const char* name, const char* value);
    const char* getVectorResultField(const char* name) const;
    const char* getResultField(const char* name);

    // Parse the body as JSON and switch to the JSON view.
    bool changeTypeToJson();
    const char* getJsonResultField(const char* path);
    int count(const char* path) const;
    const char* extract(const char* path, ExportType exportType);

private:
    std::vector<std::string> fields;
    std::map<std::string, std::string> list;
    Json::Value json;
    int code = 0;
    long retryAfter = 0;
    std::string location;
    int type = TYPE_FIELDS;
    CText text;
    int currentIndex = 0;
};

}  // namespace tarvik
