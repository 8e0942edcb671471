#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarvik {

// The spool commands, run as the user that owns the spool (the timer's and
// the operator's queue tools):
//   --flush-spool CONFIG.json    sends the records of the configuration's
//       back office waiting now, oldest first, stopping at the first one the
//       back office cannot take; prints the lines about records not
//       delivered and one line of figures; 0 when nothing of this back office
//       is left waiting, none could not be set aside and none was set aside
//       in this run, 1 otherwise
//   --list-spool CONFIG.json     every back office with records in the
//       spool: waiting, aside, the oldest, held until; those the
//       configuration does not name are marked
//   --requeue-aside CONFIG.json  the configuration's back office's aside
//       records wait again (once the cause of their refusal is mended)
//   --move-spool CONFIG.json ADDRESS    records of the back office at an
//       old address (same plugin driver and id) move to the configuration's
//   --delete-spool CONFIG.json ADDRESS  every record of the back offices at
//       that address is removed
// Each exits 1 when the configuration cannot be read or the spool is missing
// or unusable (it is never created here: the calls' user owns it).
class SpoolCommand {
public:
    static int run(const std::string& command, const std::string& configurationPath,
                   const std::vector<std::string>& arguments, std::ostream& out, std::ostream& errors);
};

}  // namespace tarvik
