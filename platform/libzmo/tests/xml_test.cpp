#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zmo.h"

namespace {
struct Xml : ::testing::Test {
    zmo_pool_t *pool = zmo_pool_new();
    ~Xml() override { zmo_pool_free(pool); }
    zmo_xml_node_t *parse(const std::string &s) { return zmo_xml_parse(pool, s.data(), s.size()); }
};

TEST_F(Xml, ReadsElementsTextAndAttributes)
{
    zmo_xml_node_t *root =
        parse("<?xml version=\"1.0\"?>\n<!-- event -->\n"
              "<event name=\"ConfigurationSaved\" id='7'>\n"
              "  <item>a &amp; b &lt;c&gt; &#65;&#x20AC;</item><item/><other><![CDATA[<raw>]]></other>\n"
              "</event>\n");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(zmo_xml_node_name(root), "event");
    EXPECT_STREQ(zmo_xml_node_attribute(root, "name"), "ConfigurationSaved");
    EXPECT_STREQ(zmo_xml_node_attribute(root, "id"), "7");
    EXPECT_EQ(zmo_xml_node_attribute(root, "nope"), nullptr);
    zmo_xml_node_t *item = zmo_xml_node_first_child(root, "item");
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(zmo_xml_node_value(item), "a & b <c> A\xe2\x82\xac");
    zmo_xml_node_t *second = zmo_xml_node_next_sibling(item, "item");
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(zmo_xml_node_value(second), "");
    EXPECT_EQ(zmo_xml_node_next_sibling(second, "item"), nullptr);
    EXPECT_STREQ(zmo_xml_node_value(zmo_xml_node_first_child(root, "other")), "<raw>");
    EXPECT_STREQ(zmo_xml_node_name(zmo_xml_node_first_child(root, nullptr)), "item");
    EXPECT_EQ(zmo_xml_node_first_child(root, "missing"), nullptr);
}

TEST_F(Xml, RefusesMalformedText)
{
    const char *bad[] = {"",
                         "<a>",
                         "<a></b>",
                         "<a><b></a></b>",
                         "<a x=1/>",
                         "<a>&bogus;</a>",
                         "<a>&#0;</a>",
                         "<a/><b/>",
                         "text",
                         "<a x=\"1\" x2></a>",
                         "<a><!-- open </a>",
                         "<1a/>"};
    for (const char *text : bad) {
        errno = 0;
        EXPECT_EQ(parse(text), nullptr) << text;
        EXPECT_EQ(errno, EBADMSG) << text;
    }
    std::string deep;
    for (int i = 0; i < 1000; ++i)
        deep += "<a>";
    for (int i = 0; i < 1000; ++i)
        deep += "</a>";
    EXPECT_EQ(parse(deep), nullptr);
}

TEST_F(Xml, LengthBoundsTheInput)
{
    const char text[] = "<a>x</a>GARBAGE";
    EXPECT_NE(zmo_xml_parse(pool, text, 8), nullptr);
    EXPECT_EQ(zmo_xml_parse(pool, text, 7), nullptr);
}
}  // namespace
