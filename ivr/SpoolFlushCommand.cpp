#include "ivr/SpoolFlushCommand.h"

#include <fstream>

#include <json/json.h>

#include "api/BackgroundSender.h"
#include "api/KestroAgiRESTFul.h"
#include "ivr/BackOfficeKeys.h"
#include "util/JsonText.h"

namespace tarvik {

int SpoolFlushCommand::run(const char* configurationPath, std::ostream& out, std::ostream& errors) {
    std::ifstream file(configurationPath);
    Json::Value root;
    if (!file.is_open() || !JsonText::parse(file, root, false) || !root.isObject()) {
        errors << "--flush-spool: cannot read the configuration " << configurationPath << "\n";
        return 1;
    }
    BackOfficeKeys keys;
    keys.read(root);
    const BackgroundSender::Settings settings = keys.senderSettings();
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
