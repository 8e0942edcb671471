#include "check/RouteExplanation.h"

#include <json/json.h>

#include "agi/RecordingSession.h"
#include "check/ConfigurationFile.h"
#include "configuration/ConfigurationKeyTable.h"
#include "ivr/IvrDestination.h"
#include "ivr/Plugin.h"
#include "profile/Profile.h"

namespace tarvik {

namespace {

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string shownMarks(const std::map<std::string, std::string>& marks) {
    std::string text;
    for (const auto& [key, value] : marks) text += (text.empty() ? "" : ", ") + key + "=" + quoted(value);
    return text.empty() ? "none" : text;
}

// Why one required mark fails: the value wanted and what the call has.
std::string unmetText(const ProfileConditionVariable& variable, const std::map<std::string, std::string>& marks) {
    const auto found = marks.find(variable.getMark());
    const std::string has = found == marks.end() ? "the call has no such mark" : "the call has " + quoted(found->second);
    return "mark " + variable.getMark() + " must be " + quoted(variable.getValue()) + ", " + has;
}

}  // namespace

int RouteExplanation::run(const std::string& path, const std::vector<std::string>& arguments, std::ostream& out,
                          std::ostream& errors) {
    if (arguments.empty()) {
        errors << "--explain-route needs an exit after the configuration (50001..50031 or a forwarding text)\n";
        return 1;
    }
    const std::string& exit = arguments.front();

    // The start of every call gives it this mark; the arguments come after
    // and may replace it, as a back-office mark would.
    Marks marks = {{Plugin::kStartMarkKey, Plugin::kStartMarkValue}};
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        std::string key;
        std::string value;
        if (!Plugin::parseMarkArgument(arguments[index].c_str(), key, value)) {
            errors << arguments[index] << ": not a mark (mark::KEY:VALUE)\n";
            return 1;
        }
        marks[key] = value;
    }

    Json::Value root;
    std::string problem;
    if (!ConfigurationFile::load(path, root, problem)) {
        errors << path << ": " << problem << "\n";
        return 1;
    }
    if (!root.isObject() || !root.isMember(configurationKeyName(ConfigurationKeyId::Profile))) {
        errors << path << ": no routing profile (key \"profile\"): every exit keeps its own key\n";
        return 1;
    }
    // Loaded by the call's own code, so a profile a call cannot use in full
    // is refused here too, with the line the call would log.
    Profile profile;
    RecordingSession session(RecordingSession::Channel::none);
    if (!profile.load(session, path.c_str())) {
        std::string logged;
        for (const std::string& line : session.takeVerboseLines()) logged = line;
        errors << path << ": the routing profile cannot be used in full: a call would log " << quoted(logged) << "\n";
        return 1;
    }
    if (!isKnownExit(profile, exit)) {
        errors << "unknown exit " << quoted(exit)
               << ": neither a destination key (50001..50031) nor a name the profile's destinations list\n";
        return 1;
    }
    explain(profile, exit, marks, out);
    return 0;
}

// A destination key of the call flow, or a forwarding text some entry
// names (a contract's forwarding reaches the profile as such a name).
bool RouteExplanation::isKnownExit(const Profile& profile, const std::string& exit) {
    for (int each = 0; each <= static_cast<int>(IvrDestination::BlockedInvoiceSent); ++each) {
        if (destinationKey(static_cast<IvrDestination>(each)) == exit) return true;
    }
    for (const auto& route : profile.getRoutes()) {
        if (route && route->getDestination(exit) != nullptr) return true;
    }
    return false;
}

void RouteExplanation::explain(const Profile& profile, const std::string& exit, const Marks& marks,
                               std::ostream& out) {
    out << "exit " << exit << ", marks: " << shownMarks(marks) << "\n";
    const ProfileDestination* chosen = profile.chooseRoute(marks, exit);
    std::size_t chosenNumber = 0;
    std::size_t number = 0;
    for (const auto& route : profile.getRoutes()) {
        if (!route) continue;
        ++number;
        if (route.get() == chosen) chosenNumber = number;
        const ProfileCondition& condition = route->getCondition();
        out << "route entry " << number;
        if (!condition.getDescription().empty()) out << " (" << condition.getDescription() << ")";
        out << ": ";
        const std::vector<const ProfileConditionVariable*> unmet = condition.unmet(marks);
        if (unmet.empty()) {
            out << (condition.getVariables().empty() ? "condition holds (it requires no mark)" : "condition holds");
        } else {
            out << "condition does not hold: ";
            for (std::size_t index = 0; index < unmet.size(); ++index) {
                out << (index == 0 ? "" : "; ") << unmetText(*unmet[index], marks);
            }
        }
        const char* replacement = route->getDestination(exit);
        if (replacement != nullptr) {
            out << "; lists " << exit << " -> " << replacement << "\n";
        } else {
            out << "; does not list " << exit << "\n";
        }
    }
    if (chosen == nullptr) {
        out << "chosen: none (no entry whose condition holds lists " << exit << "): the exit keeps its key\n";
    } else {
        out << "chosen: route entry " << chosenNumber << "\n";
    }
    // The call's own lookup, so the two cannot disagree.
    const char* extension = profile.getDestination(marks, exit);
    out << "extension: " << (extension != nullptr ? extension : exit) << "\n";
}

}  // namespace tarvik
