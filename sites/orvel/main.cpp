#include <memory>

#include "api/KestroAgiRESTFul.h"
#include "runner/ModuleIvr.h"
#include "sites/orvel/OrvelV3.h"

int main(int argc, char** argv) {
    tarvik::OrvelV3 module;
    tarvik::ModuleIvr runner;
    // The FastAGI service sets libcurl up once, before it forks its calls.
    runner.setLibraryInitialiser(&tarvik::KestroAgiRESTFul::initialiseLibrary);
    // Pooled FastAGI call processes make a fresh module for every call.
    runner.setModuleFactory([] { return std::make_unique<tarvik::OrvelV3>(); });
    return runner.execute(argc, argv, module);
}
