#pragma once

#include <httplib.h>
#include <json/json.h>

#include <string>

namespace tarvik {

// The example fixture of the repository.
inline std::string exampleCustomersPath() {
    return std::string(IVR_SOURCE_DIR) + "/examples/backoffice/customers.json";
}

// A client with bounded waits, so that a stuck simulator fails the test.
inline void boundClient(httplib::Client& client) {
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(20, 0);
    client.set_write_timeout(5, 0);
}

inline Json::Value parseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::Value value;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors)) {
        return Json::Value("<not json: " + text + ">");
    }
    return value;
}

}  // namespace tarvik
