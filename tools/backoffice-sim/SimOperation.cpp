#include "tools/backoffice-sim/SimOperation.h"

#include <array>
#include <utility>

namespace tarvik {

namespace {

const std::array<std::pair<SimOperation, const char*>, 12> kNames = {{
    {SimOperation::Ready, "ready"},
    {SimOperation::Phone, "phone"},
    {SimOperation::Document, "document"},
    {SimOperation::Unlock, "unlock"},
    {SimOperation::Send, "send"},
    {SimOperation::Protocol, "protocol"},
    {SimOperation::Ticket, "ticket"},
    {SimOperation::Identification, "identification"},
    {SimOperation::RecallSearch, "recall-search"},
    {SimOperation::RecallRegister, "recall-register"},
    {SimOperation::Event, "event"},
    {SimOperation::Logger, "logger"},
}};

}  // namespace

const char* simOperationName(SimOperation operation) {
    for (const auto& entry : kNames) {
        if (entry.first == operation) {
            return entry.second;
        }
    }
    return "unknown";
}

bool simOperationFromName(const std::string& name, SimOperation& operation) {
    for (const auto& entry : kNames) {
        if (name == entry.second) {
            operation = entry.first;
            return true;
        }
    }
    return false;
}

std::string simOperationNameList() {
    std::string list;
    for (const auto& entry : kNames) {
        if (!list.empty()) {
            list += ", ";
        }
        list += entry.second;
    }
    return list;
}

}  // namespace tarvik
