#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "agent.h"
#include "cloud.h"
#include "fake_scgi.h"

namespace {

struct Parsed {
    int rc;
    std::string payload;
};

Parsed payload_of(const char *type, const std::string &xml)
{
    zmo_pool_t *pool = zmo_pool_new();
    zmo_xml_node_t *root = zmo_xml_parse(pool, xml.data(), xml.size());
    EXPECT_NE(root, nullptr) << xml;
    char *p = nullptr;
    Parsed r{event_payload(type, root, &p), p ? p : ""};
    std::free(p);
    zmo_pool_free(pool);
    return r;
}

// The payload's one object's attribute, read back as JSON.
std::string attribute(const std::string &payload, const char *name)
{
    zmo_pool_t *pool = zmo_pool_new();
    zmo_json_value_t *root = nullptr;
    std::string wrapped = "{\"p\":" + payload + "}";
    EXPECT_EQ(zmo_json_object_parse(pool, wrapped.c_str(), &root), 0) << payload;
    zmo_json_value_t *a = zmo_json_object_get(zmo_json_array_get(zmo_json_object_get(root, "p"), 0), "a");
    const zmo_json_value_t *v = zmo_json_object_get(a, name);
    std::string out = "<none>";
    unsigned short n;
    if (zmo_json_value_get_string(v))
        out = zmo_json_value_get_string(v);
    else if (zmo_json_value_get_ushort(v, &n))
        out = "#" + std::to_string(n);
    zmo_pool_free(pool);
    return out;
}

TEST(EventPayload, KnownHostNamesParseBackToTheSameValues)
{
    const std::string nasty = "a\"b\\c&#1;d&#9;e";  // quote, backslash, control bytes
    Parsed r =
        payload_of("Event::Type::KnownHost", "<e><mac>aa:bb:cc:dd:ee:ff</mac><action>rename</action>"
                                             "<old-name>" +
                                                 nasty + "</old-name><new-name>x\"}],[{</new-name></e>");
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(attribute(r.payload, "mac"), "aa:bb:cc:dd:ee:ff");
    EXPECT_EQ(attribute(r.payload, "act"), "rename");
    EXPECT_EQ(attribute(r.payload, "old-name"), "a\"b\\c\x01"
                                                "d\te");
    EXPECT_EQ(attribute(r.payload, "new-name"), "x\"}],[{");
}

TEST(EventPayload, Wan)
{
    Parsed r =
        payload_of("Event::Type::Wan", "<e><id>ISP</id><name>my \"wan\"</name><priority>700</priority></e>");
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(r.payload,
              "[{\"t\":\"Wan\",\"a\":{\"id\":\"ISP\",\"name\":\"my \\\"wan\\\"\",\"priority\":700}}]");
    EXPECT_EQ(payload_of("Event::Type::Wan", "<e><id></id><name>x</name></e>").rc, 0);
    struct Case {
        const char *xml;
    } failing[] = {
        {"<e><id>ISP</id><name>x</name></e>"},
        {"<e><id>ISP</id><priority>1</priority></e>"},
        {"<e><name>x</name><priority>1</priority></e>"},
        {"<e><id>ISP</id><name>x</name><priority>1,\"y\":2</priority></e>"},
        {"<e><id>ISP</id><name>x</name><priority></priority></e>"},
    };
    for (const Case &c : failing) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(payload_of("Event::Type::Wan", c.xml).rc, -1);
    }
}

TEST(EventPayload, ConfigurationSavedTakesTheChecksum)
{
    FakeScgi core;
    std::string checksum = "\"0123456789abcdef0123456789abcdef\"";
    core.reply = [&](const ScgiRequest &) { return "Status: 200 OK\r\n\r\n" + checksum; };
    Parsed r = payload_of("Event::Type::ConfigurationSaved", "<e/>");
    ASSERT_EQ(r.rc, 1);
    EXPECT_EQ(r.payload,
              "[{\"t\":\"ConfigurationSaved\",\"a\":{\"c\":\"0123456789abcdef0123456789abcdef\"}}]");
    EXPECT_EQ(core.requests().at(0).get("REQUEST_URI"), "/rci/show/last-change/checksum");
    checksum = "\"0123456789abcdef0123456789abcdef0\"";
    EXPECT_EQ(payload_of("Event::Type::ConfigurationSaved", "<e/>").rc, -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(payload_of("Event::Type::Other", "<e/>").rc, 0);
}

TEST(CoreJsonString, OnlyAWholeStringIsTaken)
{
    FakeScgi core;
    std::string body;
    core.reply = [&](const ScgiRequest &) { return "Status: 200 OK\r\n\r\n" + body; };
    struct Case {
        const char *body;
        int err;  // 0: taken
        const char *value;
    } cases[] = {
        {"\"4.1.2\"", 0, "4.1.2"}, {"\"4.1.2\"\n", 0, "4.1.2"},
        {"\"\"", 0, ""},           {"\"", EBADE, ""},
        {"x", EBADE, ""},          {"", EBADE, ""},
        {"4.1", EBADE, ""},        {"\"a\"b\"", EBADE, ""},
        {"\"a\\\"\"", EBADE, ""},  {"\"12345678901234567890\"", ENOSPC, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        body = c.body;
        char out[AGENT_CORE_VERSION_MAX + 1] = "";
        errno = 0;
        int rc = core_json_string("/rci/show/version/release", out, AGENT_CORE_VERSION_MAX);
        EXPECT_EQ(rc, c.err ? -1 : 0);
        if (c.err) {
            EXPECT_EQ(errno, c.err);
        } else {
            EXPECT_STREQ(out, c.value);
        }
    }
}

}  // namespace
