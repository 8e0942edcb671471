#include <gtest/gtest.h>

#include <string>

#include "api/KestroAgiDataSourceResult.h"

namespace tarvik {
namespace {

using Result = KestroAgiDataSourceResult;

const char* kItems = R"({"items":[{"name":"a","n":1},{"name":"b","n":2.5}],"ok":true,"kind":"list",
                        "nested":{"inner":{"x":"y"}},"":{"empty":"named"},"nothing":null})";

TEST(DataSourceResultTest, FieldTableKeepsNamesOnceAndValuesLast) {
    Result result;
    EXPECT_EQ(1, result.getType());
    EXPECT_EQ(nullptr, result.getText());
    EXPECT_TRUE(result.setResultField("status"));
    EXPECT_FALSE(result.setResultField("status"));
    EXPECT_FALSE(result.setResultField(nullptr));
    EXPECT_TRUE(result.setResultField("Status"));
    EXPECT_EQ((std::vector<std::string>{"status", "Status"}), result.getFields());

    EXPECT_TRUE(result.setResultFieldValue("status", "old"));
    EXPECT_TRUE(result.setResultFieldValue("status", "new"));
    EXPECT_FALSE(result.setResultFieldValue(nullptr, "x"));
    EXPECT_FALSE(result.setResultFieldValue("x", nullptr));
    EXPECT_STREQ("new", result.getResultField("status"));
    EXPECT_STREQ("new", result.getVectorResultField("status"));
    EXPECT_EQ(nullptr, result.getResultField("absent"));
    EXPECT_EQ(nullptr, result.getResultField(nullptr));
    EXPECT_EQ(-1, result.count(nullptr));  // no JSON view yet
    EXPECT_EQ(nullptr, result.extract("status", Result::EXPORT_ANY));

    result.setText("body");
    EXPECT_STREQ("body", result.getText());
    result.setText(nullptr);
    EXPECT_EQ(nullptr, result.getText());
}

TEST(DataSourceResultTest, ChangeTypeToJsonNeedsAParsableText) {
    Result result;
    EXPECT_FALSE(result.changeTypeToJson());
    result.setText("{not json");
    EXPECT_FALSE(result.changeTypeToJson());
    EXPECT_EQ(1, result.getType());
    result.setText("");
    EXPECT_FALSE(result.changeTypeToJson());
    result.setText(kItems);
    EXPECT_TRUE(result.changeTypeToJson());
    EXPECT_EQ(0, result.getType());
}

TEST(DataSourceResultTest, JsonPathsWalkMembersAndTheCurrentIndex) {
    Result result;
    result.setText(kItems);
    ASSERT_TRUE(result.changeTypeToJson());

    EXPECT_STREQ("a", result.getJsonResultField("items.#.name"));
    result.setCurrentIndex(1);
    EXPECT_STREQ("b", result.getResultField("items.#.name"));
    // The stored copy under the path is overwritten by the later call.
    EXPECT_STREQ("b", result.getVectorResultField("items.#.name"));
    EXPECT_STREQ("2.5", result.getJsonResultField("items.#.n"));
    EXPECT_EQ(nullptr, result.getJsonResultField("items.#.NAME"));  // member names are exact
    result.setCurrentIndex(2);
    EXPECT_EQ(nullptr, result.getJsonResultField("items.#.name"));
    result.setCurrentIndex(-1);
    EXPECT_EQ(nullptr, result.getJsonResultField("items.#.name"));

    EXPECT_STREQ("true", result.getJsonResultField("ok"));
    EXPECT_STREQ("y", result.getJsonResultField("nested.inner.x"));
    EXPECT_STREQ("named", result.getJsonResultField(".empty"));  // empty step: member ""
    EXPECT_EQ(nullptr, result.getJsonResultField("nothing"));
    EXPECT_EQ(nullptr, result.getJsonResultField("kind.#"));      // "#" on a scalar
    EXPECT_EQ(nullptr, result.getJsonResultField("items.name"));  // member step on an array
    EXPECT_EQ(nullptr, result.getJsonResultField("kind.length"));
    EXPECT_EQ(nullptr, result.getJsonResultField("nested"));      // ends at an object
    EXPECT_EQ(nullptr, result.getJsonResultField("items"));       // ends at an array
    EXPECT_EQ(nullptr, result.getJsonResultField(nullptr));
}

TEST(DataSourceResultTest, CountAndExtract) {
    Result result;
    result.setText(kItems);
    ASSERT_TRUE(result.changeTypeToJson());
    EXPECT_EQ(2, result.count("items"));
    EXPECT_EQ(-1, result.count("absent"));
    EXPECT_EQ(-1, result.count("nested"));    // an object has no count
    EXPECT_EQ(-1, result.count("kind"));
    EXPECT_EQ(-1, result.count("items.name"));
    EXPECT_EQ(-1, result.count(""));          // top level is an object
    EXPECT_EQ(-1, result.count(nullptr));

    EXPECT_STREQ("[{\"n\":1,\"name\":\"a\"},{\"n\":2.5,\"name\":\"b\"}]\n", result.extract("items", Result::EXPORT_ARRAY));
    EXPECT_EQ(nullptr, result.extract("items", Result::EXPORT_STRING));
    EXPECT_EQ(nullptr, result.extract("items", Result::EXPORT_OBJECT));
    EXPECT_STREQ("{\"inner\":{\"x\":\"y\"}}\n", result.extract("nested", Result::EXPORT_OBJECT));
    EXPECT_STREQ("{\"x\":\"y\"}\n", result.extract("nested.inner", Result::EXPORT_ANY));
    EXPECT_STREQ("list", result.extract("kind", Result::EXPORT_STRING));
    EXPECT_STREQ("list", result.extract("kind", Result::EXPORT_ANY));
    EXPECT_STREQ("list", result.getVectorResultField("kind"));
    EXPECT_STREQ("list", result.extract("kind", static_cast<Result::ExportType>(9)));
    EXPECT_EQ(nullptr, result.extract("ok", Result::EXPORT_ANY));  // booleans are not exported
    EXPECT_EQ(nullptr, result.extract("kind.x", Result::EXPORT_ANY));
    EXPECT_EQ(nullptr, result.extract(nullptr, Result::EXPORT_ANY));

    Result array;
    array.setText("[1,2,3]");
    ASSERT_TRUE(array.changeTypeToJson());
    EXPECT_EQ(3, array.count(nullptr));
    EXPECT_EQ(3, array.count(""));
}

}  // namespace
}  // namespace tarvik
