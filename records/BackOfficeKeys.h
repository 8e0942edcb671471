#pragma once

#include <string>

#include <json/json.h>

#include "configuration/ConfigurationKeyTable.h"
#include "records/BackgroundSender.h"

namespace tarvik {

class HttpClient;

// The configuration keys that say how the back office is reached and what
// becomes of the records it cannot take now: read alike by a call and by
// `--flush-spool`. Names and defaults come from the table of keys.
struct BackOfficeKeys {
    using Id = ConfigurationKeyId;

    // Where records wait unless "spoolDirectory" names another directory.
    static constexpr const char* kDefaultSpoolDir = configurationKey(Id::SpoolDirectory).defaultValue;

    std::string baseUri = configurationKey(Id::Kestro).defaultValue;
    std::string accessToken = configurationKey(Id::Token).defaultValue;
    long totalSeconds = configurationKey(Id::HttpTimeout).defaultNumber();
    long connectSeconds = configurationKey(Id::HttpConnectTimeout).defaultNumber();
    bool verifyTls = configurationKey(Id::VerifyTls).defaultFlag();
    std::string caFile = configurationKey(Id::CaFile).defaultValue;
    bool backgroundRecords = configurationKey(Id::BackgroundRecords).defaultFlag();
    long readySeconds = configurationKey(Id::ReadyTimeout).defaultNumber();
    long pendingSeconds = configurationKey(Id::PendingTimeout).defaultNumber();
    std::string spoolDirectory = kDefaultSpoolDir;
    long long spoolMaxRecords = configurationKey(Id::SpoolMaxRecords).defaultNumber();
    long long spoolMaxMegabytes = configurationKey(Id::SpoolMaxMegabytes).defaultNumber();
    long long spoolMaxDays = configurationKey(Id::SpoolMaxDays).defaultNumber();
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
    RecordSpool::Limits spoolLimits() const;
};

}  // namespace tarvik
