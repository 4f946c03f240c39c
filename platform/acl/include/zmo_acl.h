/*
 * libzmoacl_stub: file access on behalf of an SMB user, as a host stand-in.
 *
 * Every call does what its system namesake does and returns what it returns,
 * with errno on failure. The user and the permissive flag are recorded (the
 * host has no per-user rights to enforce); tests can watch the calls and make
 * them fail.
 */
#ifndef ZMO_ACL_H
#define ZMO_ACL_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

/* Marks what the library exports. It is built with hidden visibility
 * (platform/acl/CMakeLists.txt), so a declaration here without ZMO_ACL_API
 * is not reachable from outside. */
#define ZMO_ACL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* 0 on success, -1 with errno. */
ZMO_ACL_API int zmo_acl_init(void);
ZMO_ACL_API int zmo_acl_cleanup(void);

/* The identity of the following calls (process-wide). A null or empty name,
 * or one longer than 257 bytes, fails with EINVAL. 0 or -1. */
ZMO_ACL_API int zmo_acl_set_user(const char *name);
ZMO_ACL_API int zmo_acl_set_permissive(int permissive);
/* The recorded identity: "" before any user was set. */
ZMO_ACL_API const char *zmo_acl_get_user(void);
ZMO_ACL_API int zmo_acl_get_permissive(void);

ZMO_ACL_API int zmo_acl_open(const char *path, int flags);
ZMO_ACL_API int zmo_acl_open3(const char *path, int flags, mode_t mode);
ZMO_ACL_API int zmo_acl_stat(const char *path, struct stat64 *st);
ZMO_ACL_API int zmo_acl_unlink(const char *path);
ZMO_ACL_API int zmo_acl_rename(const char *from, const char *to);
ZMO_ACL_API int zmo_acl_mkdir(const char *path, mode_t mode);
ZMO_ACL_API int zmo_acl_rmdir(const char *path);
ZMO_ACL_API DIR *zmo_acl_opendir(const char *path); /* close it with closedir */
/* The next entry, or null: errno 0 at the end, else the error. */
ZMO_ACL_API struct dirent64 *zmo_acl_readdir(DIR *dir);

/* ---- test hooks ----------------------------------------------------------- */

/* Called after each call: its name ("open", "stat", ...), the path (the
 * source for rename, null for readdir), the recorded identity and the call's
 * errno (0 for success). A null hook removes it. */
typedef void (*zmo_acl_log_fn)(void *ctx, const char *call, const char *path, const char *user,
                               int permissive, int error);
ZMO_ACL_API void zmo_acl_set_log_hook(zmo_acl_log_fn hook, void *ctx);

/* The next `count` calls named `call` (any call when null) whose path holds
 * `path_part` (any path when null) fail with `error` (EACCES, EIO...) without
 * touching the file system; count -1 keeps failing. error 0 removes every rule. */
ZMO_ACL_API void zmo_acl_inject_error(const char *call, const char *path_part, int error, int count);

#ifdef __cplusplus
}
#endif

#endif
