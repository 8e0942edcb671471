#include "sites/pelion/Pelion.h"

#include "util/CText.h"

namespace tarvik {

namespace {

constexpr int kAttempts = 3;
constexpr int kDocumentDigits = 17;
constexpr int kTimeoutSeconds = 5;

std::string textOf(const CText& answer) { return answer ? std::string(answer.get()) : std::string(); }

}  // namespace

void Pelion::onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) { loadIspEndpoints(session, plugin, driver, id); }

// "1" wants the plans, "2" is a customer; anything else is asked again with
// the same prompt, and the limit goes straight to its exit.
bool Pelion::askIsClient(KestroAgiImpl& session) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        CText answer(session.input("is_client", 1, kTimeoutSeconds, getProfileAudio("Orvel-u4-04").c_str(), 3));
        std::string typed = textOf(answer);
        if (typed == "1") {
            redirect(session, getDestinationValue(IvrDestination::WantsPlans), "quer conhecer os planos");
            return false;
        }
        if (typed == "2") return true;
    }
    redirect(session, getDestinationValue(IvrDestination::ClientAnswerLimit),
             "did not inform if it is a client, attempt limit");
    return false;
}

bool Pelion::phaseIsClient(KestroAgiImpl& session) {
    if (!askIsClient(session)) return false;
    return identifyByTypedDocument(session, kDocumentDigits);
}

}  // namespace tarvik
