#include "check/ConfigurationCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <iostream>

#include <json/json.h>

#include "agi/RecordingSession.h"
#include "ivr/BackOfficeSteps.h"
#include "check/BackOfficeAddress.h"
#include "check/ConfigurationFile.h"
#include "check/ConfigurationKeys.h"
#include "check/PromptAudio.h"
#include "check/ReadinessAnswer.h"
#include "check/MetricsFileFolder.h"
#include "check/SpoolDirectory.h"
#include "check/UserAccess.h"
#include "configuration/ConfigurationKeyTable.h"
#include "records/BackOfficeKeys.h"
#include "records/RecordSpool.h"
#include "util/BoundedFormat.h"
#include "ivr/Plugin.h"
#include "ivr/PromptCatalog.h"
#include "util/JsonMembers.h"

namespace tarvik {

namespace {

// The loading messages of a call that mean something was not loaded (the
// others report progress).
bool isLoadFailure(const std::string& line) {
    return line.find("failure") != std::string::npos || line.find("not exists") != std::string::npos ||
           line.rfind("no ", 0) == 0;
}

const Json::Value* member(const Json::Value& object, const char* key) { return JsonMembers::find(object, key); }

// The client's line when no answer came at all.
constexpr const char* kNoAnswer = "failure on verify information if service is ready";

std::string tokenRefusal(const std::string& baseUri, const std::string& token, int status) {
    const std::string answered = "it answered " + std::to_string(status) + " to the readiness request";
    if (token.empty()) {
        return "the back office at " + baseUri + " wants an access token: key \"token\" is missing or empty (" +
               answered + "; --offline skips this request)";
    }
    return "the back office at " + baseUri + " refused the access token (key \"token\"): " + answered +
           " (--offline skips this request)";
}

// The default directory first, then every profile directory once.
std::vector<std::string> audioDirectories(const Json::Value& root, const std::string& defaultDir) {
    std::vector<std::string> directories = {defaultDir};
    using Id = ConfigurationKeyId;
    const Json::Value* profile = member(root, configurationKeyName(Id::Profile));
    const Json::Value* audio = profile != nullptr ? member(*profile, configurationKeyName(Id::ProfileAudio)) : nullptr;
    if (audio == nullptr || !audio->isArray()) return directories;
    for (const Json::Value& entry : *audio) {
        const Json::Value* dir = member(entry, configurationKeyName(Id::AudioDir));
        if (dir == nullptr || !dir->isString()) continue;
        std::string text = dir->asString();
        bool seen = false;
        for (const std::string& known : directories) seen = seen || known == text;
        if (!seen) directories.push_back(text);
    }
    return directories;
}

}  // namespace

ConfigurationCheck::ConfigurationCheck(Plugin& checkedModule, Options checkOptions)
    : module(checkedModule), options(std::move(checkOptions)) {
    if (options.defaultAudioDir.empty()) options.defaultAudioDir = Plugin::kDefaultAudioDir;
    if (options.prompts.empty()) options.prompts = PromptCatalog::names();
}

ConfigurationCheck::Findings ConfigurationCheck::findings(const std::string& path) {
    Findings found;
    Json::Value root;
    std::string unreadable;
    if (!ConfigurationFile::load(path, root, unreadable)) {
        found.problems.push_back(unreadable);
        return found;
    }
    if (!root.isObject()) {
        found.problems.push_back("the configuration is not a JSON object: a call reads none of its keys");
        return found;
    }
    for (std::string& problem : ConfigurationKeys::check(root)) found.problems.push_back(std::move(problem));
    checkTokenExposure(path, root, found);
    checkTlsVerification(root, found);

    checkLoadedModule(path, root, found);
    checkSpoolDirectory(root, found);
    checkMetricsFile(root, found);

    for (const std::string& directory : audioDirectories(root, options.defaultAudioDir)) {
        for (std::string& problem : PromptAudio::check(directory, options.prompts)) {
            found.problems.push_back(std::move(problem));
        }
    }
    checkCallsUserAccess(path, root, found);
    return found;
}

// A token in a file others can read is a token others can use.
void ConfigurationCheck::checkTokenExposure(const std::string& path, const Json::Value& root, Findings& found) {
    const Json::Value* token = member(root, configurationKeyName(ConfigurationKeyId::Token));
    struct stat status {};
    if (token == nullptr || !token->isString() || token->asString().empty() || ::stat(path.c_str(), &status) != 0) {
        return;
    }
    if ((status.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
    found.warnings.push_back(
        "the file holds the access token (\"token\") and can be read by group or others: let only the user that "
        "runs the calls read it (chmod 600)");
}

// The module's own loading, as at the start of a call, then what the call
// flow and the back-office client need from it.
void ConfigurationCheck::checkLoadedModule(const std::string& path, const Json::Value& root, Findings& found) {
    RecordingSession session(RecordingSession::Channel::none);
    module.loadConfiguration(session, path.c_str());
    for (const std::string& line : session.takeVerboseLines()) {
        if (isLoadFailure(line)) found.problems.push_back("a call would log \"" + line + "\"");
    }

    if (module.getEndpointFindClientByDocument().empty() || module.getEndpointFindInvoiceSend().empty() ||
        module.getEndpointFindClientUnlock().empty()) {
        found.problems.push_back(
            "endpoints find client by document, invoice send and client unlock are required: the \"plugin\" "
            "object needs a string \"driver\" and \"id\"; every call would fail");
    }

    std::string address = BackOfficeAddress::problem(module.getBaseUri());
    if (!address.empty()) {
        found.problems.push_back(address);
    } else if (!options.offline) {
        checkReadiness(root, found);
    }
}

// The readiness request of a call, with the configured limits and TLS
// settings (the module's client was set up with them).
void ConfigurationCheck::checkReadiness(const Json::Value& root, Findings& found) {
    BackOfficeSteps* http = module.getHttp();
    if (http == nullptr) return;
    RecordingSession session(RecordingSession::Channel::none);
    if (http->isReady(session)) return;
    std::string why;
    bool answered = true;
    for (const std::string& line : session.takeVerboseLines()) {
        if (line.rfind("Lumora ID:", 0) == 0) continue;
        answered = answered && line != kNoAnswer;
        why += (why.empty() ? "" : "; ") + line;
    }
    // The client does not say which answer came: ask once more for its
    // status, so a refused token is named as such.
    if (answered) {
        BackOfficeKeys keys;
        keys.read(root);
        const int status = ReadinessAnswer::status(module, keys);
        if (ReadinessAnswer::refusesToken(status)) {
            found.problems.push_back(tokenRefusal(module.getBaseUri(), module.getAccessToken(), status));
            return;
        }
    }
    if (why.empty()) why = "it answered a state other than \"ready\"";
    found.problems.push_back("the back office at " + module.getBaseUri() + " is not ready: " + why +
                             " (--offline skips this request)");
}

// The directory a call would use: the key when usable, else the default.
std::string ConfigurationCheck::spoolDirectoryOf(const Json::Value& root) const {
    BackOfficeKeys keys;
    if (!options.defaultSpoolDir.empty()) keys.spoolDirectory = options.defaultSpoolDir;
    keys.read(root);
    return keys.spoolDirectory;
}

void ConfigurationCheck::checkSpoolDirectory(const Json::Value& root, Findings& found) const {
    const std::string spool = spoolDirectoryOf(root);
    std::string problem = SpoolDirectory::problem(spool);
    if (!problem.empty()) found.problems.push_back(std::move(problem));
    std::string warning = SpoolDirectory::warning(spool);
    if (!warning.empty()) found.warnings.push_back(std::move(warning));
    BackOfficeKeys keys;
    keys.read(root);
    keys.spoolDirectory = spool;
    checkOtherBackOffices(keys, found);
}

void ConfigurationCheck::checkOtherBackOffices(const BackOfficeKeys& keys, Findings& found) const {
    // Records of an address no configuration names any more wait for ever:
    // say so (--move-spool or --delete-spool deals with them).
    RecordSpool spool(keys.spoolDirectory, keys.identity(), keys.spoolLimits());
    std::string problem;
    if (keys.baseUri.empty() || !spool.usable(false, problem)) return;
    std::size_t waiting = 0;
    std::int64_t oldest = 0;
    for (const RecordSpool::OfficeSummary& office : spool.offices()) {
        if (office.identity == keys.identity()) continue;
        waiting += office.waiting;
        if (office.oldestWritten > 0 && (oldest == 0 || office.oldestWritten < oldest)) oldest = office.oldestWritten;
    }
    if (waiting == 0) return;
    const long long days = (RecordSpool::timeWrittenNow() - oldest) / 1000000000LL / 86400;
    const long long hours = (RecordSpool::timeWrittenNow() - oldest) / 1000000000LL % 86400 / 3600;
    found.warnings.push_back(formatBounded("spool %s holds %zu records waiting for back offices other than %s, "
                                           "the oldest %lld days %lld hours old (--list-spool names them)",
                                           keys.spoolDirectory.c_str(), waiting, keys.identity().address().c_str(),
                                           days, hours));
}

// An https back office whose certificate is not verified can be stood in
// for by anyone on the way, and the access token goes to them.
void ConfigurationCheck::checkTlsVerification(const Json::Value& root, Findings& found) {
    BackOfficeKeys keys;
    keys.read(root);
    std::string scheme = keys.baseUri.substr(0, keys.baseUri.find(':'));
    for (char& letter : scheme) letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    if (scheme != "https" || keys.verifyTls) return;
    found.warnings.push_back(
        "the back office is reached over https without verifying its certificate (key \"verifyTls\" is false or "
        "absent): anyone on the way can pose as it and receive the access token; set \"verifyTls\": true (and "
        "\"caFile\" for a private authority)");
}

// Run as root, the check's own reading proves nothing about the calls: work
// out what the user that runs them (--as-user, else the spool directory's
// owner) can read. A spool that does not exist yet names no one.
void ConfigurationCheck::checkCallsUserAccess(const std::string& path, const Json::Value& root,
                                              Findings& found) const {
    if (options.callsUser.empty() && ::geteuid() != 0) return;
    const std::string spool = spoolDirectoryOf(root);
    UserAccess user;
    std::string problem;
    std::string who;
    if (!options.callsUser.empty()) {
        if (!UserAccess::forName(options.callsUser, user, problem)) {
            found.problems.push_back("--as-user: " + problem + ": cannot check what the calls' user can read");
            return;
        }
        who = "the calls' user " + user.name() + " (--as-user) ";
    } else {
        if (!UserAccess::forOwnerOf(spool, user, problem)) return;
        who = "the calls' user " + user.name() + " (owner of spool directory \"" + spool + "\") ";
    }

    std::string denied = user.readProblem(path);
    if (!denied.empty()) found.problems.push_back(who + denied + ": a call would run without its configuration");
    denied = user.directoryProblem(spool, W_OK | X_OK);
    if (!denied.empty()) found.problems.push_back(who + denied + ": records could not wait there");
    for (const std::string& directory : audioDirectories(root, options.defaultAudioDir)) {
        denied = user.directoryProblem(directory, X_OK);
        if (!denied.empty()) {
            found.problems.push_back(who + denied + ": its prompts could not be played");
            continue;
        }
        for (const std::string& file : PromptAudio::presentFiles(directory, options.prompts)) {
            denied = user.readProblem(directory + file);
            if (!denied.empty()) found.problems.push_back(who + denied + ": the prompt could not be played");
        }
    }
}

void ConfigurationCheck::checkMetricsFile(const Json::Value& root, Findings& found) {
    const Json::Value* file = member(root, configurationKeyName(ConfigurationKeyId::MetricsFile));
    if (file == nullptr || !file->isString()) return;  // the key check names a wrong type
    std::string warning = MetricsFileFolder::warning(file->asString());
    if (!warning.empty()) found.warnings.push_back(std::move(warning));
}

int ConfigurationCheck::run(const std::string& path, std::ostream& out) {
    Findings found = findings(path);
    for (const std::string& problem : found.problems) out << path << ": " << problem << "\n";
    for (const std::string& warning : found.warnings) out << path << ": warning: " << warning << "\n";
    const std::size_t problems = found.problems.size();
    const std::size_t warnings = found.warnings.size();
    if (problems == 0) {
        out << path << ": no problems found";
    } else {
        out << path << ": " << problems << (problems == 1 ? " problem" : " problems") << " found";
    }
    if (warnings != 0) out << " (" << warnings << (warnings == 1 ? " warning" : " warnings") << ")";
    out << "\n";
    out.flush();
    return problems == 0 ? 0 : 1;
}

}  // namespace tarvik

namespace tarvik {

int ConfigurationCheck::runForProgram(Plugin& module, const std::string& path, bool offline,
                                      const std::string& callsUser, std::vector<std::string> prompts) {
    Options options;
    options.offline = offline;
    options.callsUser = callsUser;
    options.prompts = std::move(prompts);
    return ConfigurationCheck(module, options).run(path, std::cout);
}

}  // namespace tarvik
