#pragma once

#include "tools/backoffice-sim/SimOperation.h"

#include <map>
#include <set>
#include <string>

namespace tarvik {

// Everything the simulator's command line can say.
struct SimOptions {
    int port = 0;                    // 0: the system picks a free port
    std::string dataFile;            // customer fixture; empty: no customers
    std::string token;               // empty: no authorization check
    std::string journalFile;         // empty: no journal
    int recallWindowSeconds = 300;   // 0: no call is ever a recall
    int delayMs = 0;                 // added before every answer
    int threads = 64;                // worker threads (one per open connection)
    int keepAliveSeconds = 5;        // idle time before a persistent connection is closed
    std::string tlsCert;             // with tlsKey: serve HTTPS instead of HTTP
    std::string tlsKey;
    std::map<SimOperation, int> statusOverrides;
    std::map<SimOperation, int> operationDelays;  // milliseconds, instead of delayMs
    std::set<SimOperation> drops;
    std::map<SimOperation, std::string> bodyFiles;
    bool silent = false;             // accept connections, never answer
    bool help = false;
};

class SimOptionsParser {
public:
    // Fills options from the command line. False with a one-line reason in
    // error when an option is unknown, lacks its value or has a bad value.
    static bool parse(int argc, char** argv, SimOptions& options, std::string& error);

    static std::string usage();
};

}  // namespace tarvik
