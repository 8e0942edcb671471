#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/ISPSignature.h"

namespace tarvik {

// The customer a call is about, with its contracts.
class ISPClient {
public:
    using SignatureList = std::vector<std::unique_ptr<ISPSignature>>;

    ISPClient() = default;
    ISPClient(const ISPClient&) = delete;
    ISPClient& operator=(const ISPClient&) = delete;
    ~ISPClient();

    const std::string& getId() const { return id; }
    void setId(const std::string& value) { id = value; }

    const std::string& getName() const { return name; }
    void setName(const std::string& value) { name = value; }

    const std::string& getDocument() const { return document; }
    void setDocument(const std::string& value) { document = value; }

    const std::vector<std::string>& getEmails() const { return emails; }
    const std::vector<std::string>& getPhones() const { return phones; }
    const SignatureList& getSignatures() const { return signatures; }
    const std::map<std::string, std::string>& getMarks() const { return marks; }
    void setMarks(const std::map<std::string, std::string>& value) { marks = value; }

    // Append unless a byte-for-byte equal text is already listed.
    void putEmail(const std::string& email);
    void putPhone(const std::string& phone);

    // Append and take ownership; null is ignored.
    void putSignature(ISPSignature* signature);

    // The contract this call is about, or null.
    ISPSignature* getStandard() const { return standard; }
    // A signature of the list is only referred to. Any other signature (the
    // document's separate "standard" contract) is adopted: the client keeps
    // it alive until its own destruction and frees it then, once. Pass only
    // heap records made with new.
    void setStandard(ISPSignature* signature);

    // Brazilian mobile numbers: the ninth character from the end is '9'.
    static bool isMobile(const std::string& phone);

private:
    bool isListed(const ISPSignature* signature) const;
    bool isAdopted(const ISPSignature* signature) const;

    std::string id;
    std::string name;
    std::string document;
    std::vector<std::string> emails;
    std::vector<std::string> phones;
    SignatureList signatures;
    ISPSignature* standard = nullptr;
    // Standards that are not in the list; freed with the client.
    SignatureList adoptedStandards;
    std::map<std::string, std::string> marks;
};

}  // namespace tarvik
