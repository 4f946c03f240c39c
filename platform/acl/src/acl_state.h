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

struct State {
  std::mutex lock;
  std::string user;
  int permissive = 0;
  zmo_acl_log_fn hook = nullptr;
  void *hook_ctx = nullptr;
  std::vector<Injection> injections;
};

State &state();
}  // namespace zmo_acl

#endif
