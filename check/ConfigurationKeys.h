#pragma once

#include <string>
#include <vector>

#include <json/json.h>

namespace tarvik {

// Every key the programs read from a configuration file (the call flow,
// the back-office client, the routing profile), with the JSON type each
// must have. A key of the wrong type or a key no one reads is silently
// ignored by a call; the check names them here.
class ConfigurationKeys {
public:
    // One text per problem, in file order: "key "x" should be ...",
    // "key "x" is not read by anyone ...".
    static std::vector<std::string> check(const Json::Value& root);

    // The known key nearest to `key` by edit distance (ties: the first in
    // `known`); empty when `known` is.
    static std::string nearest(const std::string& key, const std::vector<std::string>& known);
};

}  // namespace tarvik
