#include "runner/ModuleIvr.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "agi/KestroAgi.h"
#include "agi/KestroAgiException.h"
#include "emulator/KestroAgiEmulator.h"
#include "runner/CallerHandBack.h"
#include "runner/DebuggerTools.h"
#include "runner/ProgramHelp.h"
#include "util/BoundedFormat.h"

namespace tarvik {

namespace {

const char* orEmpty(const char* text) { return text == nullptr ? "" : text; }

// Long options without a short form (the short option string stays "evr:").
// Every one of the service's options takes a value and goes to the service.
enum ServiceOption { kFastAgi = 256, kServiceOption };
// The configuration check's options.
enum CheckOption { kCheck = 512, kOffline };

void printToStandardError(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

ModuleIvr::ModuleIvr() = default;

ModuleIvr::~ModuleIvr() {
    // The module outlives the runner and may still log while it is torn
    // down: never leave the facade pointing at a destroyed sink.
    if (DebuggerTools::getImpl() == this) DebuggerTools::setImpl(nullptr);
}

void ModuleIvr::usage(const char* version) {
    printToStandardError(formatBounded("            Tarvik Kestro AGI %s (cli)\n", orEmpty(version)));
    printToStandardError("            Custom Application to Asterisk Integrations\n");
    printToStandardError("            \tmode addon orvel\n");
}

void ModuleIvr::notice(const char* text) {
    if (text == nullptr || !session) return;
    session->verbose("%s", text);
}

// Last words of a failed run; the session itself may be what failed, so a
// second failure while reporting must not escape.
void ModuleIvr::reportFailure(const char* text) {
    if (!session) {
        printToStandardError(formatBounded("%s\n", orEmpty(text)));
        return;
    }
    try {
        session->verbose("%s", orEmpty(text));
    } catch (...) {
    }
}

int ModuleIvr::execute(int argc, char** argv, IModuleIvr& module) {
    static const option longOptions[] = {
        {"emulator", no_argument, nullptr, 'e'},
        {"version", no_argument, nullptr, 'v'},
        {"robot", required_argument, nullptr, 'r'},
        {"fastagi", required_argument, nullptr, kFastAgi},
        {"max-calls", required_argument, nullptr, kServiceOption},
        {"allow", required_argument, nullptr, kServiceOption},
        {"metrics", required_argument, nullptr, kServiceOption},
        {"metrics-allow", required_argument, nullptr, kServiceOption},
        {"calls-per-process", required_argument, nullptr, kServiceOption},
        {"spare-processes", required_argument, nullptr, kServiceOption},
        {"idle-timeout", required_argument, nullptr, kServiceOption},
        {"configs", required_argument, nullptr, kServiceOption},
        {"help", no_argument, nullptr, 'h'},
        {"check", required_argument, nullptr, kCheck},
        {"offline", no_argument, nullptr, kOffline},
        {nullptr, 0, nullptr, 0},
    };

    bool emulator = false;
    std::string robot;
    bool haveRobot = false;
    bool fastAgi = false;
    std::string checkPath;
    bool check = false;
    bool offline = false;

    // Start a fresh scan (the runner may be used more than once per process
    // in tests) and keep getopt's own messages off: ours is the only one.
    optind = 0;
    opterr = 0;
    int option;
    int longIndex = -1;
    while ((option = getopt_long(argc, argv, "evhr:", longOptions, &longIndex)) != -1) {
        switch (option) {
            case 'r':
                robot = optarg;
                haveRobot = true;
                break;
            case 'e':
                emulator = true;
                break;
            case 'v':
                usage(kVersion);
                return 0;
            case 'h':
                std::fputs(ProgramHelp::text(argc > 0 ? argv[0] : "").c_str(), stdout);
                std::fflush(stdout);
                return 0;
            case kCheck:
                checkPath = optarg;
                check = true;
                break;
            case kOffline:
                offline = true;
                break;
            case kFastAgi:
            case kServiceOption: {
                fastAgi = fastAgi || option == kFastAgi;
                const char* name = longOptions[longIndex].name;
                if (service == nullptr) {
                    printToStandardError(formatBounded("This program has no FastAGI service: --%s\n", name));
                    return 1;
                }
                if (!service->setOption(name, optarg)) {
                    printToStandardError(formatBounded("Invalid value for --%s: %s\n", name, optarg));
                    return 1;
                }
                break;
            }
            default: {
                // An unknown long option has no option character, nor has a
                // long-only option missing its argument.
                char offending = optopt > 0 && optopt < 128 ? static_cast<char>(optopt) : '?';
                printToStandardError(formatBounded("Unknown option: `%c'\n", offending));
                return 1;
            }
        }
    }
    if (check) return runConfigurationCheck(checkPath, offline);
    if (fastAgi) return service->run(*this, module);

    std::vector<std::string> positional(argv + optind, argv + argc);
    // A call from Asterisk is handed back the moment its last command is
    // answered; the emulator has no one waiting.
    CallerHandBack handBack;
    if (!emulator) handBack.detach();
    int status = serve(
        module, emulator,
        [&]() -> std::unique_ptr<KestroAgiImpl> {
            if (!emulator) return std::make_unique<KestroAgi>();
            auto emulated = std::make_unique<KestroAgiEmulator>();
            if (haveRobot) emulated->loadRobot(robot.c_str());
            return emulated;
        },
        [&](KestroAgiImpl&) { return positional; }, ConfigurationGate());
    robot.clear();
    handBack.release(status);
    module.onCallHandedBack();
    return status;
}

void ModuleIvr::setConfigurationCheck(ConfigurationChecker checker) { configurationChecker = std::move(checker); }

int ModuleIvr::runConfigurationCheck(const std::string& path, bool offline) {
    if (!configurationChecker) {
        printToStandardError("This program has no configuration check\n");
        return 1;
    }
    return configurationChecker(path, offline);
}

void ModuleIvr::setService(ProgramService* programService) { service = programService; }

// The end of a call in a process that serves more: nothing of it may reach
// the next one. The module (marks, profile, configuration, customer) goes
// with its unique_ptr; the session and the debug sink are reset here.
void ModuleIvr::endCall() {
    session.reset();
    if (DebuggerTools::getImpl() == this) DebuggerTools::setImpl(nullptr);
}

int ModuleIvr::serveSession(IModuleIvr& module, const SessionFactory& createSession,
                            const ArgumentSource& positionalArguments, const ConfigurationGate& gate) {
    return serve(module, false, createSession, positionalArguments, gate);
}

// Creates the session, routes the positional arguments and runs the module;
// an exception from any of it ends the run with status 1.
int ModuleIvr::serve(IModuleIvr& module, bool emulator, const SessionFactory& createSession,
                     const ArgumentSource& positionalArguments, const ConfigurationGate& gate) {
    try {
        session = createSession();
        std::vector<std::string> positional = positionalArguments(*session);

        const char* destination = nullptr;
        const char* configuration = nullptr;
        std::size_t firstExtra = positional.size();
        if (!positional.empty()) {
            if (std::strstr(positional[0].c_str(), ".json") != nullptr) {
                destination = "";
                configuration = positional[0].c_str();
                firstExtra = 1;
            } else {
                destination = positional[0].c_str();
                if (positional.size() > 1) configuration = positional[1].c_str();
                firstExtra = 2;
            }
        }
        for (std::size_t index = firstExtra; index < positional.size(); ++index) {
            module.onReadArgument(positional[index].c_str());
        }

        if (destination == nullptr) {
            session->verbose("%s", "Agi needs a destination or a configuration file (.json) to start");
            session.reset();
            return 1;
        }
        return runModule(module, emulator, destination, configuration, gate);
    } catch (const std::exception& failure) {
        reportFailure(failure.what());
    } catch (...) {
        reportFailure("Agi stopped by an unknown failure");
    }
    session.reset();
    return 1;
}

// The guarded run: any exception leaving it is handled by execute.
int ModuleIvr::runModule(IModuleIvr& module, bool emulator, const char* destination, const char* configuration,
                         const ConfigurationGate& gate) {
    session->verbose("Agi is loaded in mode %s", emulator ? "emulator" : "normal");
    DebuggerTools::setImpl(this);

    if (destination != nullptr) {
        session->verbose("Agi starting to destination %s", destination);
        module.setDestination(*session, destination);
    }
    if (configuration != nullptr) {
        session->verbose("Agi starting configuration with file %s", configuration);
        std::string path = configuration;
        if (!gate || gate(path)) module.loadConfiguration(*session, path.c_str());
    }
    session->verbose("Player is a native ivr module by %s", orEmpty(module.getName()));
    module.play(*session);
    session->verbose("Player finished by %s", orEmpty(module.getName()));

    session.reset();
    return 0;
}

}  // namespace tarvik
