#pragma once

#include <functional>
#include <memory>
#include <string>

#include "fastagi/ConfigurationAdmission.h"
#include "fastagi/FastAgiCallRecord.h"
#include "fastagi/FastAgiOptions.h"
#include "runner/IModuleIvr.h"
#include "runner/ModuleIvr.h"
#include "runner/ProgramService.h"

namespace tarvik {

// The program's FastAGI service as the runner sees it: it takes the
// service's options from the command line, then runs a FastAgiServer whose
// calls are played by the runner on a session over the call's socket.
class FastAgiMode : public ProgramService {
public:
    using ModuleFactory = std::function<std::unique_ptr<IModuleIvr>()>;

    // `initialiseLibraries`: set-up of libraries the module uses (libcurl),
    // run once before the first call. `moduleFactory`: a fresh module per
    // call, so a process can serve many calls (--calls-per-process);
    // without one every call gets a process of its own.
    FastAgiMode(std::function<void()> initialiseLibraries, ModuleFactory moduleFactory);

    bool setOption(const std::string& name, const std::string& value) override;
    int run(ModuleIvr& runner, IModuleIvr& module) override;

    // One FastAGI call on a connected socket: the session reads the
    // start-up block from it, the AGI() arguments (agi_arg_1, ...) stand for
    // the positional arguments, and the end of the connection hands the
    // call back. The configuration file the call names must pass
    // `admission` (null: any file does); a refusal is logged as one line.
    static int serveConnection(ModuleIvr& runner, int socketFd, FastAgiCallRecord& record, IModuleIvr& module,
                               ConfigurationAdmission* admission = nullptr);

    const FastAgiOptions& getOptions() const { return options; }

private:
    FastAgiOptions options;
    ModuleFactory moduleFactory;
};

}  // namespace tarvik
