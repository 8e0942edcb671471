#pragma once

#include <string>

namespace tarvik {

// Every exit of the call flow names a situation; only its key text
// ("50001".."50031") leaves the program, as the dial-plan extension unless
// the routing profile replaces it. Plugin exposes this as
// Plugin::IvrDestination.
enum class IvrDestination {
    WantsPlans,               // "50001"
    ClientAnswerLimit,        // "50002"
    ServerNotReady,           // "50003"
    EscapeCode,               // "50004"
    ClientNotFound,           // "50005"
    ClientWithoutSignatures,  // "50006"
    PriorityRecall,           // "50007"
    InvoiceWithoutBarcode,    // "50008"
    NoInvoicePending,         // "50009"
    NotAboutInvoice,          // "50010"
    InvoiceSent,              // "50011"
    DebtOptionTwo,            // "50012"
    DebtOptionThree,          // "50013"
    DebtNoValidOption,        // "50014"
    DebtInvoiceSent,          // "50015"
    BlockedNoValidOption,     // "50016"
    TrustUnlockUnavailable,   // "50017"
    TrustUnlockRejected,      // "50018"
    TrustUnlockFailed,        // "50019"
    TrustUnlockContinue,      // "50020"
    BlockedToCollection,      // "50021"
    Paused,                   // "50022"
    CanceledWithDebt,         // "50023"
    CanceledWithoutDebt,      // "50024"
    UnknownWithDebt,          // "50025"
    UnknownWithoutDebt,       // "50026"
    NoConnectionWithDebt,     // "50027"
    NoConnectionWithoutDebt,  // "50028"
    OtherState,               // "50029"
    BlockedWithoutInvoices,   // "50030"
    BlockedInvoiceSent,       // "50031"
};

// The key text of a destination ("50001" for WantsPlans, ...).
std::string destinationKey(IvrDestination destination);

}  // namespace tarvik
