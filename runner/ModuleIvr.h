#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agi/KestroAgiImpl.h"
#include "runner/DebuggerToolsImpl.h"
#include "runner/IModuleIvr.h"
#include "runner/ProgramService.h"

namespace tarvik {

// The program runner: parses the command line, creates the call's one
// session (real AGI or emulated), routes the arguments to the module, runs
// it and turns an escaping exception into exit status 1. While a session
// exists it is also the debug sink: DebuggerTools messages become verbose
// lines of that session.
class ModuleIvr : public DebuggerToolsImpl {
public:
    static constexpr const char* kVersion = "2.77.6";

    ModuleIvr();
    virtual ~ModuleIvr();

    ModuleIvr(const ModuleIvr&) = delete;
    ModuleIvr& operator=(const ModuleIvr&) = delete;

    // The whole run; returns the exit status (0 or 1).
    int execute(int argc, char** argv, IModuleIvr& module);

    // Prints the version banner to standard error.
    void usage(const char* version);

    // Forwards `text` to the current session's verbose log, if any.
    void notice(const char* text) override;

    // --check CONFIG.json [--offline] [--as-user NAME]: checks the file the
    // way the program's module loads it and returns the exit status;
    // `callsUser` is NAME, empty when not given. The runner knows no
    // module's configuration: the program's main supplies this.
    using ConfigurationChecker =
        std::function<int(const std::string& path, bool offline, const std::string& callsUser)>;
    void setConfigurationCheck(ConfigurationChecker checker);

    // --flush-spool CONFIG.json and the other spool commands (the command's
    // long name, the configuration, an address for those that take one):
    // returns the exit status. Supplied by the program's main, like the
    // check: the runner knows no back office.
    using SpoolCommands = std::function<int(const std::string& command, const std::string& path,
                                            const std::vector<std::string>& arguments)>;
    void setSpoolCommands(SpoolCommands commands);

    // --explain-route CONFIG.json EXIT [mark::KEY:VALUE ...]: `arguments`
    // are EXIT and the marks. Supplied by the program's main, like the check.
    using RouteExplainer = std::function<int(const std::string& path, const std::vector<std::string>& arguments)>;
    void setRouteExplanation(RouteExplainer explainer);

    // The FastAGI service (--fastagi and its options); without one those
    // options are refused. Not owned.
    void setService(ProgramService* service);

    using SessionFactory = std::function<std::unique_ptr<KestroAgiImpl>()>;
    using ArgumentSource = std::function<std::vector<std::string>(KestroAgiImpl&)>;
    // Decides over the configuration file a call names; it may replace the
    // path with the one to load. False: the file is not loaded, and the call
    // goes on as it does when the file cannot be read.
    using ConfigurationGate = std::function<bool(std::string& path)>;

    // One call of a service on a session it makes (a network connection's):
    // `positionalArguments` stand for the command line's, and the run is the
    // same as a local AGI's. An empty gate admits every file.
    int serveSession(IModuleIvr& module, const SessionFactory& createSession, const ArgumentSource& positionalArguments,
                     const ConfigurationGate& gate);

    // The end of a call in a process that serves more: nothing of it may
    // reach the next one.
    void endCall();

private:
    int serve(IModuleIvr& module, bool emulator, const SessionFactory& createSession,
              const ArgumentSource& positionalArguments, const ConfigurationGate& gate);
    int runModule(IModuleIvr& module, bool emulator, const char* destination, const char* configuration,
                  const ConfigurationGate& gate);
    void reportFailure(const char* text);
    int runConfigurationCheck(const std::string& path, bool offline, const std::string& callsUser);
    int runSpoolCommand(const std::string& command, const std::string& path,
                        const std::vector<std::string>& arguments);
    int runRouteExplanation(const std::string& path, const std::vector<std::string>& arguments);

    ConfigurationChecker configurationChecker;
    SpoolCommands spoolCommands;
    RouteExplainer routeExplainer;
    ProgramService* service = nullptr;
    std::unique_ptr<KestroAgiImpl> session;
};

}  // namespace tarvik
