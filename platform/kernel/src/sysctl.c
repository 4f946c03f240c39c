/* Sysctl tables under /proc/sys: registration by path, the integer
 * handlers, and the file's read and write as a process makes them. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#include <ctype.h>
#include <limits.h>

#define SYSCTL_PATH_MAX 256
#define SYSCTL_WRITE_MAX 4095 /* one page less its zero byte */

struct ctl_table_header {
	struct ctl_table_header *next;
	char dir[SYSCTL_PATH_MAX]; /* "dev/usb" */
	struct ctl_table *table;
};

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct ctl_table_header *headers;

/* The entry named by path below the table, descending into child tables. */
static struct ctl_table *find_in(struct ctl_table *table, const char *path)
{
	for (; table && table->procname; table++) {
		size_t n = strlen(table->procname);
		if (strncmp(path, table->procname, n) != 0)
			continue;
		if (path[n] == 0 && !table->child)
			return table;
		if (path[n] == '/' && table->child)
			return find_in(table->child, path + n + 1);
	}
	return NULL;
}

static struct ctl_table *find_locked(const char *path)
{
	for (struct ctl_table_header *h = headers; h; h = h->next) {
		size_t n = strlen(h->dir);
		if (n && (strncmp(path, h->dir, n) != 0 || path[n] != '/'))
			continue;
		struct ctl_table *t = find_in(h->table, n ? path + n + 1 : path);
		if (t)
			return t;
	}
	return NULL;
}

struct ctl_table_header *register_sysctl_paths(const struct ctl_path *path, struct ctl_table *table)
{
	struct ctl_table_header *h = kzalloc(sizeof *h, GFP_KERNEL);
	if (!h)
		return NULL;
	size_t used = 0;
	for (; path && path->procname; path++) {
		int n = snprintf(h->dir + used, sizeof h->dir - used, "%s%s", used ? "/" : "", path->procname);
		if (n < 0 || (size_t)n >= sizeof h->dir - used) {
			kfree(h);
			return NULL;
		}
		used += (size_t)n;
	}
	h->table = table;

	pthread_mutex_lock(&lock);
	/* A name that is there already makes the whole registration fail. */
	for (struct ctl_table *t = table; t && t->procname; t++) {
		char full[SYSCTL_PATH_MAX];
		snprintf(full, sizeof full, "%s%s%s", h->dir, used ? "/" : "", t->procname);
		if (find_locked(full)) {
			pthread_mutex_unlock(&lock);
			kfree(h);
			return NULL;
		}
	}
	h->next = headers;
	headers = h;
	pthread_mutex_unlock(&lock);
	return h;
}

void unregister_sysctl_table(struct ctl_table_header *header)
{
	if (!header)
		return;
	pthread_mutex_lock(&lock);
	for (struct ctl_table_header **p = &headers; *p; p = &(*p)->next) {
		if (*p == header) {
			*p = header->next;
			break;
		}
	}
	pthread_mutex_unlock(&lock);
	kfree(header);
}

static int is_space(char c)
{
	return c == ' ' || c == '\t' || c == '\n';
}

/* One number of a written text: optional '-', digits in C notation, then a
 * separator or the end. */
static int parse_value(const char **text, const char *end, long long *out)
{
	const char *p = *text;
	char digits[24];
	int neg = 0;
	if (p < end && *p == '-') {
		neg = 1;
		p++;
	}
	size_t n = 0;
	while (p + n < end && !is_space(p[n]) && p[n])
		n++;
	if (n == 0 || n >= sizeof digits)
		return -EINVAL;
	memcpy(digits, p, n);
	digits[n] = 0;
	if (!isdigit((unsigned char)digits[0]))
		return -EINVAL;
	char *stop;
	errno = 0;
	unsigned long long v = strtoull(digits, &stop, 0);
	if (*stop || errno || v > (unsigned long long)INT_MAX + (neg ? 1 : 0))
		return -EINVAL;
	*out = neg ? -(long long)v : (long long)v;
	*text = p + n;
	return 0;
}

static int do_intvec(struct ctl_table *table, int write, void __user *buffer, size_t *lenp, loff_t *ppos,
		     const int *min, const int *max)
{
	int *values = table->data;
	size_t nvalues = table->maxlen > 0 ? (size_t)table->maxlen / sizeof(int) : 0;

	if (!values || !nvalues || !*lenp || (*ppos && !write)) {
		*lenp = 0;
		return 0;
	}

	if (!write) {
		char text[16 * 12 + 2];
		size_t used = 0;
		for (size_t i = 0; i < nvalues && used < sizeof text - 14; i++)
			used += (size_t)snprintf(text + used, sizeof text - used, "%s%d", i ? "\t" : "", values[i]);
		text[used++] = '\n';
		size_t n = used < *lenp ? used : *lenp;
		if (copy_to_user(buffer, text, n))
			return -EFAULT;
		*lenp = n;
		*ppos += (loff_t)n;
		return 0;
	}

	size_t len = *lenp < SYSCTL_WRITE_MAX ? *lenp : SYSCTL_WRITE_MAX;
	char *text = kmalloc(len + 1, GFP_KERNEL);
	if (!text)
		return -ENOMEM;
	if (copy_from_user(text, buffer, len)) {
		kfree(text);
		return -EFAULT;
	}
	text[len] = 0;
	const char *p = text, *end = text + len;
	size_t stored = 0;
	int err = 0;
	while (stored < nvalues) {
		while (p < end && is_space(*p))
			p++;
		if (p == end || !*p)
			break;
		long long v;
		err = parse_value(&p, end, &v);
		if (err)
			break;
		if ((min && v < *min) || (max && v > *max)) {
			err = -EINVAL;
			break;
		}
		values[stored++] = (int)v;
	}
	while (!err && p < end && is_space(*p))
		p++;
	size_t consumed = (size_t)(p - text);
	kfree(text);
	if (!stored)
		return err ? err : -EINVAL;
	*lenp = consumed;
	*ppos += (loff_t)consumed;
	return err;
}

int proc_dointvec_minmax(struct ctl_table *table, int write, void __user *buffer, size_t *lenp, loff_t *ppos)
{
	return do_intvec(table, write, buffer, lenp, ppos, table->extra1, table->extra2);
}

int proc_dointvec(struct ctl_table *table, int write, void __user *buffer, size_t *lenp, loff_t *ppos)
{
	return do_intvec(table, write, buffer, lenp, ppos, NULL, NULL);
}

int kstandin_sysctl_exists(const char *path)
{
	pthread_mutex_lock(&lock);
	int found = find_locked(path) != NULL;
	pthread_mutex_unlock(&lock);
	return found;
}

/* The handler runs outside the registry's lock, as a process's read runs
 * beside others; the module keeps the table until it unregisters it. */
static long file_call(const char *path, int write, void *buf, size_t len, long long *pos)
{
	pthread_mutex_lock(&lock);
	struct ctl_table *t = find_locked(path);
	pthread_mutex_unlock(&lock);
	if (!t)
		return -ENOENT;
	if (!(t->mode & (write ? 0200 : 0444)))
		return -EACCES;
	if (!t->proc_handler)
		return -EIO;
	size_t n = len;
	loff_t at = (loff_t)*pos;
	kstandin_user_begin(KSTANDIN_USER_BASE, buf, len);
	int rc = t->proc_handler(t, write, (void __user *)KSTANDIN_USER_BASE, &n, &at);
	kstandin_user_end();
	if (rc < 0)
		return rc;
	*pos = (long long)at;
	return (long)n;
}

long kstandin_sysctl_read(const char *path, char *buf, size_t len, long long *pos)
{
	return file_call(path, 0, buf, len, pos);
}

long kstandin_sysctl_write(const char *path, const char *text, size_t len, long long *pos)
{
	return file_call(path, 1, (void *)text, len, pos);
}
