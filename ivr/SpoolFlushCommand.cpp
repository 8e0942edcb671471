#include "ivr/SpoolFlushCommand.h"

#include <cmath>
#include <fstream>

#include <json/json.h>

#include "api/BackgroundSender.h"
#include "api/KestroAgiRESTFul.h"
#include "ivr/Plugin.h"
#include "util/JsonText.h"

namespace tarvik {

namespace {

std::string text(const Json::Value& root, const char* key, const std::string& fallback) {
    const Json::Value& value = root[key];
    return value.isString() ? value.asString() : fallback;
}

long seconds(const Json::Value& root, const char* key, long fallback) {
    const Json::Value& value = root[key];
    if (!value.isNumeric() || !(value.asDouble() > 0.0) || value.asDouble() > 86400.0) return fallback;
    return static_cast<long>(std::ceil(value.asDouble()));
}

}  // namespace

int SpoolFlushCommand::run(const char* configurationPath, std::ostream& out, std::ostream& errors) {
    std::ifstream file(configurationPath);
    Json::Value root;
    if (!file.is_open() || !JsonText::parse(file, root, false) || !root.isObject()) {
        errors << "--flush-spool: cannot read the configuration " << configurationPath << "\n";
        return 1;
    }
    BackgroundSender::Settings settings;
    settings.baseUri = text(root, "kestro", "");
    settings.accessToken = text(root, "token", "");
    settings.spoolDirectory = text(root, "spoolDirectory", Plugin::kDefaultSpoolDir);
    settings.options.connectSeconds = seconds(root, "httpConnectTimeout", settings.options.connectSeconds);
    settings.options.totalSeconds = seconds(root, "httpTimeout", settings.options.totalSeconds);
    settings.options.verifyTls = root["verifyTls"].isBool() && root["verifyTls"].asBool();
    settings.options.caFile = text(root, "caFile", "");
    if (settings.baseUri.empty() || settings.spoolDirectory.empty()) {
        errors << "--flush-spool: the configuration names no back office (\"kestro\") or no spool\n";
        return 1;
    }

    KestroAgiRESTFul::initialiseLibrary();
    std::atomic<bool> giveUp{false};
    BackgroundSender sender(settings, &giveUp);
    const BackgroundSender::FlushReport report = sender.flushSpool();
    for (const std::string& line : sender.takeNotices()) out << line << "\n";
    out << "spool " << settings.spoolDirectory << ": " << report.delivered << " delivered, " << report.setAside
        << " set aside, " << report.keptForLater << " kept for later\n";
    return report.keptForLater == 0 ? 0 : 1;
}

}  // namespace tarvik
