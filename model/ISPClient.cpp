#include "model/ISPClient.h"

#include <algorithm>
#include <utility>

namespace tarvik {

namespace {

void appendUnlessPresent(std::vector<std::string>& list, const std::string& text) {
    if (std::find(list.begin(), list.end(), text) == list.end()) {
        list.push_back(text);
    }
}

template <typename List>
typename List::const_iterator findRecord(const List& list, const ISPSignature* signature) {
    return std::find_if(list.begin(), list.end(),
                        [signature](const auto& owned) { return owned.get() == signature; });
}

}  // namespace

ISPClient::~ISPClient() {
    standard = nullptr;
    signatures.clear();
    adoptedStandards.clear();
}

void ISPClient::putEmail(const std::string& email) { appendUnlessPresent(emails, email); }

void ISPClient::putPhone(const std::string& phone) { appendUnlessPresent(phones, phone); }

void ISPClient::putSignature(ISPSignature* signature) {
    // The same object twice would be freed twice; equal contracts in
    // separate objects are kept.
    if (signature == nullptr || isListed(signature)) {
        return;
    }
    auto adopted = findRecord(adoptedStandards, signature);
    if (adopted != adoptedStandards.end()) {
        // The standard joins the list: the list owns it from now on.
        auto index = adopted - adoptedStandards.begin();
        signatures.push_back(std::move(adoptedStandards[static_cast<std::size_t>(index)]));
        adoptedStandards.erase(adoptedStandards.begin() + index);
        return;
    }
    signatures.push_back(std::unique_ptr<ISPSignature>(signature));  // owned before the list may grow
}

void ISPClient::setStandard(ISPSignature* signature) {
    if (signature != nullptr && !isListed(signature) && !isAdopted(signature)) {
        // Earlier standards stay alive too: someone may still hold them.
        adoptedStandards.push_back(std::unique_ptr<ISPSignature>(signature));  // owned before the list may grow
    }
    standard = signature;
}

bool ISPClient::isMobile(const std::string& phone) {
    if (phone.size() <= 8) {
        return false;
    }
    return phone[phone.size() - 9] == '9';
}

bool ISPClient::isListed(const ISPSignature* signature) const {
    return findRecord(signatures, signature) != signatures.end();
}

bool ISPClient::isAdopted(const ISPSignature* signature) const {
    return findRecord(adoptedStandards, signature) != adoptedStandards.end();
}

}  // namespace tarvik
