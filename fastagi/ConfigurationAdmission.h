#pragma once

#include <sys/socket.h>

#include <set>
#include <string>

namespace tarvik {

// Which configuration file a FastAGI call may use, so that one service can
// serve several providers. With a folder (--configs) only files inside it:
// a relative name is looked up there, and a name holding "..", a path
// outside the folder or a symbolic link leading out of it is refused. A
// configuration that lists "allowPeers" serves only peers in those
// networks. Reading the file also yields the routing profile's replacement
// extensions, the only destinations besides the exits a call's metrics name.
class ConfigurationAdmission {
public:
    // An empty folder admits any path (the peers' check still applies).
    explicit ConfigurationAdmission(const std::string& folder);

    // True: `path` is replaced by the file to load. False: `reason` says why
    // the call may not use it.
    bool admit(std::string& path, const sockaddr* peer, std::string& reason);

    // Of the last file admitted.
    const std::set<std::string>& replacements() const { return profileReplacements; }

private:
    bool confine(std::string& path, std::string& reason) const;
    bool readFile(const std::string& path, const sockaddr* peer, std::string& reason);

    std::string folder;  // resolved, without a trailing slash; empty: none
    bool confined = false;
    std::set<std::string> profileReplacements;
};

}  // namespace tarvik
