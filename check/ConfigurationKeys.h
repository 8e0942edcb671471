#pragma once

#include <string>
#include <vector>

#include <json/json.h>

#include "configuration/ConfigurationKeyTable.h"

namespace tarvik {

// The keys of a configuration file held to the table of keys the programs
// read them by (configuration/ConfigurationKeyTable.h), with the JSON type
// each must have. A key of the wrong type or a key no one reads is silently
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
