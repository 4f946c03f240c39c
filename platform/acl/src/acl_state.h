// State shared by the identity and the file calls.
#ifndef ZMO_ACL_STATE_H
#define ZMO_ACL_STATE_H

#include <mutex>
#include <string>
#include <vector>

#include "zmo_acl.h"

namespace zmo_acl {
constexpr size_t kMaxUser = 257;  // callers hand a 258-byte buffer

struct Injection {
    std::string call;       // empty: any
    std::string path_part;  // empty: any
    int error;
    int count;  // -1: for ever
};

// A rule of the policy file: calls fail with error when every given field
// matches (empty: any); refuse_user makes set_user of user fail.
struct PolicyRule {
    std::string user;
    std::string call;
    std::string path_part;
    int error = 0;
    bool refuse_user = false;
};

struct State {
    std::mutex lock;
    std::string user;
    int permissive = 0;
    zmo_acl_log_fn hook = nullptr;
    void *hook_ctx = nullptr;
    std::vector<Injection> injections;
    std::vector<PolicyRule> policy;
};

// Reads the file that ZMO_ACL_POLICY names (nothing when unset) into the
// state's policy; a line that cannot be read is reported and skipped.
void load_policy(State &s);
// The policy's error for a call by user, or 0.
int policy_error(const State &s, const char *call, const char *path);
bool policy_refuses_user(const State &s, const std::string &user);

State &state();
}  // namespace zmo_acl

#endif
