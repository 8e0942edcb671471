// Feeds the input as the back office's answer to a client lookup: parsed as
// JSON, then mapped into the client, contract and invoice records.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <json/json.h>

#include "api/CustomerJsonMapping.h"
#include "model/ISPClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    Json::Value root;
    Json::Reader reader;
    try {
        if (!reader.parse(text, text + size, root, false)) return 0;
    } catch (const Json::Exception&) {
        return 0;  // the library's own refusal, not the mapping's
    }
    std::vector<std::string> failures;
    std::unique_ptr<tarvik::ISPClient> client(tarvik::CustomerJsonMapping::toClient(failures, root));
    return 0;
}
