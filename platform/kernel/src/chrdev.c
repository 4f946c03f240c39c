/* Character-device registration: a table of majors and their operations. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"

#define MAX_MAJOR 512

struct chrdev {
	const struct file_operations *fops;
	char name[32];
};

static pthread_mutex_t chrdev_lock = PTHREAD_MUTEX_INITIALIZER;
static struct chrdev chrdevs[MAX_MAJOR];

int register_chrdev(unsigned int major, const char *name, const struct file_operations *fops)
{
	int rc = -EBUSY;
	if (major >= MAX_MAJOR || !fops)
		return -EINVAL;
	pthread_mutex_lock(&chrdev_lock);
	if (major == 0) {
		/* Dynamic majors are handed out from the top, as the kernel does. */
		for (unsigned int m = MAX_MAJOR - 1; m > 0; m--) {
			if (!chrdevs[m].fops) {
				major = m;
				break;
			}
		}
		if (major == 0) {
			pthread_mutex_unlock(&chrdev_lock);
			return -EBUSY;
		}
		rc = (int)major;
	} else if (!chrdevs[major].fops) {
		rc = 0;
	}
	if (rc >= 0) {
		chrdevs[major].fops = fops;
		snprintf(chrdevs[major].name, sizeof chrdevs[major].name, "%s", name);
	}
	pthread_mutex_unlock(&chrdev_lock);
	return rc;
}

void unregister_chrdev(unsigned int major, const char *name)
{
	(void)name;
	if (major >= MAX_MAJOR)
		return;
	pthread_mutex_lock(&chrdev_lock);
	chrdevs[major].fops = NULL;
	chrdevs[major].name[0] = 0;
	pthread_mutex_unlock(&chrdev_lock);
}

int kstandin_chrdev_registered(unsigned int major)
{
	int yes;
	if (major >= MAX_MAJOR)
		return 0;
	pthread_mutex_lock(&chrdev_lock);
	yes = chrdevs[major].fops != NULL;
	pthread_mutex_unlock(&chrdev_lock);
	return yes;
}

long kstandin_chrdev_ioctl(unsigned int major, unsigned int cmd, unsigned long arg)
{
	const struct file_operations *fops = NULL;
	if (major < MAX_MAJOR) {
		pthread_mutex_lock(&chrdev_lock);
		fops = chrdevs[major].fops;
		pthread_mutex_unlock(&chrdev_lock);
	}
	if (!fops)
		return -ENODEV;
	if (!fops->unlocked_ioctl)
		return -ENOTTY;
	struct file f = { NULL };
	return fops->unlocked_ioctl(&f, cmd, arg);
}
