#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/BackOfficeRecord.h"
#include "records/BackOfficeIdentity.h"

namespace tarvik {

// The spool form of earlier releases: one file per record in the spool
// directory ("TIME-PID-N.TAG.rec", claimed ones with ".claimed-PID-START"
// after it) and refused ones in aside/. After an upgrade the new spool takes
// them in once; files that are no record of a back office are moved to
// not-records/ for the operator, never read again.
class OlderSpoolFiles {
public:
    struct Found {
        std::string path;
        BackOfficeRecord record;
        BackOfficeIdentity identity;
        std::int64_t order = 0;    // the time its name begins with: queue order
        std::int64_t written = 0;  // when the file was last written, in
                                   // nanoseconds since the epoch: its age
        bool aside = false;
    };

    struct Scan {
        std::vector<Found> records;
        // Files that are no record (or name no back office, or no record
        // operation), moved to not-records/ now.
        std::size_t notRecords = 0;
    };

    // Whether anything of the older form is there (directory reads only).
    static bool present(const std::string& directory);
    // Claims each file by a rename, reads it and moves what is no record
    // to not-records/.
    static Scan scan(const std::string& directory);
    // After the records were taken in.
    static void removeTaken(const std::vector<Found>& taken);
};

}  // namespace tarvik
