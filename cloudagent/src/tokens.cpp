// Login tokens: a list in login order under a read-write lock. Lookups take
// the read lock; login, logout, the sweep and the shut-down the write lock.
#include "tokens.h"

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <string>

#include "agent.h"

namespace {

struct Token {
    std::string text;
    zmo_time_t deadline;
};

pthread_rwlock_t g_lock = PTHREAD_RWLOCK_INITIALIZER;
std::list<Token> g_tokens;

class Locked {
public:
    Locked(bool write) : rc_(write ? pthread_rwlock_wrlock(&g_lock) : pthread_rwlock_rdlock(&g_lock)) {}
    ~Locked()
    {
        if (rc_ == 0)
            pthread_rwlock_unlock(&g_lock);
    }
    int rc() const { return rc_; }

private:
    int rc_;
};

bool expired(const Token &t) { return zmo_time_left_monotonic_msec(&t.deadline) < 0; }

std::list<Token>::iterator find(const char *t)
{
    for (auto it = g_tokens.begin(); it != g_tokens.end(); ++it)
        if (it->text == t)
            return it;
    return g_tokens.end();
}

}  // namespace

extern "C" {

int token_find(const char *t)
{
    if (cid_parse(t) != 0)
        return -EINVAL;
    Locked lock(false);
    if (lock.rc())
        return -lock.rc();
    auto it = find(t);
    // A token past its deadline is unknown, whether or not the sweep ran.
    return it != g_tokens.end() && !expired(*it) ? 1 : 0;
}

int token_add_text(const char *t, const zmo_time_t *deadline)
{
    if (cid_parse(t) != 0 || !deadline) {
        errno = EINVAL;
        return -1;
    }
    Locked lock(true);
    if (lock.rc()) {
        errno = lock.rc();
        return -1;
    }
    if (find(t) != g_tokens.end()) {
        errno = EEXIST;
        return -1;
    }
    if (g_tokens.size() >= TOKEN_LIST_MAX) {
        errno = ENOSPC;
        return -1;
    }
    try {
        g_tokens.push_back(Token{t, *deadline});
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int token_add(char out[37])
{
    char t[AGENT_CID_LENGTH + 1];
    if (uuid_generate_text(t) != 0)
        return -1;
    if (cid_parse(t) != 0) {
        errno = EINVAL;
        return -1;
    }
    zmo_time_t deadline;
    zmo_time_get_monotonic(&deadline);
    zmo_time_add_msec(&deadline, TOKEN_LIFE_TICKS * agent_tick_ms());
    if (token_add_text(t, &deadline) != 0)
        return -1;
    std::memcpy(out, t, sizeof t);
    return 0;
}

int token_remove(const char *t)
{
    if (cid_parse(t) != 0)
        return 0;
    Locked lock(true);
    if (lock.rc())
        return -lock.rc();
    auto it = find(t);
    if (it == g_tokens.end())
        return 0;
    g_tokens.erase(it);
    return 1;
}

int token_sweep(void)
{
    Locked lock(true);
    if (lock.rc())
        return 0;
    int n = 0;
    for (auto it = g_tokens.begin(); it != g_tokens.end();) {
        if (expired(*it)) {
            it = g_tokens.erase(it);
            ++n;
        } else {
            ++it;
        }
    }
    return n;
}

void token_clear(void)
{
    Locked lock(true);
    if (lock.rc() == 0)
        g_tokens.clear();
}

int token_count(void)
{
    Locked lock(false);
    return lock.rc() ? 0 : static_cast<int>(g_tokens.size());
}

}  // extern "C"
