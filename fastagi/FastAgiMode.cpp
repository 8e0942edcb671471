#include "fastagi/FastAgiMode.h"

#include <sys/socket.h>

#include <memory>

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
    auto admission = std::make_shared<ConfigurationAdmission>(serviceOptions.configsDirectory);
    FastAgiServer::CallHandler handler = [&runner, &module, admission](int socketFd, FastAgiCallRecord& record) {
        return serveConnection(runner, socketFd, record, module, admission.get());
    };
    if (serviceOptions.callsPerProcess > 1) {
        handler = [this, &runner, admission](int socketFd, FastAgiCallRecord& record) {
            std::unique_ptr<IModuleIvr> callModule = moduleFactory();
            int status = serveConnection(runner, socketFd, record, *callModule, admission.get());
            runner.endCall();
            return status;
        };
    }
    FastAgiServer server(std::move(serviceOptions), std::move(handler));
    return server.run();
}

int FastAgiMode::serveConnection(ModuleIvr& runner, int socketFd, FastAgiCallRecord& record, IModuleIvr& module,
                                 ConfigurationAdmission* admission) {
    ModuleIvr::ConfigurationGate gate;
    if (admission != nullptr) {
        gate = [&, admission](std::string& path) {
            sockaddr_storage peer{};
            socklen_t length = sizeof(peer);
            const bool known = ::getpeername(socketFd, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
            std::string reason;
            if (!admission->admit(path, known ? reinterpret_cast<sockaddr*>(&peer) : nullptr, reason)) {
                FastAgiServer::log(record.refuseConfiguration(path, reason));
                return false;
            }
            record.setReplacements(admission->replacements());
            return true;
        };
    }
    int status = runner.serveSession(
        module, [&] { return std::make_unique<FastAgiSession>(socketFd, record); }, &FastAgiSession::startupArguments,
        gate);
    // Over FastAGI the end of the connection hands the call back.
    ::shutdown(socketFd, SHUT_RDWR);
    module.onCallHandedBack();
    return status;
}

}  // namespace tarvik
