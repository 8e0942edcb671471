#include "records/BackOfficeKeys.h"

#include "api/HttpClient.h"
#include "util/JsonMembers.h"

namespace tarvik {

void BackOfficeKeys::read(const Json::Value& root) {
    JsonMembers::readString(root, "kestro", baseUri);
    JsonMembers::readString(root, "token", accessToken);
    JsonMembers::readSeconds(root, "httpTimeout", totalSeconds);
    JsonMembers::readSeconds(root, "httpConnectTimeout", connectSeconds);
    JsonMembers::readBool(root, "verifyTls", verifyTls);
    JsonMembers::readString(root, "caFile", caFile);
    JsonMembers::readBool(root, "backgroundRecords", backgroundRecords);
    JsonMembers::readSeconds(root, "readyTimeout", readySeconds);
    JsonMembers::readSeconds(root, "pendingTimeout", pendingSeconds);
    JsonMembers::readString(root, "spoolDirectory", spoolDirectory);
    if (const Json::Value* plugin = JsonMembers::find(root, "plugin")) {
        JsonMembers::readString(*plugin, "driver", pluginDriver);
        JsonMembers::readString(*plugin, "id", pluginId);
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
