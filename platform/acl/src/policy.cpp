// The policy file of the stand-in: per-user refusals and failing calls, so
// scenarios can show how the server answers them. One rule a line:
//   deny USER [PATH_PART]               calls made as USER fail with EACCES
//   fail CALL|* PATH_PART|* ERROR       calls fail with EIO, ENOSPC, EACCES...
//   refuse USER                         zmo_acl_set_user(USER) fails (EACCES)
// Empty lines and lines starting with '#' are skipped.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "acl_state.h"

namespace zmo_acl {
namespace {

int error_named(const std::string &name)
{
    static const struct {
        const char *name;
        int value;
    } kErrors[] = {{"EACCES", EACCES}, {"EPERM", EPERM},   {"EIO", EIO},       {"ENOSPC", ENOSPC},
                   {"EROFS", EROFS},   {"ENOENT", ENOENT}, {"EEXIST", EEXIST}, {"EDQUOT", EDQUOT}};
    for (const auto &e : kErrors)
        if (name == e.name)
            return e.value;
    return 0;
}

std::string any(const std::string &field) { return field == "*" ? std::string() : field; }

bool parse(const std::string &line, PolicyRule &rule)
{
    std::istringstream in(line);
    std::string verb, a, b, c, extra;
    in >> verb >> a >> b >> c >> extra;
    if (!extra.empty())
        return false;
    if (verb == "deny" && !a.empty() && c.empty()) {
        rule.user = a;
        rule.path_part = any(b);
        rule.error = EACCES;
        return true;
    }
    if (verb == "fail" && !c.empty()) {
        rule.call = any(a);
        rule.path_part = any(b);
        rule.error = error_named(c);
        return rule.error != 0;
    }
    if (verb == "refuse" && !a.empty() && b.empty()) {
        rule.user = a;
        rule.refuse_user = true;
        return true;
    }
    return false;
}

}  // namespace

void load_policy(State &s)
{
    s.policy.clear();
    const char *file = std::getenv("ZMO_ACL_POLICY");
    if (!file || !*file)
        return;
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "zmo_acl: policy file %s cannot be read\n", file);
        return;
    }
    std::string line;
    for (unsigned number = 1; std::getline(in, line); ++number) {
        size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#')
            continue;
        PolicyRule rule;
        if (parse(line, rule))
            s.policy.push_back(rule);
        else
            std::fprintf(stderr, "zmo_acl: %s:%u: rule not understood, skipped\n", file, number);
    }
}

int policy_error(const State &s, const char *call, const char *path)
{
    for (const PolicyRule &r : s.policy) {
        if (r.refuse_user)
            continue;
        if (!r.user.empty() && r.user != s.user)
            continue;
        if (!r.call.empty() && r.call != call)
            continue;
        if (!r.path_part.empty() && (!path || std::string(path).find(r.path_part) == std::string::npos))
            continue;
        return r.error;
    }
    return 0;
}

bool policy_refuses_user(const State &s, const std::string &user)
{
    for (const PolicyRule &r : s.policy)
        if (r.refuse_user && r.user == user)
            return true;
    return false;
}

}  // namespace zmo_acl
