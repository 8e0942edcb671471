#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <json/json.h>

namespace tarvik {

struct BackOfficeKeys;

class Plugin;

// --check CONFIG.json: loads the configuration into the program's own
// module the way a call does and lists every problem an operator can fix
// before a caller meets it. Reads only; the file is never changed.
class ConfigurationCheck {
public:
    struct Options {
        bool offline = false;  // skip the back office's readiness request
        // Where prompts are played from unless the profile says otherwise.
        std::string defaultAudioDir;
        // The prompts the program can play; empty: every prompt of the flow.
        std::vector<std::string> prompts;
        // Where records wait unless "spoolDirectory" says otherwise; empty:
        // the programs' own default.
        std::string defaultSpoolDir;
        // The user that runs the calls (--as-user); empty: the owner of the
        // spool directory, asked about only when the check runs as root.
        std::string callsUser;
    };

    // Problems make the configuration unfit (exit status 1); warnings
    // point at a risk and leave the status alone.
    struct Findings {
        std::vector<std::string> problems;
        std::vector<std::string> warnings;
    };

    // `module` must be fresh: the check loads the configuration into it.
    ConfigurationCheck(Plugin& module, Options options);

    // The problems and warnings of the file at `path`, one text each, in
    // the order found.
    Findings findings(const std::string& path);
    std::vector<std::string> problems(const std::string& path) { return findings(path).problems; }

    // Prints every problem as "PATH: text", every warning as "PATH:
    // warning: text" and a closing summary line on `out`; returns the exit
    // status (0 when no problem was found, else 1).
    int run(const std::string& path, std::ostream& out);

    // The programs' --check: the default audio directory, standard output.
    static int runForProgram(Plugin& module, const std::string& path, bool offline, const std::string& callsUser,
                             std::vector<std::string> prompts);

private:
    void checkLoadedModule(const std::string& path, const Json::Value& root, Findings& found);
    void checkReadiness(const Json::Value& root, Findings& found);
    void checkOtherBackOffices(const BackOfficeKeys& keys, Findings& found) const;
    void checkSpoolDirectory(const Json::Value& root, Findings& found) const;
    void checkCallsUserAccess(const std::string& path, const Json::Value& root, Findings& found) const;
    std::string spoolDirectoryOf(const Json::Value& root) const;
    static void checkTlsVerification(const Json::Value& root, Findings& found);
    static void checkMetricsFile(const Json::Value& root, Findings& found);
    static void checkTokenExposure(const std::string& path, const Json::Value& root, Findings& found);

    Plugin& module;
    Options options;
};

}  // namespace tarvik
