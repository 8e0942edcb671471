#include "records/SpoolCommand.h"

#include <ctime>
#include <fstream>

#include <json/json.h>

#include "api/KestroAgiRESTFul.h"
#include "records/BackOfficeKeys.h"
#include "records/BackgroundSender.h"
#include "records/RecordSpool.h"
#include "util/BoundedFormat.h"
#include "util/JsonText.h"

namespace tarvik {

namespace {

std::string utcTime(std::int64_t seconds) {
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string age(std::int64_t seconds) {
    if (seconds < 60) return formatBounded("%llds", static_cast<long long>(seconds));
    if (seconds < 3600) return formatBounded("%lldm", static_cast<long long>(seconds / 60));
    if (seconds < 86400) {
        return formatBounded("%lldh%02lldm", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds % 3600 / 60));
    }
    return formatBounded("%lldd%02lldh", static_cast<long long>(seconds / 86400),
                         static_cast<long long>(seconds % 86400 / 3600));
}

int listSpool(RecordSpool& spool, std::ostream& out) {
    const std::vector<RecordSpool::OfficeSummary> offices = spool.offices();
    out << "spool " << spool.directory() << ": " << offices.size() << " back offices with records\n";
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const RecordSpool::OfficeSummary& office : offices) {
        out << office.identity.address() << " plugin " << office.identity.pluginDriver() << "/"
            << office.identity.pluginId() << ": " << office.waiting << " waiting, " << office.aside << " aside";
        if (office.oldestWritten > 0) {
            const std::int64_t written = office.oldestWritten / 1000000000;
            out << ", oldest " << utcTime(written) << " (" << age(now > written ? now - written : 0) << " ago)";
        }
        if (office.heldUntil > 0) out << ", held until " << utcTime(office.heldUntil);
        out << (office.identity == spool.office() ? " (this configuration's back office)"
                                                  : " (not named by this configuration)")
            << "\n";
    }
    return 0;
}

int flushSpool(const BackgroundSender::Settings& settings, std::ostream& out) {
    BackgroundSender sender(settings);
    const BackgroundSender::FlushReport report = sender.flushSpool();
    for (const std::string& line : sender.takeNotices()) out << line << "\n";
    const std::size_t waiting = sender.waitingInSpool();
    out << "spool " << settings.spoolDirectory << ": " << report.delivered << " delivered, " << report.setAside
        << " set aside, " << waiting << " kept for later";
    if (report.stuck > 0) out << ", " << report.stuck << " could not be set aside";
    out << "\n";
    // A record set aside is one the operator has to look at.
    return waiting == 0 && report.stuck == 0 && report.setAside == 0 ? 0 : 1;
}

}  // namespace

int SpoolCommand::run(const std::string& command, const std::string& configurationPath,
                      const std::vector<std::string>& arguments, std::ostream& out, std::ostream& errors) {
    const std::string name = "--" + command;
    std::ifstream file(configurationPath);
    Json::Value root;
    if (!file.is_open() || !JsonText::parse(file, root, false) || !root.isObject()) {
        errors << name << ": cannot read the configuration " << configurationPath << "\n";
        return 1;
    }
    BackOfficeKeys keys;
    keys.read(root);
    const BackgroundSender::Settings settings = keys.senderSettings();
    if (settings.baseUri.empty() || settings.spoolDirectory.empty()) {
        errors << name << ": the configuration names no back office (\"kestro\") or no spool\n";
        return 1;
    }
    KestroAgiRESTFul::initialiseLibrary();
    RecordSpool spool(settings.spoolDirectory, settings.identity, settings.limits);
    std::string problem;
    if (!spool.usable(false, problem)) {
        errors << name << ": " << problem << "\n";
        return 1;
    }
    if (command == "flush-spool") return flushSpool(settings, out);
    if (command == "list-spool") return listSpool(spool, out);
    const std::string address = arguments.empty() ? std::string() : arguments.front();
    std::size_t changed = 0;
    if (command == "requeue-aside") {
        changed = spool.requeueAside();
        out << "spool " << settings.spoolDirectory << ": " << changed << " aside records of "
            << settings.identity.address() << " wait again\n";
    } else if (command == "move-spool") {
        changed = spool.moveFrom(address);
        out << "spool " << settings.spoolDirectory << ": moved " << changed << " records of "
            << BackOfficeIdentity::canonicalAddress(address) << " to " << settings.identity.address() << "\n";
    } else if (command == "delete-spool") {
        changed = spool.removeAddress(address);
        out << "spool " << settings.spoolDirectory << ": deleted " << changed << " records of "
            << BackOfficeIdentity::canonicalAddress(address) << "\n";
    } else {
        errors << name << ": no such spool command\n";
        return 1;
    }
    for (const std::string& line : spool.takeNotices()) out << line << "\n";
    return 0;
}

}  // namespace tarvik
