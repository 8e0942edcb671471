// Feeds the input as a robot file: written under the working directory with
// an ".xml" name, so load() reads it as "./name".
#include <libxml/parser.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "emulator/KestroRobot.h"
#include "fuzz/FuzzInput.h"

namespace {

// libxml2 reports every parse fault on standard error; the fuzzer makes
// millions of them.
void ignoreXmlMessage(void*, const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name = tarvik::fuzz::writeWorkingFile("fuzz-robot", ".xml", data, size);
    if (name.empty()) return 0;
    // Set on every run: load() cleans the parser's global state up.
    xmlSetGenericErrorFunc(nullptr, ignoreXmlMessage);
    {
        tarvik::KestroRobot robot;
        robot.load(name.c_str());
        (void)robot.getVariableValue("document");
        (void)robot.getAsteriskVariableValue("agi_callerid");
        (void)robot.getAsteriskVariableValue("agi_version");
        // A second load adds to and overwrites what is there.
        robot.load(name.c_str());
        (void)robot.getFilename();
    }
    ::unlink(name.c_str());
    return 0;
}
