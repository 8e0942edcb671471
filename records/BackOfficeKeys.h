#pragma once

#include <string>

#include <json/json.h>

#include "records/BackgroundSender.h"

namespace tarvik {

class HttpClient;

// The configuration keys that say how the back office is reached and what
// becomes of the records it cannot take now: read alike by a call and by
// `--flush-spool`.
struct BackOfficeKeys {
    // Where records wait unless "spoolDirectory" names another directory.
    static constexpr const char* kDefaultSpoolDir = "/var/spool/tarvik/kestro/ivr";

    std::string baseUri;      // "kestro"
    std::string accessToken;  // "token"
    long totalSeconds = 10;   // "httpTimeout"
    long connectSeconds = 3;  // "httpConnectTimeout"
    bool verifyTls = false;   // "verifyTls"
    std::string caFile;       // "caFile"
    bool backgroundRecords = true;  // "backgroundRecords"
    long readySeconds = 2;          // "readyTimeout"
    long pendingSeconds = 10;       // "pendingTimeout"
    std::string spoolDirectory = kDefaultSpoolDir;
    std::string pluginDriver;  // "plugin"."driver": with the address, the
    std::string pluginId;      // "plugin"."id": back office records belong to

    // Takes every key present with a usable value; the others keep theirs.
    void read(const Json::Value& root);
    // Transfer limits, TLS and how records travel, for a call's client.
    void configure(HttpClient& client) const;
    // The back office this configuration names.
    BackOfficeIdentity identity() const;
    // What a sender of records needs, without a call.
    BackgroundSender::Settings senderSettings() const;
};

}  // namespace tarvik
