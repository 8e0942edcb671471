#include "sites/pelion/Pelion.h"

namespace tarvik {

namespace {

constexpr int kDocumentDigits = 17;

}  // namespace

void Pelion::onLoadPlugin(KestroAgiImpl& session, Json::Value plugin) { loadIspEndpoints(session, plugin, driver, id); }

bool Pelion::phaseIsClient(KestroAgiImpl& session) {
    // No prompt at the attempt limit: the call goes straight to its exit.
    return askIsCustomer(session, false) && identifyByTypedDocument(session, kDocumentDigits);
}

}  // namespace tarvik
