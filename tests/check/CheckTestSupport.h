#pragma once

#include <string>
#include <vector>

#include "ivr/PromptCatalog.h"
#include "tests/support/TempDir.h"

namespace tarvik::testing {

// A configuration the check finds nothing wrong with, given a back office
// at `baseUrl` and prompts in `audioDir` (and the business directory).
inline std::string goodConfiguration(const std::string& baseUrl, const std::string& businessDir) {
    return R"({
  "kestro": ")" + baseUrl + R"(",
  "token": "t",
  "defaultContext": "ivr-exits",
  "httpConnectTimeout": 2,
  "httpTimeout": 2,
  "readyTimeout": 2,
  "backgroundRecords": true,
  "plugin": { "driver": "demo", "id": "1" },
  "feature": { "recall": false },
  "profile": {
    "route": [ { "destinations": { "50005": "7000", "50021": 7100 },
                 "variables": { "description": "pj", "values": [ { "mark": "type", "value": "pj", "priority": 1 } ] } } ],
    "audio": [ { "dir": ")" + businessDir + R"(",
                 "variables": { "description": "pj", "values": [ { "mark": "type", "value": "pj" } ] } } ]
  }
})";
}

// An audio directory holding every prompt (as .wav) but `leaveOut`.
inline std::string promptDirectory(const TempDir& dir, const std::string& name,
                                   const std::vector<std::string>& leaveOut = {}) {
    for (const std::string& prompt : PromptCatalog::names()) {
        bool skipped = false;
        for (const std::string& left : leaveOut) skipped = skipped || left == prompt;
        if (!skipped) dir.write(name + "/" + prompt + ".wav", "RIFF");
    }
    return dir.file(name) + "/";
}

}  // namespace tarvik::testing
