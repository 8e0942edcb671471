#pragma once

#include <string>

#include "configuration/Configuration.h"

namespace tarvik {

// Every back-office operation the IVR knows, in one table: its method, the
// path it is sent to and what kind of exchange it is. The client builds its
// requests from it, the spool knows its records by it, the check asks
// readiness through it and the metrics name requests by it, so no path is
// written anywhere else.
class BackOfficeTable {
public:
    enum class Operation {
        ready,
        recallSearch,
        recallRegistration,
        event,
        logger,
        saveIdentification,
        unlock,
        sendInvoice,
        informProtocol,
        externalProtocol,
        findByPhone,
        findByDocument,
    };
    // A lookup only reads; a contract operation asks the back office to act
    // for the customer and the caller waits for its outcome; a record's
    // answer the caller's path never needs, so it may wait in the spool.
    enum class Kind { lookup, contractOperation, record };

    struct Row {
        Operation operation;
        const char* metricName;  // what the call's metrics count it under
        int method;              // KestroAgiRESTFul::METHOD_*
        // "{driver}" and "{id}" are the configuration's plugin keys; a last
        // segment in braces is the caller's value the lookup appends.
        const char* pattern;
        Kind kind;
        const char* recordKind;  // records: the spool's name for them; else null
        // Where a provider's own address is configured; null: the pattern is the path.
        const std::string& (Configuration::*endpoint)() const;
    };

    static const Row& row(Operation operation);

    // The path the requests of `operation` go to (a lookup's without its
    // value) for a provider's driver and id.
    static std::string endpoint(Operation operation, const std::string& driver, const std::string& id);
    // What the request goes to under this configuration, before any value.
    static std::string path(Operation operation, const Configuration& configuration);

    // The row of a fixed path sent with that method, or null.
    static const Row* findFixed(int method, const std::string& path);

    // The metric name of the operation a URL asks for, "other" when none:
    // a fixed word, never anything of the caller (numbers and documents
    // are part of some paths).
    static std::string metricNameOfUrl(const std::string& url);
};

}  // namespace tarvik
