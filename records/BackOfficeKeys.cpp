#include "records/BackOfficeKeys.h"

#include "api/HttpClient.h"
#include "util/JsonMembers.h"

namespace tarvik {

void BackOfficeKeys::read(const Json::Value& root) {
    JsonMembers::readString(root, configurationKeyName(Id::Kestro), baseUri);
    JsonMembers::readString(root, configurationKeyName(Id::Token), accessToken);
    JsonMembers::readSeconds(root, configurationKeyName(Id::HttpTimeout), totalSeconds);
    JsonMembers::readSeconds(root, configurationKeyName(Id::HttpConnectTimeout), connectSeconds);
    JsonMembers::readBool(root, configurationKeyName(Id::VerifyTls), verifyTls);
    JsonMembers::readString(root, configurationKeyName(Id::CaFile), caFile);
    JsonMembers::readBool(root, configurationKeyName(Id::BackgroundRecords), backgroundRecords);
    JsonMembers::readSeconds(root, configurationKeyName(Id::ReadyTimeout), readySeconds);
    JsonMembers::readSeconds(root, configurationKeyName(Id::PendingTimeout), pendingSeconds);
    JsonMembers::readString(root, configurationKeyName(Id::SpoolDirectory), spoolDirectory);
    // Bounds beyond any disk, or that would overflow: ignored.
    JsonMembers::readCount(root, configurationKeyName(Id::SpoolMaxRecords), spoolMaxRecords, 1000000000LL);
    JsonMembers::readCount(root, configurationKeyName(Id::SpoolMaxMegabytes), spoolMaxMegabytes, 1LL << 30);
    JsonMembers::readCount(root, configurationKeyName(Id::SpoolMaxDays), spoolMaxDays, 3650);
    if (const Json::Value* plugin = JsonMembers::find(root, configurationKeyName(Id::Plugin))) {
        JsonMembers::readString(*plugin, configurationKeyName(Id::PluginDriver), pluginDriver);
        JsonMembers::readString(*plugin, configurationKeyName(Id::PluginId), pluginId);
    }
}

BackOfficeIdentity BackOfficeKeys::identity() const { return BackOfficeIdentity(baseUri, pluginDriver, pluginId); }

void BackOfficeKeys::configure(HttpClient& client) const {
    client.setTimeouts(connectSeconds, totalSeconds);
    client.setTlsVerification(verifyTls, caFile);
    client.setBackgroundRecords(backgroundRecords);
    client.setReadyTimeout(readySeconds);
}

BackgroundSender::Settings BackOfficeKeys::senderSettings() const {
    BackgroundSender::Settings settings;
    settings.baseUri = baseUri;
    settings.accessToken = accessToken;
    settings.identity = identity();
    settings.options.connectSeconds = connectSeconds;
    settings.options.totalSeconds = totalSeconds;
    settings.options.verifyTls = verifyTls;
    settings.options.caFile = caFile;
    settings.spoolDirectory = spoolDirectory;
    settings.limits = spoolLimits();
    return settings;
}

RecordSpool::Limits BackOfficeKeys::spoolLimits() const {
    RecordSpool::Limits limits;
    limits.maxRecords = static_cast<std::size_t>(spoolMaxRecords);
    limits.maxBytes = static_cast<std::uintmax_t>(spoolMaxMegabytes) * 1024u * 1024u;
    limits.maxAge = std::chrono::seconds(static_cast<long long>(spoolMaxDays) * 24 * 3600);
    return limits;
}

}  // namespace tarvik
