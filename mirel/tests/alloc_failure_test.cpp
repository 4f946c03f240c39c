// Every allocation through the table fails in turn: each operation either
// succeeds or fails cleanly, and LeakSanitizer sees nothing left behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "coap_uri.h"
#include "test_util.h"

using namespace mirel_test;

namespace {

int g_left = -1;  // allocations that still succeed; -1 = no limit

// Like the C library's allocator, a refusal sets ENOMEM.
bool take()
{
    if (g_left == 0) {
        errno = ENOMEM;
        return false;
    }
    if (g_left > 0)
        g_left--;
    return true;
}
void *f_calloc(size_t n, size_t s) { return take() ? calloc(n, s) : nullptr; }
void *f_malloc(size_t s) { return take() ? malloc(s) : nullptr; }
void *f_realloc(void *p, size_t s) { return take() ? realloc(p, s) : nullptr; }
char *f_strdup(const char *t) { return take() ? strdup(t) : nullptr; }
char *f_strndup(const char *t, size_t n) { return take() ? strndup(t, n) : nullptr; }

struct FailingAllocator : ::testing::Test {
    void SetUp() override { Mem_Setup(f_calloc, f_malloc, f_realloc, free, f_strdup, f_strndup); }
    void TearDown() override
    {
        g_left = -1;
        Mem_Setup(calloc, malloc, realloc, free, strdup, strndup);
    }

    // Runs op with 0, 1, 2 ... allocations allowed until it succeeds.
    void each_failure(const char *what, const std::function<bool()> &op)
    {
        for (int allowed = 0; allowed < 10000; allowed++) {
            g_left = allowed;
            errno = 0;
            bool ok = op();
            g_left = -1;
            if (ok)
                return;
            EXPECT_EQ(errno, ENOMEM) << what << " with " << allowed << " allocations";
        }
        FAIL() << what << " never succeeded";
    }
};

const Bytes kDatagram = hex("48 02 01 02 0102030405060708 B3 7A6D6F 05 6C6F67696E 41 61 "
                            "D1 00 32 FF 68656C6C6F");

TEST_F(FailingAllocator, Decode)
{
    each_failure("FromBytes", [] {
        struct CoAPMessage *m = CoAPMessage_FromBytes(kDatagram.data(), kDatagram.size());
        CoAPMessage_Decref(m);
        return m != nullptr;
    });
}

TEST_F(FailingAllocator, CloneEncodePrint)
{
    g_left = -1;
    Msg m(CoAPMessage_FromBytes(kDatagram.data(), kDatagram.size()));
    ASSERT_TRUE(m);
    each_failure("Clone", [&] {
        struct CoAPMessage *c = CoAPMessage_Clone(m.get(), 1);
        CoAPMessage_Decref(c);
        return c != nullptr;
    });
    each_failure("ToBytes", [&] {
        uint8_t *b = CoAPMessage_ToBytes(m.get(), nullptr);
        Mem_free(b);
        return b != nullptr;
    });
    each_failure("ToBuf", [&] {
        struct Buf *b = Buf();
        bool ok = b && CoAPMessage_ToBuf(m.get(), b) == 0;
        Buf_Free(b);
        return ok;
    });
    each_failure("GetOptions", [&] {
        struct CoAPMessage_OptionList list {};
        bool ok = CoAPMessage_GetOptions(m.get(), COAP_OPTION_URI_PATH, &list) == 0;
        CoAPMessage_GetOptionsFree(&list);
        return ok;
    });
}

TEST_F(FailingAllocator, Uris)
{
    each_failure("Uri_Parse", [] {
        struct Uri u;
        bool ok = Uri_Parse(&u, "coaps://10.0.0.1:5684/a/b?x=1&y") == 0;
        if (ok)
            Uri_ParseFree(&u);
        return ok;
    });
    each_failure("Uri_QueryParse", [] {
        struct Uri_QueryHead h {};
        bool ok = Uri_QueryParse("?a=1&b=x%20y&c", &h, 1) == 0;
        Uri_QueryHeadFree(&h);
        return ok;
    });
    each_failure("SetUri and GetUri", [] {
        struct CoAPMessage *m = CoAPMessage(0, 1, 1);
        bool ok = m && CoAPMessage_SetUri(m, "coap://192.0.2.1/a/b?x=1&y=2", 0) == 0;
        char *back = ok ? CoAPMessage_GetUri(m) : nullptr;
        ok = ok && back && std::strcmp(back, "coap://192.0.2.1/a/b?x=1&y=2") == 0;
        Mem_free(back);
        CoAPMessage_Decref(m);
        return ok;
    });
}

}  // namespace
