// Inputs the fuzzer found that once ended the process, kept so they never do
// again.
#include <string>

#include <gtest/gtest.h>

#include "ivr/Plugin.h"
#include "tests/ivr/PluginTestConfig.h"
#include "agi/RecordingSession.h"

namespace tarvik::testing {
namespace {

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& each : lines)
        if (each == line) return true;
    return false;
}

// The JSON reader gives up on nesting deeper than a thousand levels by
// throwing; such a file must read as invalid JSON, like any other broken one.
TEST(PluginFuzzRegressionTest, DeeplyNestedConfigurationIsInvalidJson) {
    const std::string nestings[] = {
        std::string(1100, '[') + std::string(1100, ']'),
        R"({"kestro": "http://x", "plugin": )" + std::string(1100, '[') + std::string(1100, ']') + "}",
    };
    for (const std::string& content : nestings) {
        TempDir dir;
        std::string path = dir.write("ivr.json", content);
        RecordingSession session;
        Plugin plugin;
        EXPECT_NO_THROW(plugin.loadConfiguration(session, path.c_str()));
        EXPECT_TRUE(hasLine(session.operations(), "verbose failure on load json configuration from file " + path));
        EXPECT_EQ(plugin.getBaseUri(), "");
        EXPECT_EQ(plugin.getFeatures(), nullptr);
    }
}

}  // namespace
}  // namespace tarvik::testing
