#include "sites/orvel/OrvelV3.h"

#include "util/CText.h"

namespace tarvik {

namespace {

constexpr int kAttempts = 3;
constexpr int kDocumentDigits = 14;
constexpr int kTimeoutSeconds = 5;

std::string textOf(const CText& answer) { return answer ? std::string(answer.get()) : std::string(); }

}  // namespace

void OrvelV3::onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) { loadIspEndpoints(session, plugin, driver, id); }

// The customer question: "1" wants the plans, a longer answer is the
// document itself, anything else is asked again with a prompt that says
// what went wrong. False when the call has been redirected.
bool OrvelV3::askIsClient(KestroAgiImpl& session) {
    std::string prompt = "Orvel-u4-04";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        CText answer(session.input("is_client", kDocumentDigits, kTimeoutSeconds, getProfileAudio(prompt).c_str(), 3));
        std::string typed = textOf(answer);
        if (typed.empty()) {
            prompt = "Orvel-u4-56";
        } else if (typed == "1") {
            redirect(session, getDestinationValue(IvrDestination::WantsPlans), "quer conhecer os planos");
            return false;
        } else if (typed.size() == 1) {
            prompt = "Orvel-u4-55";
        } else {
            document = typed;
            return true;
        }
    }
    session.background(getProfileAudio("Orvel-u4-54").c_str());
    redirect(session, getDestinationValue(IvrDestination::ClientAnswerLimit),
             "did not inform if it is a client, attempt limit");
    return false;
}

bool OrvelV3::phaseIsClient(KestroAgiImpl& session) {
    if (!askIsClient(session)) return false;

    if (!apiReady) {
        redirect(session, getDestinationValue(IvrDestination::ServerNotReady), "is client, but server is not ready");
        return false;
    }

    for (int pass = 0; pass < kAttempts; ++pass) {
        // Pass 0 uses the document typed at the customer question.
        if (pass > 0) {
            const char* prompt = document.empty() ? "Orvel-u4-07" : "Orvel-u4-06";
            CText answer(session.input("document", kDocumentDigits, kTimeoutSeconds, getProfileAudio(prompt).c_str(), 3));
            document = textOf(answer);
        }
        session.verbose("requested document, attempt %d,  document: '%s'", pass, document.c_str());
        if (document.empty()) continue;

        session.verbose("typed cpf_ou_cnpj: '%s'", document.c_str());
        session.background(getProfileAudio("Orvel-u4-57").c_str());
        if (leaveByEscapeCode(session)) return false;
        if (findClientByTypedDocument(session)) break;
    }

    saveIdentificationWhenEnabled(session);
    return true;
}

}  // namespace tarvik
