#include "util/JsonText.h"

#include <exception>

namespace tarvik {

bool JsonText::parse(std::istream& input, Json::Value& root, bool collectComments) {
    try {
        Json::Reader reader;
        return reader.parse(input, root, collectComments);
    } catch (const std::exception&) {
        return false;
    }
}

bool JsonText::parse(const std::string& text, Json::Value& root, bool collectComments) {
    try {
        Json::Reader reader;
        return reader.parse(text.data(), text.data() + text.size(), root, collectComments);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace tarvik
