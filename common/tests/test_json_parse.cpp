#include "kit/json_parse.h"

#include <gtest/gtest.h>

namespace {

std::string Nested(unsigned depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// Counts the strings of a document, as a reader of events does.
struct StringCounter : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, StringCounter> {
    bool String(const char*, rapidjson::SizeType, bool) {
        ++strings;
        return true;
    }
    int strings = 0;
};

TEST(JsonParse, NestingUpToTheCapIsReadAndDeeperIsRefused) {
    rapidjson::Document doc;
    EXPECT_TRUE(kit::ParseJson(Nested(kit::kJsonMaxDepth), doc));
    EXPECT_TRUE(doc.IsArray());
    EXPECT_FALSE(kit::ParseJson(Nested(kit::kJsonMaxDepth + 1), doc));
    EXPECT_TRUE(doc.IsNull());
    EXPECT_TRUE(kit::ParseJson(Nested(3), doc, 3));
    EXPECT_FALSE(kit::ParseJson("{\"a\":{\"b\":{\"c\":[1]}}}", doc, 3));
}

TEST(JsonParse, HugeNestingsAreRefusedWithoutExhaustingTheStack) {
    rapidjson::Document doc;
    const std::string arrays(200000, '[');
    EXPECT_FALSE(kit::ParseJson(arrays, doc));
    std::string objects;
    for (int i = 0; i < 200000; ++i) objects += "{\"a\":";
    EXPECT_FALSE(kit::ParseJson(objects, doc));
    // Without a cap the iterative reader still needs no stack: the limit is the caller's choice.
    EXPECT_FALSE(kit::ParseJson(arrays, doc, 1000000));

    StringCounter counter;
    EXPECT_FALSE(kit::ParseJsonEvents("[\"x\"," + arrays, counter));
    EXPECT_EQ(counter.strings, 1);  // events before the refusal were delivered
}

TEST(JsonParse, DocumentsAreReadWhole) {
    rapidjson::Document doc;
    ASSERT_TRUE(kit::ParseJson("{\"name\":\"a\\u0000b\",\"list\":[1,2.5,true,null]}", doc));
    EXPECT_EQ(std::string(doc["name"].GetString(), doc["name"].GetStringLength()), std::string("a\0b", 3));
    EXPECT_EQ(doc["list"].Size(), 4u);
    EXPECT_FALSE(kit::ParseJson("{\"a\":1} trailing", doc));
    EXPECT_FALSE(kit::ParseJson("", doc));
    EXPECT_FALSE(kit::ParseJson(std::string("{\"a\":\"x\0y\"}", 11), doc));
}

}  // namespace
