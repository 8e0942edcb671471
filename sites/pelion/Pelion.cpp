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

    if (!apiReady) {
        redirect(session, getDestinationValue(IvrDestination::ServerNotReady), "is client, but server is not ready");
        return false;
    }

    for (int pass = 0; pass < kAttempts; ++pass) {
        // A document already known is used as it is in the first pass.
        if (pass > 0 || document.empty()) {
            const char* prompt = pass == 0 ? "Orvel-u4-05" : document.empty() ? "Orvel-u4-07" : "Orvel-u4-06";
            CText answer(session.input("document", kDocumentDigits, kTimeoutSeconds, getProfileAudio(prompt).c_str(), 3));
            document = textOf(answer);
        }
        session.verbose("requested document, attempt %d,  document: '%s'", pass, document.c_str());
        if (document.empty()) continue;

        session.verbose("typed cpf_ou_cnpj: '%s'", document.c_str());
        if (leaveByEscapeCode(session)) return false;
        if (findClientByTypedDocument(session)) break;
    }

    saveIdentificationWhenEnabled(session);
    return true;
}

}  // namespace tarvik
