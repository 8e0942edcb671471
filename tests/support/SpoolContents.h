#pragma once

#include <string>
#include <vector>

namespace tarvik::testing {

// A record as the spool database holds it, for tests that look inside.
struct SpooledRow {
    long long id = 0;
    std::string address;  // its back office
    bool aside = false;
    std::string claimer;  // empty when no process holds it
    std::string record;   // the stored record (JSON)
    std::string body;     // the request body it carries
};

// Every record of the spool in `directory`, in the order stored; empty when
// nothing was ever stored there.
std::vector<SpooledRow> spooledRows(const std::string& directory);
// Only those waiting (claimed or not), or only those aside.
std::vector<SpooledRow> waitingRows(const std::string& directory);
std::vector<SpooledRow> asideRows(const std::string& directory);

}  // namespace tarvik::testing
