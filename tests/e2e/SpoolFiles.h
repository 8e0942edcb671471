#pragma once

// Spool files as a call of a configuration would have left them, for tests
// that start with records waiting.

#include <filesystem>
#include <fstream>
#include <string>

#include "api/BackOfficeRecord.h"
#include "api/KestroAgiRESTFul.h"
#include "records/BackOfficeIdentity.h"
#include "records/RecordFile.h"

namespace tarvik::testing {

// The back office of the example configuration at `baseUrl`.
inline BackOfficeIdentity exampleOffice(const std::string& baseUrl) { return BackOfficeIdentity(baseUrl, "demo", "1"); }

// Writes one remote log entry with `body` into `directory` under `stem`
// (names sort by stem: "1000000000000000000-1-000000").
inline void writeSpooledLogEntry(const std::string& directory, const BackOfficeIdentity& office,
                                 const std::string& stem, const std::string& body) {
    BackOfficeRecord record;
    record.kind = "logger";
    record.method = KestroAgiRESTFul::METHOD_POST;
    record.path = "/service/v1/logger";
    record.headers["Content-Type"] = "application/json";
    record.body = body;
    record.failureText = "failure on set logger";
    std::filesystem::create_directories(directory);
    std::ofstream(directory + "/" + stem + "." + office.tag() + ".rec") << RecordFile::write(record, office);
}

}  // namespace tarvik::testing
