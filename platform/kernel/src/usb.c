/* USB devices of the stand-in: strings by index, control transfers answered
 * from a script and recorded, and the enumeration step of the board's USB
 * core that asks the OS-descriptor hook about a new device. */
#include "kstandin/host.h"
#include "kstandin/kernel.h"
#include "kstandin_internal.h"

#define MAX_ANSWERS 16

struct usb_answer {
	int error; /* negative errno, or 0 for bytes */
	int blocked;
	size_t len;
	unsigned char *bytes;
};

struct kstandin_usb_impl {
	pthread_mutex_t lock;
	pthread_cond_t cond;
	char *strings[256];
	struct usb_answer answers[MAX_ANSWERS];
	size_t first, count;
	struct kstandin_usb_ctrl_call *calls;
	size_t ncalls, calls_cap;
	int sleeping; /* a transfer waits in a blocked answer */
	int released;
};

int (*usb_get_os_str_desc_hook)(struct usb_device *udev);

static char *dup_text(const char *s)
{
	size_t n = strlen(s) + 1;
	char *p = malloc(n);
	if (p)
		memcpy(p, s, n);
	return p;
}

struct usb_device *kstandin_usb_device_new(uint16_t vendor, uint16_t product, const char *product_name)
{
	static int next_devnum = 2;
	struct usb_device *dev = calloc(1, sizeof *dev);
	struct kstandin_usb_impl *impl = calloc(1, sizeof *impl);
	if (!dev || !impl) {
		free(dev);
		free(impl);
		return NULL;
	}
	pthread_mutex_init(&impl->lock, NULL);
	pthread_cond_init(&impl->cond, NULL);
	dev->kstandin = impl;
	dev->devnum = __atomic_fetch_add(&next_devnum, 1, __ATOMIC_SEQ_CST) % 127 + 1;
	dev->descriptor.bLength = 18;
	dev->descriptor.bDescriptorType = 1;
	dev->descriptor.bcdUSB = cpu_to_le16(0x0200);
	dev->descriptor.idVendor = cpu_to_le16(vendor);
	dev->descriptor.idProduct = cpu_to_le16(product);
	dev->descriptor.bNumConfigurations = 1;
	if (product_name)
		dev->product = dup_text(product_name);
	return dev;
}

static void drop_answer(struct usb_answer *a)
{
	free(a->bytes);
	memset(a, 0, sizeof *a);
}

void kstandin_usb_device_free(struct usb_device *dev)
{
	if (!dev)
		return;
	struct kstandin_usb_impl *impl = dev->kstandin;
	for (size_t i = 0; i < 256; i++)
		free(impl->strings[i]);
	for (size_t i = 0; i < impl->count; i++)
		drop_answer(&impl->answers[(impl->first + i) % MAX_ANSWERS]);
	free(impl->calls);
	pthread_mutex_destroy(&impl->lock);
	pthread_cond_destroy(&impl->cond);
	free(impl);
	free(dev->product);
	free(dev);
}

void kstandin_usb_set_string(struct usb_device *dev, int index, const char *text)
{
	struct kstandin_usb_impl *impl = dev->kstandin;
	if (index < 0 || index > 255)
		return;
	pthread_mutex_lock(&impl->lock);
	free(impl->strings[index]);
	impl->strings[index] = text ? dup_text(text) : NULL;
	pthread_mutex_unlock(&impl->lock);
}

static void push_answer(struct usb_device *dev, int error, int blocked, const void *bytes, size_t len)
{
	struct kstandin_usb_impl *impl = dev->kstandin;
	pthread_mutex_lock(&impl->lock);
	if (impl->count < MAX_ANSWERS) {
		struct usb_answer *a = &impl->answers[(impl->first + impl->count) % MAX_ANSWERS];
		a->error = error;
		a->blocked = blocked;
		a->len = 0;
		a->bytes = NULL;
		if (len) {
			a->bytes = malloc(len);
			if (a->bytes) {
				memcpy(a->bytes, bytes, len);
				a->len = len;
			}
		}
		impl->count++;
	}
	pthread_mutex_unlock(&impl->lock);
}

void kstandin_usb_answer_bytes(struct usb_device *dev, const void *bytes, size_t len)
{
	push_answer(dev, 0, 0, bytes, len);
}

void kstandin_usb_answer_error(struct usb_device *dev, int negative_errno)
{
	push_answer(dev, negative_errno, 0, NULL, 0);
}

void kstandin_usb_answer_blocked(struct usb_device *dev, const void *bytes, size_t len)
{
	push_answer(dev, 0, 1, bytes, len);
}

static int64_t real_ms(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int kstandin_usb_wait_blocked(struct usb_device *dev, int ms)
{
	struct kstandin_usb_impl *impl = dev->kstandin;
	int64_t until = real_ms() + ms;
	int rc = 0;
	pthread_mutex_lock(&impl->lock);
	while (!impl->sleeping) {
		if (real_ms() >= until) {
			rc = -1;
			break;
		}
		pthread_mutex_unlock(&impl->lock);
		kstandin_real_sleep_ms(1);
		pthread_mutex_lock(&impl->lock);
	}
	pthread_mutex_unlock(&impl->lock);
	return rc;
}

void kstandin_usb_release(struct usb_device *dev)
{
	struct kstandin_usb_impl *impl = dev->kstandin;
	pthread_mutex_lock(&impl->lock);
	impl->released = 1;
	pthread_cond_broadcast(&impl->cond);
	pthread_mutex_unlock(&impl->lock);
}

size_t kstandin_usb_calls(struct usb_device *dev, struct kstandin_usb_ctrl_call *out, size_t cap)
{
	struct kstandin_usb_impl *impl = dev->kstandin;
	pthread_mutex_lock(&impl->lock);
	size_t n = impl->ncalls;
	for (size_t i = 0; i < n && i < cap; i++)
		out[i] = impl->calls[i];
	pthread_mutex_unlock(&impl->lock);
	return n;
}

int kstandin_usb_enumerate(struct usb_device *dev)
{
	int (*hook)(struct usb_device *) = __atomic_load_n(&usb_get_os_str_desc_hook, __ATOMIC_ACQUIRE);
	return hook ? hook(dev) : 0;
}

char *usb_cache_string(struct usb_device *udev, int index)
{
	struct kstandin_usb_impl *impl = udev->kstandin;
	char *copy = NULL;
	if (index <= 0 || index > 255)
		return NULL;
	pthread_mutex_lock(&impl->lock);
	const char *text = impl->strings[index];
	if (text) {
		size_t n = strlen(text) + 1;
		copy = kmalloc(n, GFP_KERNEL);
		if (copy)
			memcpy(copy, text, n);
	}
	pthread_mutex_unlock(&impl->lock);
	return copy;
}

static void record_call(struct kstandin_usb_impl *impl, const struct kstandin_usb_ctrl_call *call)
{
	if (impl->ncalls == impl->calls_cap) {
		size_t cap = impl->calls_cap ? impl->calls_cap * 2 : 8;
		struct kstandin_usb_ctrl_call *p = realloc(impl->calls, cap * sizeof *p);
		if (!p)
			return;
		impl->calls = p;
		impl->calls_cap = cap;
	}
	impl->calls[impl->ncalls++] = *call;
}

int usb_control_msg(struct usb_device *dev, unsigned int pipe, u8 request, u8 requesttype, u16 value, u16 index,
		    void *data, u16 size, int timeout)
{
	struct kstandin_usb_impl *impl = dev->kstandin;
	struct kstandin_usb_ctrl_call call = { pipe, request, requesttype, value, index, size, timeout };
	struct usb_answer a;
	int rc;

	pthread_mutex_lock(&impl->lock);
	record_call(impl, &call);
	if (!impl->count) {
		pthread_mutex_unlock(&impl->lock);
		return -EPIPE;
	}
	a = impl->answers[impl->first];
	impl->first = (impl->first + 1) % MAX_ANSWERS;
	impl->count--;
	if (a.blocked) {
		impl->sleeping = 1;
		while (!impl->released)
			pthread_cond_wait(&impl->cond, &impl->lock);
		impl->sleeping = 0;
		impl->released = 0;
	}
	pthread_mutex_unlock(&impl->lock);

	if (a.error) {
		rc = a.error;
	} else {
		size_t n = a.len < size ? a.len : size;
		if (n && (requesttype & USB_DIR_IN))
			memcpy(data, a.bytes, n);
		rc = (int)n;
	}
	free(a.bytes);
	return rc;
}
