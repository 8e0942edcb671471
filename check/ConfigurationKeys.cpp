#include "check/ConfigurationKeys.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

namespace tarvik {

namespace {

enum class Kind { String, Number, Boolean, Object, Array, Scalar };

// One level of the key tree: an object's known members (or any member, for
// a map such as "destinations"), an array's element.
struct KeyNode {
    Kind kind = Kind::Object;
    std::vector<std::pair<std::string, std::shared_ptr<KeyNode>>> members;
    std::shared_ptr<KeyNode> anyMember;
    std::shared_ptr<KeyNode> element;

    const KeyNode* member(const std::string& name) const {
        for (const auto& known : members) {
            if (known.first == name) return known.second.get();
        }
        return anyMember.get();
    }
};

std::shared_ptr<KeyNode> node(Kind kind) {
    auto made = std::make_shared<KeyNode>();
    made->kind = kind;
    return made;
}

std::shared_ptr<KeyNode> object(std::vector<std::pair<std::string, std::shared_ptr<KeyNode>>> members) {
    auto made = node(Kind::Object);
    made->members = std::move(members);
    return made;
}

std::shared_ptr<KeyNode> arrayOf(std::shared_ptr<KeyNode> element) {
    auto made = node(Kind::Array);
    made->element = std::move(element);
    return made;
}

// A profile condition: {"description": ..., "values": [{"mark", "value", "priority"}]}.
std::shared_ptr<KeyNode> conditionNode() {
    return object({
        {"description", node(Kind::String)},
        {"values", arrayOf(object({
                       {"mark", node(Kind::String)},
                       {"value", node(Kind::String)},
                       {"priority", node(Kind::Number)},
                   }))},
    });
}

const KeyNode& rootNode() {
    static const std::shared_ptr<KeyNode> root = [] {
        auto destinations = node(Kind::Object);
        destinations->anyMember = node(Kind::Scalar);
        std::vector<std::pair<std::string, std::shared_ptr<KeyNode>>> switches;
        for (const char* name : {"findClientByPhone", "findClientByDocument", "signatureUnlock", "sendInvoice",
                                 "sendProtocol", "recall", "informProtocol", "externalProtocol",
                                 "selfUpdateClientPhoneNumber", "underMaintenance", "eventManager"}) {
            switches.emplace_back(name, node(Kind::Boolean));
        }
        return object({
            {"ignoreEmptyBarCode", node(Kind::Boolean)},
            {"kestro", node(Kind::String)},
            {"token", node(Kind::String)},
            {"escapeCode", node(Kind::String)},
            {"language", node(Kind::String)},
            {"defaultContext", node(Kind::String)},
            {"debug", node(Kind::String)},
            {"plugin", object({{"driver", node(Kind::String)}, {"id", node(Kind::String)}})},
            {"feature", object(std::move(switches))},
            {"httpConnectTimeout", node(Kind::Number)},
            {"httpTimeout", node(Kind::Number)},
            {"verifyTls", node(Kind::Boolean)},
            {"caFile", node(Kind::String)},
            {"readyTimeout", node(Kind::Number)},
            {"spoolDirectory", node(Kind::String)},
            {"backgroundRecords", node(Kind::Boolean)},
            {"allowPeers", arrayOf(node(Kind::String))},
            {"profile", object({
                            {"route", arrayOf(object({{"destinations", destinations},
                                                      {"variables", conditionNode()}}))},
                            {"audio", arrayOf(object({{"dir", node(Kind::String)},
                                                     {"variables", conditionNode()}}))},
                        })},
        });
    }();
    return *root;
}

bool fits(Kind kind, const Json::Value& value) {
    switch (kind) {
        case Kind::String: return value.isString();
        case Kind::Number: return value.isNumeric();
        case Kind::Boolean: return value.isBool();
        case Kind::Object: return value.isObject();
        case Kind::Array: return value.isArray();
        case Kind::Scalar: return !value.isObject() && !value.isArray();
    }
    return false;
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::String: return "a string";
        case Kind::Number: return "a number";
        case Kind::Boolean: return "a boolean (true or false)";
        case Kind::Object: return "an object";
        case Kind::Array: return "an array";
        case Kind::Scalar: return "a string or number";
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

void walk(const KeyNode& known, const Json::Value& value, const std::string& shown,
          std::vector<std::string>& problems);

void walkMember(const KeyNode* known, const Json::Value& value, const std::string& shown,
                std::vector<std::string>& problems) {
    if (!fits(known->kind, value)) {
        problems.push_back("key \"" + shown + "\" should be " + kindName(known->kind) + ", not " + typeName(value) +
                           ": a call ignores it");
        return;
    }
    walk(*known, value, shown, problems);
}

void walk(const KeyNode& known, const Json::Value& value, const std::string& shown,
          std::vector<std::string>& problems) {
    if (value.isObject()) {
        for (auto member = value.begin(); member != value.end(); ++member) {
            const std::string name = member.name();
            const std::string path = shown.empty() ? name : shown + "." + name;
            const KeyNode* child = known.member(name);
            if (child == nullptr) {
                std::vector<std::string> names;
                for (const auto& candidate : known.members) names.push_back(candidate.first);
                std::string hint = ConfigurationKeys::nearest(name, names);
                problems.push_back("key \"" + path + "\" is not read by anyone" +
                                   (hint.empty() ? std::string() : " (a typo? the nearest known key is \"" +
                                                                       (shown.empty() ? hint : shown + "." + hint) +
                                                                       "\")"));
                continue;
            }
            walkMember(child, *member, path, problems);
        }
    } else if (value.isArray() && known.element) {
        for (Json::ArrayIndex index = 0; index < value.size(); ++index) {
            walkMember(known.element.get(), value[index], shown + "[" + std::to_string(index) + "]", problems);
        }
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
    if (root.isObject()) walk(rootNode(), root, "", problems);
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
