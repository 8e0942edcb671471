#pragma once

#include <istream>
#include <string>

#include <json/json.h>

namespace tarvik {

// JSON parsing that never throws: jsoncpp's reader gives up on very deep
// nesting by throwing, which would end a call over one bad file or answer.
// Such input is simply not JSON here.
class JsonText {
public:
    static bool parse(std::istream& input, Json::Value& root, bool collectComments);
    static bool parse(const std::string& text, Json::Value& root, bool collectComments);
};

}  // namespace tarvik
