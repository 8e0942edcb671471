#include "model/ISPSignature.h"

#include <iterator>

namespace tarvik {

namespace {

// Index = ConnectionState value; the same table serves both directions.
const char* const kStateNames[] = {
    "unknown", "without-connection", "connected", "paused", "blocked", "canceled", "no-wiring",
};
constexpr int kStateCount = static_cast<int>(std::size(kStateNames));

}  // namespace

ISPSignature::~ISPSignature() {
    // Open invoices go first, then the overdue ones.
    invoices.clear();
    overdueInvoices.clear();
}

void ISPSignature::putInvoice(ISPInvoice* invoice) {
    if (invoice != nullptr) {
        invoices.push_back(std::unique_ptr<ISPInvoice>(invoice));  // owned before the list may grow
    }
}

void ISPSignature::putOverdueInvoice(ISPInvoice* invoice) {
    if (invoice != nullptr) {
        overdueInvoices.push_back(std::unique_ptr<ISPInvoice>(invoice));  // owned before the list may grow
    }
}

bool ISPSignature::hasInvoiceExpired() const {
    for (const auto& invoice : overdueInvoices) {
        if (invoice->getBarCode().empty()) {
            return true;
        }
    }
    return false;
}

std::string ISPSignature::toConnectionStateString(ConnectionState value) {
    const int index = static_cast<int>(value);
    if (index < 0 || index >= kStateCount) {
        return kStateNames[UNKNOWN];
    }
    return kStateNames[index];
}

ISPSignature::ConnectionState ISPSignature::fromConnectionStateString(const std::string& text) {
    for (int index = 0; index < kStateCount; ++index) {
        if (text == kStateNames[index]) {
            return static_cast<ConnectionState>(index);
        }
    }
    return UNKNOWN;
}

}  // namespace tarvik
