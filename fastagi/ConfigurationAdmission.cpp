#include "fastagi/ConfigurationAdmission.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include <json/json.h>

#include "fastagi/FastAgiNetwork.h"
#include "configuration/ConfigurationKeyTable.h"
#include "profile/Profile.h"
#include "util/JsonMembers.h"
#include "util/JsonFile.h"

namespace tarvik {

namespace {

// The file the path leads to, every link followed; empty when none.
std::string resolved(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool namesParent(const std::string& path) {
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        if (path.compare(start, slash == std::string::npos ? std::string::npos : slash - start, "..") == 0) return true;
        if (slash == std::string::npos) return false;
        start = slash + 1;
    }
}

bool isInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// The profile's route destinations, as the exits they replace are sent:
// what the call's own profile reads.
void collectReplacements(const Json::Value& root, std::set<std::string>& found) {
    Profile profile;
    profile.loadRouteOf(root);
    for (const auto& route : profile.getRoutes()) {
        for (const auto& destination : route->getDestinations()) found.insert(destination.second);
    }
}

}  // namespace

ConfigurationAdmission::ConfigurationAdmission(const std::string& given) : confined(!given.empty()) {
    if (!confined) return;
    folder = resolved(given);
    // A folder that is gone admits nothing rather than everything.
    if (folder.empty()) folder = "/nonexistent-configs-folder";
}

bool ConfigurationAdmission::admit(std::string& path, const sockaddr* peer, std::string& reason) {
    profileReplacements.clear();
    if (confined && !confine(path, reason)) return false;
    return readFile(path, peer, reason);
}

bool ConfigurationAdmission::confine(std::string& path, std::string& reason) const {
    if (namesParent(path)) {
        reason = "the name holds \"..\"";
        return false;
    }
    const std::string candidate = !path.empty() && path[0] == '/' ? path : folder + "/" + path;
    const std::string real = resolved(candidate);
    if (real.empty()) {
        // Nothing there: it loads as a missing file does, if it is ours to name.
        if (!isInside(candidate, folder)) {
            reason = "outside --configs";
            return false;
        }
        path = candidate;
        return true;
    }
    if (!isInside(real, folder)) {
        reason = isInside(candidate, folder) ? "a link out of --configs" : "outside --configs";
        return false;
    }
    path = real;  // what was checked is what is loaded
    return true;
}

bool ConfigurationAdmission::readFile(const std::string& path, const sockaddr* peer, std::string& reason) {
    JsonFile::Outcome outcome;
    std::shared_ptr<const Json::Value> parsed = JsonFile::load(path, outcome);
    // A file that cannot be read or parsed is the module's to report.
    if (!parsed) return true;
    const Json::Value& root = *parsed;
    collectReplacements(root, profileReplacements);
    const Json::Value* peers = JsonMembers::find(root, configurationKeyName(ConfigurationKeyId::AllowPeers));
    if (peers == nullptr) return true;
    std::vector<FastAgiNetwork> networks;
    bool usable = peers->isArray() && !peers->empty();
    for (Json::ArrayIndex index = 0; usable && index < peers->size(); ++index) {
        FastAgiNetwork network;
        usable = (*peers)[index].isString() && network.parse((*peers)[index].asString());
        networks.push_back(network);
    }
    if (!usable) {
        reason = "\"allowPeers\" is not a list of networks";
        return false;
    }
    if (peer == nullptr || !FastAgiNetwork::admits(networks, peer)) {
        reason = "the peer is not in its \"allowPeers\"";
        return false;
    }
    return true;
}

}  // namespace tarvik
