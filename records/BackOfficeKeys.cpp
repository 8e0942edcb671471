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
    return settings;
}

}  // namespace tarvik
