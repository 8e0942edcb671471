#include "api/KestroAgiRESTFul.h"
#include "check/ConfigurationCheck.h"
#include "ivr/PromptCatalog.h"
#include "runner/ModuleIvr.h"
#include "sites/pelion/Pelion.h"

int main(int argc, char** argv) {
    tarvik::Pelion module;
    tarvik::ModuleIvr runner;
    // The FastAGI service sets libcurl up once, before it forks its calls.
    runner.setLibraryInitialiser(&tarvik::KestroAgiRESTFul::initialiseLibrary);
    runner.setConfigurationCheck([&module](const std::string& path, bool offline) {
        // The first question is asked plainly and the limit has no prompt:
        // the other program's follow-up prompts are never played here.
        return tarvik::ConfigurationCheck::runForProgram(
            module, path, offline,
            tarvik::PromptCatalog::without({"Orvel-u4-54", "Orvel-u4-55", "Orvel-u4-56", "Orvel-u4-57"}));
    });
    return runner.execute(argc, argv, module);
}
