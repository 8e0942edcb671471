#pragma once

namespace tarvik {

// Lets a service count the back office's answers without the HTTP layer
// knowing about it: the layer reports every exchange here, and whoever
// wants the numbers installs a function. Nothing is installed by default.
class TransferObserver {
public:
    // url: the request's URL; code: the HTTP status, 0 when the transfer
    // failed; seconds: the whole exchange.
    using Function = void (*)(const char* url, long code, double seconds);

    static void install(Function function);
    static void report(const char* url, long code, double seconds);
};

}  // namespace tarvik
