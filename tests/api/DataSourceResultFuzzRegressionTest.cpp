// Inputs the fuzzer found that once ended the process, kept so they never do
// again.
#include <string>

#include <gtest/gtest.h>

#include "api/KestroAgiDataSourceResult.h"

namespace tarvik {
namespace {

// The JSON reader gives up on nesting deeper than a thousand levels by
// throwing; a back-office body like that is simply not JSON to the result.
TEST(DataSourceResultFuzzRegressionTest, DeeplyNestedBodyIsNotJson) {
    const std::string bodies[] = {
        std::string(1100, '[') + std::string(1100, ']'),
        std::string(1100, '[') + "{\"a\":" + std::string(1100, '['),
    };
    for (const std::string& body : bodies) {
        KestroAgiDataSourceResult result;
        result.setText(body.c_str());
        bool parsed = true;
        EXPECT_NO_THROW(parsed = result.changeTypeToJson());
        EXPECT_FALSE(parsed);
        EXPECT_EQ(result.getType(), KestroAgiDataSourceResult::TYPE_FIELDS);
        EXPECT_EQ(result.count(""), -1);
    }
}

}  // namespace
}  // namespace tarvik
