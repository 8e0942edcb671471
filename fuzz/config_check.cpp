// Feeds the input as the configuration file of --check (offline): every
// key, type and profile walk of the check and the module's own loading must
// end in problem lines, never in a crash.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "check/ConfigurationCheck.h"
#include "fuzz/FuzzInput.h"
#include "sites/orvel/OrvelV3.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name = tarvik::fuzz::writeWorkingFile("fuzz-check", ".json", data, size);
    if (name.empty()) return 0;
    {
        tarvik::OrvelV3 module;
        tarvik::ConfigurationCheck::Options options;
        options.offline = true;
        options.defaultAudioDir = "fuzz-no-audio/";
        (void)tarvik::ConfigurationCheck(module, options).problems(name);
    }
    ::unlink(name.c_str());
    return 0;
}
