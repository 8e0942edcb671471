#include <iostream>
#include <memory>

#include "api/KestroAgiRESTFul.h"
#include "check/ConfigurationCheck.h"
#include "check/RouteExplanation.h"
#include "fastagi/FastAgiMode.h"
#include "ivr/PromptCatalog.h"
#include "records/SpoolCommand.h"
#include "runner/ModuleIvr.h"
#include "sites/pelion/Pelion.h"

int main(int argc, char** argv) {
    tarvik::Pelion module;
    tarvik::ModuleIvr runner;
    runner.setConfigurationCheck([&module](const std::string& path, bool offline, const std::string& callsUser) {
        // The first question is asked plainly and the limit has no prompt:
        // the other program's follow-up prompts are never played here.
        return tarvik::ConfigurationCheck::runForProgram(
            module, path, offline, callsUser,
            tarvik::PromptCatalog::without({"Orvel-u4-54", "Orvel-u4-55", "Orvel-u4-56", "Orvel-u4-57"}));
    });
    // Sending the spool is no call: it needs neither a session nor the module.
    runner.setSpoolCommands(
        [](const std::string& command, const std::string& path, const std::vector<std::string>& arguments) {
            return tarvik::SpoolCommand::run(command, path, arguments, std::cout, std::cerr);
        });
    // The routing profile is the same for both programs and needs no call.
    runner.setRouteExplanation([](const std::string& path, const std::vector<std::string>& arguments) {
        return tarvik::RouteExplanation::run(path, arguments, std::cout, std::cerr);
    });
    // The FastAGI service sets libcurl up once, before it forks its calls,
    // and its pooled call processes make a fresh module for every call.
    tarvik::FastAgiMode service(&tarvik::KestroAgiRESTFul::initialiseLibrary,
                                [] { return std::make_unique<tarvik::Pelion>(); });
    runner.setService(&service);
    return runner.execute(argc, argv, module);
}
