#include "check/ConfigurationCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>

#include <json/json.h>

#include "api/HttpClient.h"
#include "check/BackOfficeAddress.h"
#include "check/CheckSession.h"
#include "check/ConfigurationFile.h"
#include "check/ConfigurationKeys.h"
#include "check/PromptAudio.h"
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

// The default directory first, then every profile directory once.
std::vector<std::string> audioDirectories(const Json::Value& root, const std::string& defaultDir) {
    std::vector<std::string> directories = {defaultDir};
    const Json::Value* profile = member(root, "profile");
    const Json::Value* audio = profile != nullptr ? member(*profile, "audio") : nullptr;
    if (audio == nullptr || !audio->isArray()) return directories;
    for (const Json::Value& entry : *audio) {
        const Json::Value* dir = member(entry, "dir");
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

std::vector<std::string> ConfigurationCheck::problems(const std::string& path) {
    std::vector<std::string> found;
    Json::Value root;
    std::string unreadable;
    if (!ConfigurationFile::load(path, root, unreadable)) {
        found.push_back(unreadable);
        return found;
    }
    if (!root.isObject()) {
        found.push_back("the configuration is not a JSON object: a call reads none of its keys");
        return found;
    }
    for (std::string& problem : ConfigurationKeys::check(root)) found.push_back(std::move(problem));

    checkLoadedModule(path, found);

    const Json::Value* spool = member(root, "spoolDirectory");
    if (spool != nullptr && spool->isString()) checkSpoolDirectory(spool->asString(), found);

    for (const std::string& directory : audioDirectories(root, options.defaultAudioDir)) {
        for (std::string& problem : PromptAudio::check(directory, options.prompts)) {
            found.push_back(std::move(problem));
        }
    }
    return found;
}

// The module's own loading, as at the start of a call, then what the call
// flow and the back-office client need from it.
void ConfigurationCheck::checkLoadedModule(const std::string& path, std::vector<std::string>& found) {
    CheckSession session;
    module.loadConfiguration(session, path.c_str());
    for (const std::string& line : session.takeLines()) {
        if (isLoadFailure(line)) found.push_back("a call would log \"" + line + "\"");
    }

    if (module.getEndpointFindClientByDocument().empty() || module.getEndpointFindInvoiceSend().empty() ||
        module.getEndpointFindClientUnlock().empty()) {
        found.push_back(
            "endpoints find client by document, invoice send and client unlock are required: the \"plugin\" "
            "object needs a string \"driver\" and \"id\"; every call would fail");
    }

    std::string address = BackOfficeAddress::problem(module.getBaseUri());
    if (!address.empty()) {
        found.push_back(address);
    } else if (!options.offline) {
        checkReadiness(found);
    }
}

// The readiness request of a call, with the configured limits and TLS
// settings (the module's client was set up with them).
void ConfigurationCheck::checkReadiness(std::vector<std::string>& found) {
    HttpClient* http = module.getHttp();
    if (http == nullptr) return;
    CheckSession session;
    if (http->isReady(session)) return;
    std::string why;
    for (const std::string& line : session.takeLines()) {
        if (line.rfind("Lumora ID:", 0) == 0) continue;
        why += (why.empty() ? "" : "; ") + line;
    }
    if (why.empty()) why = "it answered a state other than \"ready\"";
    found.push_back("the back office at " + module.getBaseUri() + " is not ready: " + why +
                    " (--offline skips this request)");
}

void ConfigurationCheck::checkSpoolDirectory(const std::string& directory, std::vector<std::string>& found) {
    const std::string quoted = "spool directory \"" + directory + "\" cannot be written: ";
    struct stat status {};
    if (directory.empty()) {
        found.push_back(quoted + "the name is empty");
    } else if (::stat(directory.c_str(), &status) != 0) {
        found.push_back(quoted + std::strerror(errno));
    } else if (!S_ISDIR(status.st_mode)) {
        found.push_back(quoted + "not a directory");
    } else if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        found.push_back(quoted + std::strerror(errno));
    }
}

int ConfigurationCheck::run(const std::string& path, std::ostream& out) {
    std::vector<std::string> found = problems(path);
    for (const std::string& problem : found) out << path << ": " << problem << "\n";
    if (found.empty()) {
        out << path << ": no problems found\n";
    } else {
        out << path << ": " << found.size() << (found.size() == 1 ? " problem" : " problems") << " found\n";
    }
    out.flush();
    return found.empty() ? 0 : 1;
}

}  // namespace tarvik

namespace tarvik {

int ConfigurationCheck::runForProgram(Plugin& module, const std::string& path, bool offline,
                                      std::vector<std::string> prompts) {
    Options options;
    options.offline = offline;
    options.prompts = std::move(prompts);
    return ConfigurationCheck(module, options).run(path, std::cout);
}

}  // namespace tarvik
