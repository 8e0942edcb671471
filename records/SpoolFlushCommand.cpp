#include "records/SpoolFlushCommand.h"

#include <fstream>

#include <json/json.h>

#include "api/KestroAgiRESTFul.h"
#include "records/BackOfficeKeys.h"
#include "records/BackgroundSender.h"
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
    BackgroundSender sender(settings);
    std::string problem;
    if (!sender.spoolUsable(problem)) {
        errors << "--flush-spool: " << problem << "\n";
        return 1;
    }
    const BackgroundSender::FlushReport report = sender.flushSpool();
    for (const std::string& line : sender.takeNotices()) out << line << "\n";
    const std::size_t waiting = sender.waitingInSpool();
    out << "spool " << settings.spoolDirectory << ": " << report.delivered << " delivered, " << report.setAside
        << " set aside, " << waiting << " kept for later";
    if (report.stuck > 0) out << ", " << report.stuck << " could not be set aside";
    out << "\n";
    return waiting == 0 && report.stuck == 0 ? 0 : 1;
}

}  // namespace tarvik
