#pragma once

#include <string>

namespace tarvik {

// The back-office operations the IVR calls, as named on the simulator's
// command line (--status OP=CODE, --drop OP, --body OP=FILE) and in the
// journal.
enum class SimOperation {
    Ready,
    Phone,
    Document,
    Unlock,
    Send,
    Protocol,
    Ticket,
    Identification,
    RecallSearch,
    RecallRegister,
    Event,
    Logger,
    Unknown,
};

// "ready", "phone", ..., "recall-search", ...; "unknown" for Unknown.
const char* simOperationName(SimOperation operation);

// False when the name is not one of the operation names (Unknown included).
bool simOperationFromName(const std::string& name, SimOperation& operation);

// The operation names joined by ", ", for usage and error texts.
std::string simOperationNameList();

}  // namespace tarvik
