#include "api/KestroAgiRESTFul.h"
#include "check/ConfigurationCheck.h"
#include "runner/ModuleIvr.h"
#include "sites/pelion/Pelion.h"

int main(int argc, char** argv) {
    tarvik::Pelion module;
    tarvik::ModuleIvr runner;
    // The FastAGI service sets libcurl up once, before it forks its calls.
    runner.setLibraryInitialiser(&tarvik::KestroAgiRESTFul::initialiseLibrary);
    runner.setConfigurationCheck([&module](const std::string& path, bool offline) {
        return tarvik::ConfigurationCheck::runForProgram(module, path, offline);
    });
    return runner.execute(argc, argv, module);
}
