#include "profile/Profile.h"

#include <json/json.h>

#include <exception>
#include <fstream>

#include "agi/KestroAgiImpl.h"
#include "util/JsonText.h"

namespace tarvik {

namespace {

// A condition object's "priority" counts only as a JSON number with an
// integral value within the signed 32-bit range; anything else gives 1.
std::uint32_t readPriority(const Json::Value& element) {
    const Json::Value& priority = element["priority"];
    if (priority.isInt()) {
        return static_cast<std::uint32_t>(priority.asInt());
    }
    return 1;
}

// A "variables" object is usable only with a string "description" and an
// array "values".
bool isWellFormedVariables(const Json::Value& variables) {
    return variables["description"].isString() && variables["values"].isArray();
}

// Reads the condition objects of "values" into condition. Elements of the
// wrong shape are skipped; a mark given twice fails.
bool readConditionValues(const Json::Value& values, ProfileCondition& condition) {
    for (const Json::Value& element : values) {
        if (!element.isObject() || !element["mark"].isString() || !element["value"].isString()) {
            continue;
        }
        if (!condition.setCondition(element["mark"].asString(), element["value"].asString(), readPriority(element))) {
            return false;
        }
    }
    return true;
}

// Numbers, booleans and null take the JSON library's text form; arrays and
// objects have none, so such a destination is left out.
bool destinationText(const Json::Value& value, std::string& text) {
    if (value.isArray() || value.isObject()) {
        return false;
    }
    text = value.asString();
    return true;
}

}  // namespace

bool Profile::load(KestroAgiImpl& session, const char* path) {
    if (path == nullptr) {
        return false;
    }
    std::ifstream stream(path);
    if (!stream.is_open()) {
        session.verbose("profile file %s not exists", path);
        return false;
    }
    Json::Value root;
    if (!JsonText::parse(stream, root, false)) {
        session.verbose("failure on load json configuration from profile file %s", path);
        return false;
    }
    if (!root.isObject() || !root.isMember("profile")) {
        session.verbose("no profile in configuration file %s", path);
        return true;
    }
    const Json::Value& profile = root["profile"];
    if (!profile.isObject() || !profile["route"].isArray()) {
        session.verbose("no route or route is not array in configuration profile file %s", path);
        return false;
    }
    if (!loadRoute(session, profile["route"])) {
        session.verbose("failure on parse route profile in configuration profile file %s", path);
        return false;
    }
    session.verbose("configuration profile route is loaded  from file %s", path);
    if (!profile.isMember("audio")) {
        return true;
    }
    if (!profile["audio"].isArray()) {
        session.verbose("no audio is not array in configuration profile file %s", path);
        return false;
    }
    if (!loadAudio(session, profile["audio"])) {
        session.verbose("failure on parse audio profile in configuration profile file %s", path);
        return false;
    }
    session.verbose("configuration profile audio is loaded  from file %s", path);
    return true;
}

bool Profile::loadRoute(KestroAgiImpl& /*session*/, Json::Value route) {
    if (!route.isArray()) {
        return false;
    }
    for (const Json::Value& element : route) {
        if (!element.isObject() || !element["destinations"].isObject()) {
            continue;
        }
        auto entry = std::make_unique<ProfileDestination>();
        const Json::Value& destinations = element["destinations"];
        for (const std::string& name : destinations.getMemberNames()) {
            std::string text;
            if (destinationText(destinations[name], text)) {
                entry->setDestination(name, text);
            }
        }
        // The entry takes effect before its condition is read: a fault in
        // "variables" leaves it loaded with the conditions read so far.
        ProfileDestination& added = *entry;
        routes.push_back(std::move(entry));

        const Json::Value& variables = element["variables"];
        if (!variables.isObject()) {
            continue;
        }
        if (!isWellFormedVariables(variables)) {
            return false;
        }
        added.getCondition().setDescription(variables["description"].asString());
        if (!readConditionValues(variables["values"], added.getCondition())) {
            return false;
        }
    }
    return true;
}

bool Profile::loadAudio(KestroAgiImpl& /*session*/, Json::Value audio) {
    if (!audio.isArray()) {
        return false;
    }
    for (const Json::Value& element : audio) {
        if (!element.isObject()) {
            continue;
        }
        const Json::Value& variables = element["variables"];
        if (!element["dir"].isString() || !variables.isObject() || !isWellFormedVariables(variables)) {
            return false;
        }
        auto entry = std::make_unique<ProfileAudio>();
        entry->setDir(element["dir"].asString());
        entry->getCondition().setDescription(variables["description"].asString());
        if (!readConditionValues(variables["values"], entry->getCondition())) {
            return false;
        }
        audios.push_back(std::move(entry));
    }
    return true;
}

const char* Profile::getDestination(const std::map<std::string, std::string>& marks, std::string name) const {
    for (const auto& route : routes) {
        if (!route) {
            continue;
        }
        if (const char* destination = route->getDestination(name, marks)) {
            return destination;
        }
    }
    return nullptr;
}

const char* Profile::getAudioDir(const std::map<std::string, std::string>& marks) const {
    for (const auto& audio : audios) {
        if (audio && audio->match(marks)) {
            return audio->getDir().c_str();
        }
    }
    return nullptr;
}

}  // namespace tarvik
