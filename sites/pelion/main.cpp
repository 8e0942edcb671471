#include <cstring>
#include <iostream>

#include "api/KestroAgiRESTFul.h"
#include "ivr/SpoolFlushCommand.h"
#include "runner/ModuleIvr.h"
#include "sites/pelion/Pelion.h"

int main(int argc, char** argv) {
    // Sending the spool is no call: it needs neither a session nor a module.
    if (argc == 3 && std::strcmp(argv[1], "--flush-spool") == 0) {
        return tarvik::SpoolFlushCommand::run(argv[2], std::cout, std::cerr);
    }
    tarvik::Pelion module;
    tarvik::ModuleIvr runner;
    // The FastAGI service sets libcurl up once, before it forks its calls.
    runner.setLibraryInitialiser(&tarvik::KestroAgiRESTFul::initialiseLibrary);
    return runner.execute(argc, argv, module);
}
