// Feeds the input as the bytes Asterisk writes to the program: the start-up
// block, then one reply after another. The session is driven through the
// operations that read replies until the input runs out.
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "agi/KestroAgi.h"
#include "agi/KestroAgiException.h"
#include "fuzz/FuzzInput.h"
#include "util/CText.h"

namespace {

// Enough rounds to use up the longest input libFuzzer is given.
constexpr int kMaxOperations = 512;

void runOperation(tarvik::KestroAgi& session, int index) {
    std::string digits;
    switch (index % 7) {
        case 0: {
            std::unique_ptr<tarvik::KestroAgiResponse> response(session.evaluate("GET VARIABLE %s", "CALLERID(num)"));
            if (response) (void)response->getData();
            break;
        }
        case 1: {
            tarvik::CText answer(session.input("document", 14, 5, "Orvel-u4-01", 3));
            break;
        }
        case 2: {
            tarvik::CText value(session.getVariable("TARVIK_API_ID"));
            break;
        }
        case 3:
            session.getDtmf(digits, 4, 2000, '#');
            break;
        case 4:
            session.getDtmf(digits, -1, 1000, '#');
            break;
        case 5: {
            tarvik::CText answer(session.input("option", 1, 3, nullptr, 1));
            break;
        }
        default:
            session.jump("9000");
            session.verbose("%s", digits.c_str());
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int input = tarvik::fuzz::memoryDescriptor(data, size);
    if (input < 0) return 0;
    {
        tarvik::KestroAgi session(input, tarvik::fuzz::nullOutput());
        (void)session.getAsteriskVersion();
        (void)session.getAsteriskVariable("agi_callerid");
        for (int index = 0; index < kMaxOperations && !session.isChannelClosed(); ++index) {
            try {
                runOperation(session, index);
            } catch (const tarvik::KestroAgiException&) {
                // The documented answer to a reply form the session cannot read.
            }
        }
    }
    ::close(input);
    return 0;
}
