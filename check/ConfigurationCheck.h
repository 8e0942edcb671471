#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarvik {

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
    };

    // `module` must be fresh: the check loads the configuration into it.
    ConfigurationCheck(Plugin& module, Options options);

    // The problems of the file at `path`, one text each, in the order found.
    std::vector<std::string> problems(const std::string& path);

    // Prints every problem as "PATH: text" and a closing summary line on
    // `out`; returns the exit status (0 when nothing is wrong, else 1).
    int run(const std::string& path, std::ostream& out);

    // The programs' --check: the default audio directory, standard output.
    static int runForProgram(Plugin& module, const std::string& path, bool offline,
                             std::vector<std::string> prompts);

private:
    void checkLoadedModule(const std::string& path, std::vector<std::string>& found);
    void checkReadiness(std::vector<std::string>& found);
    static void checkSpoolDirectory(const std::string& directory, std::vector<std::string>& found);

    Plugin& module;
    Options options;
};

}  // namespace tarvik
