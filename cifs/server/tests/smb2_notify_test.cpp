// SMB2 CHANGE_NOTIFY: requests parked on a directory, completed by a change
// at or (watching the tree) under it, by CANCEL or by the handle's end.
#include "smb2_open_fixture.h"

namespace {

using namespace smb2_open_test;

constexpr uint16_t kChangeNotify = 15, kCancel = 12, kCreate = 5, kClose = 6;
constexpr uint32_t kPending = 0x103, kEnumDir = 0x10C, kCleanup = 0x10B;

Bytes notifyBody(uint16_t fid, bool watchTree)
{
    Bytes b;
    put_le16(b, 32);
    put_le16(b, watchTree ? 1 : 0);
    put_le32(b, 4096);
    Bytes f = fidBytes(fid);
    b.insert(b.end(), f.begin(), f.end());
    put_le32(b, 0x17);
    put_le32(b, 0);
    return b;
}

class NotifyTest : public OpenTest {
protected:
    uint16_t openDirectory(Client &c, const std::string &name)
    {
        Bytes m = create(c, {name, 1, 1, 0x00100081});
        EXPECT_EQ(answerAt(m, 0).status, 0u) << name;
        return fidOf(m);
    }
    // Parks a request: the interim answer's AsyncId.
    uint64_t park(Client &c, uint16_t fid, bool watchTree, const Element **sent = nullptr)
    {
        last = element(c, kChangeNotify, notifyBody(fid, watchTree));
        post(c, last);
        Bytes interim = next(c);
        EXPECT_FALSE(interim.empty());
        if (interim.empty())
            return 0;
        Answer i = answerAt(interim, 0);
        EXPECT_EQ(i.status, kPending);
        EXPECT_TRUE(i.flags & 0x02);
        if (sent)
            *sent = &last;
        return get_le64(&interim[32]);
    }
    void change(const std::string &relative, uint32_t action)
    {
        std::vector<CMWchar> path(1100, 0);
        cmAnsiToUnicode(path.data(), at(relative).c_str());
        csNotifyImmediatelly(path.data(), action, 0x17);
    }
    // The late answer to the parked request, or 0 when none came.
    uint32_t completion(Client &c, uint64_t aid)
    {
        Bytes m = next(c);
        if (m.empty())
            return 0;
        Answer l = answerAt(m, 0);
        EXPECT_EQ(l.command, kChangeNotify);
        EXPECT_EQ(l.mid, last.mid);
        EXPECT_EQ(get_le64(&m[32]), aid);
        EXPECT_EQ(get_le16(&m[64]), 9);
        return l.status;
    }
    Element last;
};

TEST_F(NotifyTest, ChangesCompleteTheWatchersThatCoverThem)
{
    ::mkdir(at("A").c_str(), 0755);
    ::mkdir(at("A/b").c_str(), 0755);
    ::mkdir(at("AB").c_str(), 0755);
    struct Case {
        bool watchTree;
        const char *changed;
        uint32_t action;
        uint32_t status;  // 0: stays parked
    } cases[] = {
        {false, "A/x", 1, kEnumDir},  {false, "A/b/x", 1, 0},      {true, "A/b/x", 1, kEnumDir},
        {true, "AB/x", 1, 0},         {false, "AB", 1, 0},         {false, "A", 2, 0xC0000056u},
        {true, "A/b/x", 2, kEnumDir}, {false, "A/b", 2, kEnumDir},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.changed) + (c.watchTree ? " tree" : ""));
        const uint16_t fid = openDirectory(a, "A");
        const uint64_t aid = park(a, fid, c.watchTree);
        change(c.changed, c.action);
        EXPECT_EQ(completion(a, aid), c.status);
        // Closing the handle answers a request still parked, before the CLOSE.
        post(a, element(a, kClose, closeBody(fid)));
        if (c.status == 0)
            EXPECT_EQ(completion(a, aid), kCleanup);
        Bytes closed = next(a);
        ASSERT_FALSE(closed.empty());
        EXPECT_EQ(answerAt(closed, 0).command, kClose);
        EXPECT_EQ(answerAt(closed, 0).status, 0u);
        EXPECT_TRUE(next(a).empty());
    }
}

TEST_F(NotifyTest, AnotherClientsCreateCompletesTheWatch)
{
    ::mkdir(at("A").c_str(), 0755);
    join(b);
    const uint64_t aid = park(a, openDirectory(a, "A"), false);
    EXPECT_EQ(answerAt(create(b, {"A\\new.txt", 2}), 0).status, 0u);
    EXPECT_EQ(completion(a, aid), kEnumDir);
}

// A CANCEL names the parked request by its AsyncId, or, sent before the
// interim answer came, by its MessageId.
TEST_F(NotifyTest, CancelAnswersTheParkedRequest)
{
    ::mkdir(at("A").c_str(), 0755);
    for (bool async : {true, false}) {
        SCOPED_TRACE(async ? "by AsyncId" : "by MessageId");
        const uint16_t fid = openDirectory(a, "A");
        const uint64_t aid = park(a, fid, true);
        Element cancel = element(a, kCancel, Bytes{4, 0, 0, 0});
        if (async)
            cancel.flags = 0x02;
        else
            cancel.mid = last.mid;
        Bytes m = compound({cancel});
        if (async)
            std::memcpy(&m[32], &aid, 8);
        csDispatchSetSocket(&a.slot);
        uint32_t n = uint32_t(m.size());
        uint8_t h[4] = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        ASSERT_EQ(::write(a.peer, h, 4), 4);
        ASSERT_EQ(::write(a.peer, m.data(), m.size()), ssize_t(m.size()));
        ASSERT_EQ(csDispatchRequest(&a.slot, &address), 0);
        EXPECT_EQ(completion(a, aid), 0xC0000120u);
        EXPECT_TRUE(next(a).empty());
        change("A/x", 1);
        EXPECT_TRUE(next(a).empty());
        EXPECT_EQ(answerAt(call(a, kClose, closeBody(fid)), 0).status, 0u);
    }
}

TEST_F(NotifyTest, RefusedRequests)
{
    ::mkdir(at("A").c_str(), 0755);
    EXPECT_EQ(answerAt(call(a, kChangeNotify, notifyBody(0x7777, false)), 0).status, 0xC0000008u);
    Bytes m = create(a, {"A", 1, 1, 0x00110081});
    ASSERT_EQ(answerAt(m, 0).status, 0u);
    // As a SET_INFO disposition leaves it.
    csGetNameByNid(csGetFileByJustFid(fidOf(m))->nid)->deleteOnClose = 1;
    EXPECT_EQ(answerAt(call(a, kChangeNotify, notifyBody(fidOf(m), false)), 0).status, 0xC0000056u);
    a.user->ntStatusMode = 0;
    EXPECT_EQ(answerAt(call(a, kChangeNotify, notifyBody(fidOf(m), false)), 0).status, 0xC00000BBu);
}

}  // namespace
