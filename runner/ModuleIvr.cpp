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

// Long options without a short form (the short option string stays "evhr:").
// Every one of the service's options takes a value and goes to the service.
enum LongOnlyOption { kFastAgi = 256, kServiceOption };
// The configuration check's options and the spool's.
enum CheckOption { kCheck = 512, kOffline, kAsUser, kFlushSpool, kExplainRoute };

const option kLongOptions[] = {
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
    {"as-user", required_argument, nullptr, kAsUser},
    {"flush-spool", required_argument, nullptr, kFlushSpool},
    {"list-spool", required_argument, nullptr, kFlushSpool},
    {"requeue-aside", required_argument, nullptr, kFlushSpool},
    {"move-spool", required_argument, nullptr, kFlushSpool},
    {"delete-spool", required_argument, nullptr, kFlushSpool},
    {"explain-route", required_argument, nullptr, kExplainRoute},
    {nullptr, 0, nullptr, 0},
};

const char* longName(int value) {
    for (const option* each = kLongOptions; each->name != nullptr; ++each) {
        if (each->val == value) return each->name;
    }
    return "?";
}

// What an option's missing value should have been, for the error line.
const char* neededValue(int value, const std::string& typed) {
    if (value == 'r') return "a robot file";
    if (value == kCheck || value == kFlushSpool || value == kExplainRoute) return "a configuration file";
    if (typed == "--fastagi" || typed == "--metrics") return "[ADDRESS:]PORT";
    if (typed == "--allow" || typed == "--metrics-allow") return "a network (CIDR)";
    if (typed == "--configs") return "a folder";
    if (value == kAsUser) return "a user name";
    return "a number";
}

void printToStandardError(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// The option as typed, so the error names what the operator wrote: the
// element at `scanned` when it is a long one ("--robot", without "=VALUE"),
// else the short form ("-r", perhaps from a cluster such as "-er").
std::string typedOption(char** argv, int scanned, int value) {
    const char* element = argv[scanned];
    if (std::strncmp(element, "--", 2) == 0) return std::string(element, std::strcspn(element, "="));
    if (value > 0 && value < 128) return std::string("-") + static_cast<char>(value);
    return std::string("--") + longName(value);
}

std::string programOf(int argc, char** argv) { return argc > 0 ? argv[0] : ""; }

// One line naming what was wrong, then the usage; status 1.
int commandLineError(int argc, char** argv, const std::string& what) {
    const std::string program = programOf(argc, argv);
    printToStandardError(ProgramHelp::name(program) + ": " + what + "\n" + ProgramHelp::usage(program));
    return 1;
}

// A short option that is unknown or lacks its value. Dial-plan scripts
// read this first line as it stands, so it keeps this exact form.
int shortOptionError(int argc, char** argv, char letter) {
    printToStandardError(std::string("Unknown option: `") + letter + "'\n" + ProgramHelp::usage(programOf(argc, argv)));
    return 1;
}

bool isShortForm(const std::string& typed) { return typed.size() == 2 && typed[0] == '-' && typed[1] != '-'; }

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
    bool emulator = false;
    std::string robot;
    bool haveRobot = false;
    bool fastAgi = false;
    std::string fastAgiTuning;  // a service option given, for the error without --fastagi
    std::string checkPath;
    bool check = false;
    bool offline = false;
    std::string callsUser;  // --as-user: who runs the calls, for --check
    std::string flushPath;
    std::string spoolCommand;  // "flush-spool", "list-spool", ...
    bool flush = false;
    std::string explainPath;
    bool explain = false;

    // Start a fresh scan (the runner may be used more than once per process
    // in tests) and keep getopt's own messages off: ours name the option as
    // typed. The leading ":" tells a missing value from an unknown option.
    optind = 0;
    opterr = 0;
    int option;
    int before = 1;  // optind 0 restarts the scan at argv[1]
    int longIndex = -1;
    while ((option = getopt_long(argc, argv, ":evhr:", kLongOptions, &longIndex)) != -1) {
        // The element getopt stopped on: it stays on one while inside a
        // cluster of short options.
        const int scanned = optind > before ? optind - 1 : optind;
        before = optind;
        // A value that looks like the next option is the operator's missing
        // value ("--check --offline"); a file so named can be given as ./-x.
        if (option != ':' && option != '?' && optarg != nullptr && (optarg[0] == '\0' || optarg[0] == '-')) {
            const int named = optarg == argv[optind - 1] ? optind - 2 : optind - 1;
            const std::string typed = typedOption(argv, named, option);
            if (isShortForm(typed)) return shortOptionError(argc, argv, typed[1]);
            return commandLineError(argc, argv, typed + " needs " + neededValue(option, typed));
        }
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
            case kAsUser:
                callsUser = optarg;
                break;
            case kFlushSpool:
                if (flush) return commandLineError(argc, argv, "one spool command at a time");
                flushPath = optarg;
                spoolCommand = kLongOptions[longIndex].name;
                flush = true;
                break;
            case kExplainRoute:
                explainPath = optarg;
                explain = true;
                break;
            case kFastAgi:
            case kServiceOption: {
                const char* name = kLongOptions[longIndex].name;
                fastAgi = fastAgi || option == kFastAgi;
                if (option != kFastAgi) fastAgiTuning = name;
                if (service == nullptr) {
                    return commandLineError(argc, argv, formatBounded("this program has no FastAGI service: --%s", name));
                }
                if (!service->setOption(name, optarg)) {
                    return commandLineError(argc, argv, formatBounded("invalid value for --%s: %s", name, optarg));
                }
                break;
            }
            case ':': {
                const std::string typed = typedOption(argv, scanned, optopt);
                if (isShortForm(typed)) return shortOptionError(argc, argv, typed[1]);
                return commandLineError(argc, argv, typed + " needs " + neededValue(optopt, typed));
            }
            default: {
                // A known long option given a value it does not take keeps
                // its option value; an unknown one has none.
                const std::string typed = typedOption(argv, scanned, optopt);
                if (typed.rfind("--", 0) == 0 && optopt != 0) {
                    return commandLineError(argc, argv, typed + " takes no value");
                }
                if (isShortForm(typed)) return shortOptionError(argc, argv, typed[1]);
                return commandLineError(argc, argv, "unknown option " + typed);
            }
        }
    }
    if (check + flush + fastAgi + explain > 1) {
        return commandLineError(argc, argv, "--check, --flush-spool, --explain-route and --fastagi go one at a time");
    }
    if (explain && optind >= argc) {
        return commandLineError(argc, argv, "--explain-route needs an exit after the configuration (50001..50031 "
                                            "or a forwarding text)");
    }
    // Moving and deleting name the back-office address they act on.
    const bool namesAddress = spoolCommand == "move-spool" || spoolCommand == "delete-spool";
    if (namesAddress && optind + 1 != argc) {
        return commandLineError(argc, argv, "--" + spoolCommand + " needs CONFIG.json and one back-office address");
    }
    if (offline && !check) return commandLineError(argc, argv, "--offline goes only with --check");
    if (!callsUser.empty() && !check) return commandLineError(argc, argv, "--as-user goes only with --check");
    if (!fastAgiTuning.empty() && !fastAgi) {
        return commandLineError(argc, argv, "--" + fastAgiTuning + " goes only with --fastagi");
    }
    if ((check || (flush && !namesAddress) || fastAgi) && optind < argc) {
        return commandLineError(argc, argv, formatBounded("unexpected argument %s", argv[optind]));
    }
    if (explain) return runRouteExplanation(explainPath, std::vector<std::string>(argv + optind, argv + argc));
    if (check) return runConfigurationCheck(checkPath, offline, callsUser);
    if (flush) return runSpoolCommand(spoolCommand, flushPath, std::vector<std::string>(argv + optind, argv + argc));
    if (fastAgi) return service->run(*this, module);

    // The robot is read before anything runs: a call without the answers
    // it was meant to give would only mislead.
    std::unique_ptr<KestroAgiEmulator> emulated;
    if (emulator) {
        emulated = std::make_unique<KestroAgiEmulator>();
        if (haveRobot && !emulated->loadRobot(robot.c_str())) {
            printToStandardError(ProgramHelp::name(programOf(argc, argv)) + ": " +
                                 emulated->getRobot().getLoadFailure() + "\n");
            return 1;
        }
    }

    std::vector<std::string> positional(argv + optind, argv + argc);
    // A call from Asterisk is handed back the moment its last command is
    // answered; the emulator has no one waiting.
    CallerHandBack handBack;
    if (!emulator) handBack.detach();
    int status = serve(
        module, emulator,
        [&]() -> std::unique_ptr<KestroAgiImpl> {
            if (!emulator) return std::make_unique<KestroAgi>();
            return std::move(emulated);
        },
        [&](KestroAgiImpl&) { return positional; }, ConfigurationGate());
    robot.clear();
    handBack.release(status);
    if (!emulator && !handBack.detached()) {
        module.onCallEndedWithoutHandBack();
    } else {
        module.onCallHandedBack();
    }
    return status;
}

void ModuleIvr::setConfigurationCheck(ConfigurationChecker checker) { configurationChecker = std::move(checker); }

int ModuleIvr::runConfigurationCheck(const std::string& path, bool offline, const std::string& callsUser) {
    if (!configurationChecker) {
        printToStandardError("This program has no configuration check\n");
        return 1;
    }
    return configurationChecker(path, offline, callsUser);
}

void ModuleIvr::setSpoolCommands(SpoolCommands commands) { spoolCommands = std::move(commands); }

int ModuleIvr::runSpoolCommand(const std::string& command, const std::string& path,
                               const std::vector<std::string>& arguments) {
    if (!spoolCommands) {
        printToStandardError("This program has no spool\n");
        return 1;
    }
    return spoolCommands(command, path, arguments);
}

void ModuleIvr::setRouteExplanation(RouteExplainer explainer) { routeExplainer = std::move(explainer); }

int ModuleIvr::runRouteExplanation(const std::string& path, const std::vector<std::string>& arguments) {
    if (!routeExplainer) {
        printToStandardError("This program has no routing profile\n");
        return 1;
    }
    return routeExplainer(path, arguments);
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
