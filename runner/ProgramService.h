#pragma once

#include <string>

namespace tarvik {

class IModuleIvr;
class ModuleIvr;

// A long-running way of serving calls (the FastAGI service) that the
// program's main adds to the runner. The runner reads the command line and
// hands the service its options; the service itself lives above the module
// base, so the runner never links it.
class ProgramService {
public:
    virtual ~ProgramService() = default;

    // One of the service's options ("max-calls", "4"); false when the value
    // cannot be used.
    virtual bool setOption(const std::string& name, const std::string& value) = 0;
    // Serves calls until told to stop; returns the exit status.
    virtual int run(ModuleIvr& runner, IModuleIvr& module) = 0;
};

}  // namespace tarvik
