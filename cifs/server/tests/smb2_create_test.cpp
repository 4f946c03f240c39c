// SMB2 CREATE and CLOSE through the dispatcher: names and contexts bounded
// by the message, the answered contexts, the batch oplock and its break
// between two connections, deferred opens, CANCEL and the acknowledgment.
#include "smb2_open_fixture.h"

#include "cstrans.h"

namespace {

using namespace smb2_open_test;
using CreateTest = OpenTest;

TEST_F(CreateTest, CreateAnswersTheFileAndCloseReleasesIt)
{
    Bytes m = create(a, {"new.txt", 2});
    ASSERT_GE(m.size(), 64u + 88u);
    EXPECT_EQ(answerAt(m, 0).status, 0u);
    EXPECT_EQ(get_le16(&m[64]), 89);
    EXPECT_EQ(get_le32(&m[64 + 4]), 2u);  // created
    EXPECT_TRUE(exists(at("new.txt")));
    const uint16_t fid = fidOf(m);
    EXPECT_NE(fid, 0);
    EXPECT_EQ(get_le32(&m[64 + 80]), 0u);  // no contexts answered
    EXPECT_EQ(get_le32(&m[64 + 84]), 0u);

    // Opening it again finds it; a second create refuses.
    m = create(a, {"new.txt", 1});
    EXPECT_EQ(answerAt(m, 0).status, 0u);
    EXPECT_EQ(get_le32(&m[64 + 4]), 1u);
    EXPECT_EQ(answerAt(create(a, {"new.txt", 2}), 0).status, 0xC0000035u);

    struct Case {
        uint16_t flags;
        bool attributes;
    } cases[] = {{0, false}, {1, true}};
    for (const Case &c : cases) {
        Bytes opened = create(a, {"new.txt", 1});
        Bytes closed = call(a, kClose, closeBody(fidOf(opened), c.flags));
        ASSERT_EQ(closed.size(), 64u + 60u);
        EXPECT_EQ(answerAt(closed, 0).status, 0u);
        EXPECT_EQ(get_le16(&closed[64]), 60);
        EXPECT_EQ(get_le16(&closed[66]), 0);  // Flags stays 0
        EXPECT_EQ(get_le32(&closed[64 + 56]) != 0, c.attributes) << c.flags;
        if (!c.attributes)
            EXPECT_EQ(Bytes(closed.begin() + 72, closed.end()), Bytes(52, 0));
    }
    EXPECT_EQ(answerAt(call(a, kClose, closeBody(fid)), 0).status, 0u);
    EXPECT_EQ(answerAt(call(a, kClose, closeBody(fid)), 0).status, 0xC0000008u);
}

TEST_F(CreateTest, NamesAndContextsOutsideTheMessageAreRefused)
{
    EXPECT_EQ(answerAt(create(a, {std::string(513, 'n')}), 0).status, 0xC0000033u);
    EXPECT_EQ(answerAt(create(a, {std::string(200, 'n'), 2}), 0).status, 0u);

    Bytes body = createBody({"x"});
    put_le16(body, 0);
    body[44] = 0xF0;  // NameOffset far behind the message
    EXPECT_EQ(answerAt(call(a, kCreate, body), 0).status, 0xC000000Du);

    body = createBody({"x", 3, 0, 0x0012019F, 7, 0, context("MxAc")});
    body[body.size() - 24] = 0x40;  // Next past the chain
    EXPECT_EQ(answerAt(call(a, kCreate, body), 0).status, 0xC000000Du);
    body = createBody({"y", 3, 0, 0x0012019F, 7, 0, context("ALSi", Bytes(8, 1))});
    body[body.size() - 20] = 0x80;  // DataLength past the context
    EXPECT_EQ(answerAt(call(a, kCreate, body), 0).status, 0xC000000Du);
    EXPECT_FALSE(exists(at("x")));
    EXPECT_FALSE(exists(at("y")));
}

TEST_F(CreateTest, DispositionsPastOverwriteIfAreRefused)
{
    put("kept");
    for (uint32_t disposition : {6u, 7u, 0xFFFFFFFFu})
        for (const char *name : {"kept", "new"}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(disposition));
            EXPECT_EQ(answerAt(create(a, {name, disposition}), 0).status, 0xC000000Du);
        }
    EXPECT_FALSE(exists(at("new")));
    EXPECT_EQ(csGetFilesCount(), 0u);
}

TEST_F(CreateTest, ContextsAreAnsweredAsTheirRowsSay)
{
    Bytes m = create(a, {"mx", 2, 0, 0x0012019F, 7, 0, context("MxAc")});
    ASSERT_EQ(answerAt(m, 0).status, 0u);
    ASSERT_EQ(get_le32(&m[64 + 80]), 152u);
    ASSERT_EQ(get_le32(&m[64 + 84]), 32u);
    ASSERT_GE(m.size(), 152u + 32u);
    EXPECT_EQ(std::string(m.begin() + 152 + 16, m.begin() + 152 + 20), "MxAc");
    EXPECT_EQ(get_le32(&m[152 + 24]), 0u);
    EXPECT_EQ(get_le32(&m[152 + 28]), 0x001F01FFu);

    m = create(a, {"dq", 2, 0, 0x0012019F, 7, 0, context("DHnQ", Bytes(16, 0))});
    ASSERT_EQ(answerAt(m, 0).status, 0u);
    EXPECT_EQ(get_le32(&m[64 + 80]), 0u);
    EXPECT_EQ(get_le32(&m[64 + 84]), 0u);

    // A reconnect names a handle never kept: nothing is opened or made.
    m = create(a, {"dc", 3, 0, 0x0012019F, 7, 0, context("DHnC", Bytes(16, 0))});
    EXPECT_EQ(answerAt(m, 0).status, 0xC0000034u);
    EXPECT_FALSE(exists(at("dc")));
    EXPECT_EQ(csGetFilesCount(), 2u);

    m = create(a, {"big", 2, 0, 0x0012019F, 7, 0, context("ALSi", Bytes{0, 0x10, 0, 0, 0, 0, 0, 0})});
    EXPECT_EQ(answerAt(m, 0).status, 0u);

    // The host keeps no descriptors: the empty one passes, any other is
    // refused and leaves no file behind.
    uint32_t length = 0;
    const uint8_t *empty = csGetEmptySd(7, &length);
    m = create(a, {"sd-empty", 2, 0, 0x0012019F, 7, 0, context("SecD", Bytes(empty, empty + length))});
    EXPECT_EQ(answerAt(m, 0).status, 0u);
    EXPECT_TRUE(exists(at("sd-empty")));
    Bytes other(empty, empty + length);
    other.back() ^= 0xFF;
    m = create(a, {"sd-other", 2, 0, 0x0012019F, 7, 0, context("SecD", other)});
    EXPECT_EQ(answerAt(m, 0).status, 0xC00000BBu);
    EXPECT_FALSE(exists(at("sd-other")));
}

TEST_F(CreateTest, OnlyABatchRequestOnAWritableFileGetsBatch)
{
    put("w.txt");
    put("ro.txt");
    ::chmod(at("ro.txt").c_str(), 0444);
    ::mkdir(at("dir").c_str(), 0755);
    struct Case {
        const char *name;
        uint8_t asked;
        uint8_t granted;
    } cases[] = {{"w.txt", 9, 9},    {"w.txt", 8, 0},  {"w.txt", 1, 0},
                 {"w.txt", 0xFF, 0}, {"ro.txt", 9, 0}, {"dir", 9, 0}};
    for (const Case &c : cases) {
        Open o{c.name};
        o.oplock = c.asked;
        o.access = std::string(c.name) == "ro.txt" ? 0x00120089 : 0x0012019F;
        Bytes m = create(a, o);
        ASSERT_EQ(answerAt(m, 0).status, 0u) << c.name;
        EXPECT_EQ(m[66], c.granted) << c.name << " asked " << int(c.asked);
        EXPECT_EQ(answerAt(call(a, kClose, closeBody(fidOf(m))), 0).status, 0u);
    }
}

TEST_F(CreateTest, DeleteOnCloseDeletesAnEmptyFileAndRefusesAFullDirectory)
{
    put("gone.txt");
    Open o{"gone.txt", 1, 0x1000, 0x00110080};
    Bytes m = create(a, o);
    ASSERT_EQ(answerAt(m, 0).status, 0u);
    EXPECT_EQ(answerAt(call(a, kClose, closeBody(fidOf(m))), 0).status, 0u);
    EXPECT_FALSE(exists(at("gone.txt")));

    ::mkdir(at("full").c_str(), 0755);
    put("full/kept");
    m = create(a, {"full", 1, 0x1001, 0x00110080});
    EXPECT_EQ(answerAt(m, 0).status, 0xC0000101u);
    EXPECT_TRUE(exists(at("full/kept")));
}

TEST_F(CreateTest, TraversalIsRefusedAndTouchesNothing)
{
    const std::string outside = "smb2-create-outside";
    for (const std::string &name : {"..\\" + outside, "..\\..\\" + outside, "a\\..\\..\\" + outside}) {
        Bytes m = create(a, {name, 2});
        EXPECT_NE(answerAt(m, 0).status, 0u) << name;
        m = create(a, {name, 2, 1});
        EXPECT_NE(answerAt(m, 0).status, 0u) << name;
    }
    EXPECT_FALSE(exists(root + "/../" + outside));
    EXPECT_FALSE(exists(root + "/../../" + outside));
}

// A holds batch on f; B's open waits until A lets go, in each way A can.
TEST_F(CreateTest, ABatchHolderIsBrokenAndItsWaiterAnsweredOnce)
{
    enum Release { Acknowledge, Close, Dies, TimesOut, Cancel };
    for (Release how : {Acknowledge, Close, Dies, TimesOut, Cancel}) {
        SCOPED_TRACE(int(how));
        join(b);
        put("f");
        Open batch{"f"};
        batch.oplock = 9;
        Bytes held = create(a, batch);
        ASSERT_EQ(answerAt(held, 0).status, 0u);
        ASSERT_EQ(held[66], 9);
        const uint16_t holderFid = fidOf(held);

        const Element open = element(b, kCreate, createBody(batch));
        post(b, open);
        Bytes interim = next(b);
        ASSERT_FALSE(interim.empty());
        Answer i = answerAt(interim, 0);
        EXPECT_EQ(i.status, kPending);
        EXPECT_TRUE(i.flags & 0x02);
        EXPECT_EQ(i.mid, open.mid);
        const uint64_t aid = get_le64(&interim[32]);
        EXPECT_NE(aid, 0u);

        Bytes brk = next(a);
        ASSERT_EQ(brk.size(), 64u + 24u);
        EXPECT_EQ(answerAt(brk, 0).command, kOplockBreak);
        EXPECT_EQ(answerAt(brk, 0).mid, ~uint64_t(0));
        EXPECT_EQ(get_le16(&brk[64 + 8]), holderFid);

        // A second opener waits without a second break.
        EXPECT_TRUE(next(b).empty());
        switch (how) {
        case Acknowledge: {
            Bytes ack = call(a, kOplockBreak, ackBody(holderFid));
            EXPECT_EQ(answerAt(ack, 0).status, 0u);
            EXPECT_EQ(answerAt(ack, 0).command, kOplockBreak);
            break;
        }
        case Close:
            EXPECT_EQ(answerAt(call(a, kClose, closeBody(holderFid)), 0).status, 0u);
            break;
        case Dies:
            csReleaseSessions(&a.slot, 1);
            break;
        case TimesOut:
            csOplockExpire(1);  // nothing yet
            EXPECT_TRUE(next(b).empty());
            csOplockExpire(~uint64_t(0) >> 1);
            break;
        case Cancel: {
            Element cancel = element(b, kCancel, Bytes{4, 0, 0, 0});
            cancel.flags = 0x02;
            Bytes m = compound({cancel});
            std::memcpy(&m[32], &aid, 8);
            csDispatchSetSocket(&b.slot);
            uint32_t n = uint32_t(m.size());
            uint8_t h[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
            ASSERT_EQ(::write(b.peer, h, 4), 4);
            ASSERT_EQ(::write(b.peer, m.data(), m.size()), ssize_t(m.size()));
            ASSERT_EQ(csDispatchRequest(&b.slot, &address), 0);
            break;
        }
        }
        Bytes late = next(b);
        ASSERT_FALSE(late.empty());
        Answer l = answerAt(late, 0);
        EXPECT_EQ(l.mid, open.mid);
        EXPECT_EQ(l.command, kCreate);
        EXPECT_TRUE(l.flags & 0x02);
        EXPECT_EQ(get_le64(&late[32]), aid);
        if (how == Cancel) {
            EXPECT_EQ(l.status, 0xC0000120u);
        } else {
            EXPECT_EQ(l.status, 0u);
            EXPECT_EQ(late[66], 0);  // no oplock for the waiter
            EXPECT_EQ(answerAt(call(b, kClose, closeBody(fidOf(late))), 0).status, 0u);
        }
        EXPECT_TRUE(next(b).empty());
        csReleaseSessions(&b.slot, 1);
        csReleaseSessions(&a.slot, 1);
        EXPECT_EQ(csGetFilesCount(), 0u);
        join(a);
    }
}

TEST_F(CreateTest, AcknowledgmentsAndCancelsForNothing)
{
    put("f");
    Bytes m = create(a, {"f"});
    EXPECT_EQ(answerAt(call(a, kOplockBreak, ackBody(fidOf(m))), 0).status, 0xC0000184u);
    EXPECT_EQ(answerAt(call(a, kOplockBreak, ackBody(0x7777)), 0).status, 0xC0000128u);

    // A CANCEL is never answered: neither one naming nothing by AsyncId, nor
    // a sync one without a tree (as smbtorture's client sends before the
    // interim answer of its request).
    for (bool async : {true, false}) {
        Element cancel = element(a, kCancel, Bytes{4, 0, 0, 0});
        if (async) {
            cancel.flags = 0x02;
        } else {
            cancel.tid = 0;
            cancel.mid = 0;
        }
        post(a, cancel);
        EXPECT_TRUE(next(a).empty()) << (async ? "async" : "sync");
    }
}

TEST(AsyncIdTest, IdsFollowEachOther)
{
    CMUint64 first = cs2GenerateNextAsyncId(nullptr), second{};
    cs2GenerateNextAsyncId(&second);
    EXPECT_NE(first.low, 0u);
    EXPECT_EQ(second.low, first.low + 1);
    EXPECT_EQ(second.high, 0u);
}

}  // namespace
