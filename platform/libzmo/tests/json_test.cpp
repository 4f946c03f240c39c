#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "fw_test/matchers.h"
#include "zmo.h"

using fw_test::HasSubstr;

namespace {
struct PoolFixture : ::testing::Test {
    zmo_pool_t *pool = zmo_pool_new();
    ~PoolFixture() override { zmo_pool_free(pool); }

    std::string print(const zmo_json_value_t *o, int compact = 1)
    {
        size_t len = 0;
        char *text = zmo_json_object_print(o, compact, &len);
        EXPECT_NE(text, nullptr);
        std::string s = text ? std::string(text, len) : "";
        free(text);
        return s;
    }
};

using Json = PoolFixture;

TEST_F(Json, ParseAndPrintKeepMemberOrder)
{
    const char *text = R"({"zeta":1,"alpha":{"y":true,"b":null,"a":[3,"x",{"k":"v"}]},"mid":"m"})";
    zmo_json_value_t *root = nullptr;
    ASSERT_EQ(zmo_json_object_parse(pool, text, &root), 0);
    ASSERT_EQ(zmo_json_object_size(root), 3u);
    EXPECT_STREQ(zmo_json_object_member_name(root, 0), "zeta");
    EXPECT_STREQ(zmo_json_object_member_name(root, 1), "alpha");
    EXPECT_STREQ(zmo_json_object_member_name(root, 2), "mid");
    EXPECT_EQ(print(root), text);
}

TEST_F(Json, BuiltObjectsPrintInInsertionOrderAndReplaceInPlace)
{
    zmo_json_value_t *o = zmo_json_object_new(pool);
    zmo_json_value_t *peer = zmo_json_object_set_object(o, "cid-2");
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(zmo_json_object_set_string(peer, "name", "kitchen"));
    ASSERT_TRUE(zmo_json_object_set_ushort(peer, "port", 8080));
    // Many more members after the first child: the child's handle stays valid.
    for (int i = 0; i < 50; ++i)
        zmo_json_object_set_boolean(o, ("k" + std::to_string(i)).c_str(), i % 2);
    ASSERT_TRUE(zmo_json_object_set_string(peer, "ip", "10.0.0.2"));
    ASSERT_TRUE(zmo_json_object_set_string(o, "cid-2b", "x"));
    ASSERT_TRUE(zmo_json_object_set_ushort(peer, "port", 81));  // replaced where it stands
    std::string s = print(o);
    const std::string first = R"({"cid-2":{"name":"kitchen","port":81,"ip":"10.0.0.2"},)";
    EXPECT_EQ(s.substr(0, first.size()), first);
    EXPECT_THAT(s, HasSubstr(R"("k49":true,"cid-2b":"x"})"));
}

TEST_F(Json, GettersCheckTypeAndRange)
{
    zmo_json_value_t *root = nullptr;
    ASSERT_EQ(zmo_json_object_parse(pool,
                                    R"({"u8":255,"u9":256,"neg":-1,"f":3.0,"big":18446744073709551615,
                                      "s":"text","b":false,"o":{},"a":[1,2]})",
                                    &root),
              0);
    unsigned char uc = 0;
    unsigned short us = 0;
    unsigned long long ull = 0;
    int b = 7;
    EXPECT_TRUE(zmo_json_value_get_uchar(zmo_json_object_get(root, "u8"), &uc));
    EXPECT_EQ(uc, 255);
    EXPECT_FALSE(zmo_json_value_is_uchar(zmo_json_object_get(root, "u9")));
    EXPECT_TRUE(zmo_json_value_get_ushort(zmo_json_object_get(root, "u9"), &us));
    EXPECT_EQ(us, 256);
    EXPECT_FALSE(zmo_json_value_is_ushort(zmo_json_object_get(root, "neg")));
    EXPECT_FALSE(zmo_json_value_is_uchar(zmo_json_object_get(root, "f")));
    EXPECT_TRUE(zmo_json_value_get_ullong(zmo_json_object_get(root, "big"), &ull));
    EXPECT_EQ(ull, 18446744073709551615ULL);
    EXPECT_STREQ(zmo_json_value_get_string(zmo_json_object_get(root, "s")), "text");
    EXPECT_EQ(zmo_json_value_get_string(zmo_json_object_get(root, "u8")), nullptr);
    EXPECT_TRUE(zmo_json_value_get_boolean(zmo_json_object_get(root, "b"), &b));
    EXPECT_EQ(b, 0);
    EXPECT_NE(zmo_json_value_get_object(zmo_json_object_get(root, "o")), nullptr);
    EXPECT_EQ(zmo_json_value_get_object(zmo_json_object_get(root, "a")), nullptr);
    zmo_json_value_t *a = zmo_json_value_get_array(zmo_json_object_get(root, "a"));
    ASSERT_EQ(zmo_json_array_size(a), 2u);
    EXPECT_TRUE(zmo_json_value_get_ushort(zmo_json_array_get(a, 1), &us));
    EXPECT_EQ(us, 2);
    EXPECT_EQ(zmo_json_array_get(a, 2), nullptr);
    EXPECT_EQ(zmo_json_object_get(root, "missing"), nullptr);
}

TEST_F(Json, RefusesBadDocuments)
{
    const char *bad[] = {"",        "[1,2]",           "\"s\"", "{", R"({"a":1,})", R"({"a":1} trailing)",
                         "{'a':1}", "{\"a\":\"\xff\"}"};
    for (const char *text : bad) {
        zmo_json_value_t *root = nullptr;
        EXPECT_EQ(zmo_json_object_parse(pool, text, &root), -1) << text;
    }
    std::string deep = "{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
    zmo_json_value_t *root = nullptr;
    EXPECT_EQ(zmo_json_object_parse(pool, deep.c_str(), &root), -1);
}

TEST_F(Json, PoolClearFreesAndPoolIsReusable)
{
    zmo_json_value_t *root = nullptr;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(zmo_json_object_parse(pool, R"({"x":[1,2,3]})", &root), 0);
        EXPECT_EQ(print(root, 0), "{\n  \"x\": [\n    1,\n    2,\n    3\n  ]\n}");
        zmo_pool_clear(pool);
    }
}

TEST_F(Json, PrintsStringsThatAreNotUtf8)
{
    zmo_json_value_t *o = zmo_json_object_new(pool);
    zmo_json_object_set_string(o, "desc", "a\xff\"b\n");
    EXPECT_EQ(print(o), "{\"desc\":\"a\xef\xbf\xbd\\\"b\\n\"}");
}
}  // namespace
