#include "ivr/MaintenanceAnnouncement.h"

namespace tarvik {

namespace {
// The back office words the return time freely; only this much is read.
constexpr std::size_t kMaxTimeText = 31;
}  // namespace

void MaintenanceAnnouncement::run(const std::string& endOfMaintenance) const {
    std::string text = endOfMaintenance.substr(0, kMaxTimeText);
    int hour = 0;
    int minute = 0;
    std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        hour = DialogueContext::readWholeNumber(text.substr(0, colon));
        minute = DialogueContext::readWholeNumber(text.substr(colon + 1));
    } else {
        minute = DialogueContext::readWholeNumber(text);
    }

    KestroAgiImpl& session = context.session();
    session.verbose("under maintenance, return at: '%d':'%d'", hour, minute);
    context.playPrompt("Orvel-u4-45");
    context.playPrompt("Orvel-u4-46");
    if (hour > 0) {
        session.sayNumber(hour);
        context.playPrompt(hour == 1 ? "Orvel-u4-47" : "Orvel-u4-48");
        context.playPrompt("Orvel-u4-16");
    }
    session.sayNumber(minute);
    context.playPrompt(minute == 1 ? "Orvel-u4-49" : "Orvel-u4-50");
    context.playPrompt("Orvel-u4-51");
    context.playPrompt("Orvel-u4-52");
}

}  // namespace tarvik
