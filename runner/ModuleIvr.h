#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agi/KestroAgiImpl.h"
#include "runner/DebuggerToolsImpl.h"
#include "runner/FastAgiCallRecord.h"
#include "runner/FastAgiOptions.h"
#include "runner/IModuleIvr.h"

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

    // Set-up of libraries the module uses (libcurl...), run once by the
    // FastAGI service before it serves calls. The runner does not link
    // those libraries itself: the program's main supplies this.
    void setLibraryInitialiser(std::function<void()> initialiser);

    // --check CONFIG.json [--offline]: checks the file the way the program's
    // module loads it and returns the exit status. The runner knows no
    // module's configuration: the program's main supplies this.
    using ConfigurationChecker = std::function<int(const std::string& path, bool offline)>;
    void setConfigurationCheck(ConfigurationChecker checker);

    // --flush-spool CONFIG.json: sends the records the configuration's
    // spool holds and returns the exit status. Supplied by the program's
    // main, like the check: the runner knows no back office.
    using SpoolFlusher = std::function<int(const std::string& path)>;
    void setSpoolFlush(SpoolFlusher flusher);

    // Makes a fresh module for each call, so the FastAGI service can serve
    // many calls per process (--calls-per-process); without it every call
    // gets a process of its own.
    using ModuleFactory = std::function<std::unique_ptr<IModuleIvr>()>;
    void setModuleFactory(ModuleFactory factory);

    // One FastAGI call on a connected socket: the session reads the
    // start-up block from it, the AGI() arguments (agi_arg_1, ...) stand for
    // the positional arguments, and the run is the same as a local AGI's.
    int serveConnection(int socketFd, FastAgiCallRecord& record, IModuleIvr& module);

private:
    using SessionFactory = std::function<std::unique_ptr<KestroAgiImpl>()>;
    using ArgumentSource = std::function<std::vector<std::string>(KestroAgiImpl&)>;

    int serve(IModuleIvr& module, bool emulator, const SessionFactory& createSession,
              const ArgumentSource& positionalArguments);
    int serveFastAgi(FastAgiOptions options, IModuleIvr& module);
    int runModule(IModuleIvr& module, bool emulator, const char* destination, const char* configuration);
    void reportFailure(const char* text);
    int runConfigurationCheck(const std::string& path, bool offline);
    int runSpoolFlush(const std::string& path);

    ConfigurationChecker configurationChecker;
    SpoolFlusher spoolFlusher;
    void endCall();

    std::unique_ptr<KestroAgiImpl> session;
    std::function<void()> libraryInitialiser;
    ModuleFactory moduleFactory;
};

}  // namespace tarvik
