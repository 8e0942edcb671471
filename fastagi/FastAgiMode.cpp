#include "fastagi/FastAgiMode.h"

#include <sys/socket.h>

#include "fastagi/FastAgiServer.h"
#include "fastagi/FastAgiSession.h"

namespace tarvik {

FastAgiMode::FastAgiMode(std::function<void()> initialiseLibraries, ModuleFactory moduleFactory)
    : moduleFactory(std::move(moduleFactory)) {
    options.initialiseLibraries = std::move(initialiseLibraries);
}

bool FastAgiMode::setOption(const std::string& name, const std::string& value) {
    if (name == "fastagi") return options.setListen(value);
    if (name == "max-calls") return options.setMaxCalls(value);
    if (name == "allow") return options.addAllowed(value);
    if (name == "metrics") return options.setMetrics(value);
    if (name == "calls-per-process") return options.setCallsPerProcess(value);
    if (name == "spare-processes") return options.setSpareProcesses(value);
    if (name == "idle-timeout") return options.setIdleTimeout(value);
    if (name == "metrics-allow") return options.addMetricsAllowed(value);
    if (name == "configs") return options.setConfigs(value);
    return false;
}

int FastAgiMode::run(ModuleIvr& runner, IModuleIvr& module) {
    FastAgiOptions serviceOptions = options;
    // Without a way to make a fresh module per call, one module object would
    // carry one call's state into the next: a process per call then.
    if (!moduleFactory) serviceOptions.callsPerProcess = 1;
    FastAgiServer::CallHandler handler = [&runner, &module](int socketFd, FastAgiCallRecord& record) {
        return serveConnection(runner, socketFd, record, module);
    };
    if (serviceOptions.callsPerProcess > 1) {
        handler = [this, &runner](int socketFd, FastAgiCallRecord& record) {
            std::unique_ptr<IModuleIvr> callModule = moduleFactory();
            int status = serveConnection(runner, socketFd, record, *callModule);
            runner.endCall();
            return status;
        };
    }
    FastAgiServer server(std::move(serviceOptions), std::move(handler));
    return server.run();
}

int FastAgiMode::serveConnection(ModuleIvr& runner, int socketFd, FastAgiCallRecord& record, IModuleIvr& module,
                                 const ModuleIvr::ConfigurationGate& gate) {
    int status = runner.serveSession(
        module, [&] { return std::make_unique<FastAgiSession>(socketFd, record); }, &FastAgiSession::startupArguments,
        gate);
    // Over FastAGI the end of the connection hands the call back.
    ::shutdown(socketFd, SHUT_RDWR);
    module.onCallHandedBack();
    return status;
}

}  // namespace tarvik
