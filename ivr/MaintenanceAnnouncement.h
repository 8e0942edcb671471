#pragma once

#include <string>

#include "ivr/DialogueContext.h"

namespace tarvik {

// Tells the caller that the contract's area is under maintenance and when
// service is expected back ("hour:minute", or minutes alone).
class MaintenanceAnnouncement {
public:
    explicit MaintenanceAnnouncement(const DialogueContext& context) : context(context) {}

    void run(const std::string& endOfMaintenance) const;

private:
    const DialogueContext& context;
};

}  // namespace tarvik
