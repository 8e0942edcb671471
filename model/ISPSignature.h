#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/ISPInvoice.h"

namespace tarvik {

// One contract (signature) of a customer: a service address with its
// connection state, maintenance notice and invoices.
class ISPSignature {
public:
    // Wire order is fixed: the call flow branches on these values.
    enum ConnectionState : int {
        UNKNOWN = 0,
        WITHOUT_CONNECTION = 1,
        CONNECTED = 2,
        PAUSED = 3,
        BLOCKED = 4,
        CANCELED = 5,
        NO_WIRING = 6,
    };

    using InvoiceList = std::vector<std::unique_ptr<ISPInvoice>>;

    ISPSignature() = default;
    ISPSignature(const ISPSignature&) = delete;
    ISPSignature& operator=(const ISPSignature&) = delete;
    virtual ~ISPSignature();

    const std::string& getId() const { return id; }
    void setId(const std::string& value) { id = value; }

    const std::string& getAddressNumber() const { return addressNumber; }
    void setAddressNumber(const std::string& value) { addressNumber = value; }

    ConnectionState getState() const { return state; }
    void setState(ConnectionState value) { state = value; }

    bool isBlocked() const { return blocked; }
    void setBlocked(bool value) { blocked = value; }

    bool itCanUnlock() const { return canUnlock; }
    void setCanUnlock(bool value) { canUnlock = value; }

    bool isUnderMaintenance() const { return underMaintenance; }
    void setUnderMaintenance(bool value) { underMaintenance = value; }

    const std::string& getEndOfMaintenance() const { return endOfMaintenance; }
    void setEndOfMaintenance(const std::string& value) { endOfMaintenance = value; }

    const std::string& getForwarding() const { return forwarding; }
    void setForwarding(const std::string& value) { forwarding = value; }

    // Open invoices not yet overdue, and overdue ones, in document order.
    const InvoiceList& getInvoices() const { return invoices; }
    const InvoiceList& getOverdueInvoices() const { return overdueInvoices; }

    // Append and take ownership; null is ignored.
    void putInvoice(ISPInvoice* invoice);
    void putOverdueInvoice(ISPInvoice* invoice);

    bool hasOverdueInvoices() const { return !overdueInvoices.empty(); }
    bool hasForwarding() const { return !forwarding.empty(); }
    // True when some overdue invoice has lost its bar code.
    bool hasInvoiceExpired() const;

    static std::string toConnectionStateString(ConnectionState value);
    static ConnectionState fromConnectionStateString(const std::string& text);

private:
    std::string id;
    std::string addressNumber;
    InvoiceList invoices;
    InvoiceList overdueInvoices;
    ConnectionState state = UNKNOWN;
    // A contract whose document omits these counts as blocked and unlockable.
    bool blocked = true;
    bool canUnlock = true;
    bool underMaintenance = false;
    std::string endOfMaintenance;
    std::string forwarding;
};

}  // namespace tarvik
