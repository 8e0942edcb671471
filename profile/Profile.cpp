#include "profile/Profile.h"

#include <json/json.h>

#include <exception>

#include "agi/KestroAgiImpl.h"
#include "configuration/ConfigurationKeyTable.h"
#include "util/JsonFile.h"

namespace tarvik {

namespace {

using Id = ConfigurationKeyId;

constexpr const char* key(Id id) { return configurationKeyName(id); }

// The keys of a condition ("variables"), the same for route and audio entries.
struct ConditionKeys {
    Id description;
    Id values;
    Id mark;
    Id value;
    Id priority;
};
constexpr ConditionKeys kRouteCondition{Id::RouteDescription, Id::RouteValues, Id::RouteMark, Id::RouteValue,
                                        Id::RoutePriority};
constexpr ConditionKeys kAudioCondition{Id::AudioDescription, Id::AudioValues, Id::AudioMark, Id::AudioValue,
                                        Id::AudioPriority};

// A condition object's "priority" counts only as a JSON number with an
// integral value within the signed 32-bit range; anything else gives the
// default.
std::uint32_t readPriority(const Json::Value& element, const ConditionKeys& keys) {
    const Json::Value& priority = element[key(keys.priority)];
    if (priority.isInt()) {
        return static_cast<std::uint32_t>(priority.asInt());
    }
    return static_cast<std::uint32_t>(configurationKey(keys.priority).defaultNumber());
}

// A "variables" object is usable only with a string "description" and an
// array "values".
bool isWellFormedVariables(const Json::Value& variables, const ConditionKeys& keys) {
    return variables[key(keys.description)].isString() && variables[key(keys.values)].isArray();
}

// Reads the description and the condition objects of "values" into
// condition. Elements of the wrong shape are skipped; a mark given twice
// fails.
bool readCondition(const Json::Value& variables, const ConditionKeys& keys, ProfileCondition& condition) {
    condition.setDescription(variables[key(keys.description)].asString());
    for (const Json::Value& element : variables[key(keys.values)]) {
        if (!element.isObject() || !element[key(keys.mark)].isString() || !element[key(keys.value)].isString()) {
            continue;
        }
        const std::string mark = element[key(keys.mark)].asString();
        if (!condition.setCondition(mark, element[key(keys.value)].asString(), readPriority(element, keys))) {
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
    JsonFile::Outcome outcome;
    std::shared_ptr<const Json::Value> parsed = JsonFile::load(path, outcome);
    if (outcome == JsonFile::Outcome::unreadable) {
        session.verbose("profile file %s not exists", path);
        return false;
    }
    if (!parsed) {
        session.verbose("failure on load json configuration from profile file %s", path);
        return false;
    }
    const Json::Value& root = *parsed;
    if (!root.isObject() || !root.isMember(key(Id::Profile))) {
        session.verbose("no profile in configuration file %s", path);
        return true;
    }
    const Json::Value& profile = root[key(Id::Profile)];
    if (!profile.isObject() || !profile[key(Id::ProfileRoute)].isArray()) {
        session.verbose("no route or route is not array in configuration profile file %s", path);
        return false;
    }
    if (!loadRoute(profile[key(Id::ProfileRoute)])) {
        session.verbose("failure on parse route profile in configuration profile file %s", path);
        return false;
    }
    session.verbose("configuration profile route is loaded  from file %s", path);
    if (!profile.isMember(key(Id::ProfileAudio))) {
        return true;
    }
    if (!profile[key(Id::ProfileAudio)].isArray()) {
        session.verbose("no audio is not array in configuration profile file %s", path);
        return false;
    }
    if (!loadAudio(profile[key(Id::ProfileAudio)])) {
        session.verbose("failure on parse audio profile in configuration profile file %s", path);
        return false;
    }
    session.verbose("configuration profile audio is loaded  from file %s", path);
    return true;
}

bool Profile::loadRouteOf(const Json::Value& root) {
    if (!root.isObject() || !root.isMember(key(Id::Profile))) return true;
    const Json::Value& profile = root[key(Id::Profile)];
    return profile.isObject() && loadRoute(profile[key(Id::ProfileRoute)]);
}

bool Profile::loadRoute(const Json::Value& route) {
    if (!route.isArray()) {
        return false;
    }
    for (const Json::Value& element : route) {
        if (!element.isObject() || !element[key(Id::RouteDestinations)].isObject()) {
            continue;
        }
        auto entry = std::make_unique<ProfileDestination>();
        const Json::Value& destinations = element[key(Id::RouteDestinations)];
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

        const Json::Value& variables = element[key(Id::RouteVariables)];
        if (!variables.isObject()) {
            continue;
        }
        if (!isWellFormedVariables(variables, kRouteCondition) ||
            !readCondition(variables, kRouteCondition, added.getCondition())) {
            return false;
        }
    }
    return true;
}

bool Profile::loadAudio(const Json::Value& audio) {
    if (!audio.isArray()) {
        return false;
    }
    for (const Json::Value& element : audio) {
        if (!element.isObject()) {
            continue;
        }
        const Json::Value& dir = element[key(Id::AudioDir)];
        const Json::Value& variables = element[key(Id::AudioVariables)];
        if (!dir.isString() || !variables.isObject() || !isWellFormedVariables(variables, kAudioCondition)) {
            return false;
        }
        auto entry = std::make_unique<ProfileAudio>();
        entry->setDir(dir.asString());
        if (!readCondition(variables, kAudioCondition, entry->getCondition())) {
            return false;
        }
        audios.push_back(std::move(entry));
    }
    return true;
}

const char* Profile::getDestination(const std::map<std::string, std::string>& marks, std::string name,
                                    int* entry) const {
    if (entry != nullptr) *entry = -1;
    const ProfileDestination* chosen = chooseRoute(marks, name);
    if (chosen == nullptr) return nullptr;
    if (entry != nullptr) {
        for (std::size_t index = 0; index < routes.size(); ++index) {
            if (routes[index].get() == chosen) *entry = static_cast<int>(index);
        }
    }
    return chosen->getDestination(name);
}

const ProfileDestination* Profile::chooseRoute(const std::map<std::string, std::string>& marks,
                                               const std::string& name) const {
    for (const auto& route : routes) {
        if (route && route->getDestination(name, marks) != nullptr) return route.get();
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
