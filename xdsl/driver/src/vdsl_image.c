/*
 * The binary driver image: a table file that says where each MIB table
 * lies in chip memory. Read as little-endian 32-bit words W[n]:
 *   W[0] "VROS", W[3] MIB version, W[4] signature block address,
 *   W[6] table of table start addresses, W[7] their number,
 *   W[8] N items per offsets row, W[9] T directory entries,
 *   W[32] on: T directory entries, then T offsets rows of N words.
 * Every word the driver reads is checked against the image's length, so a
 * damaged image is refused instead of read past its end.
 */
#include "vdsl_priv.h"

u8 bd_image[VDSL_BINDRV_MAX];
u32 bd_len;
u16 add_start[100];
u32 add_start_count;

#define BD_HEADER_WORDS 32
#define BD_MAX_TABLES 100

static u32 bd_words(void)
{
	return bd_len / 4;
}

u32 bd_word(u32 n)
{
	const u8 *p = bd_image + 4 * n;

	if (n >= bd_words())
		return 0;
	return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24;
}

/* Appends a chunk; a chunk that does not fit is refused whole. */
int bd_append(const u8 *data, u32 len)
{
	if (len > VDSL_BINDRV_MAX - bd_len) {
		PRINTL(PL_ERR, "Binary driver too large: %u + %u bytes\n", bd_len, len);
		return VDSL_ERR_FAILED;
	}
	memcpy(bd_image + bd_len, data, len);
	bd_len += len;
	return 0;
}

/* 0 when every table word the translation may read lies in the image. */
int bd_layout_check(void)
{
	u32 words = bd_words(), t, n;

	if (words < BD_HEADER_WORDS)
		return -1;
	t = bd_word(9);
	n = bd_word(8);
	/* Directory slots index the 100 table start addresses. */
	if (bd_word(7) > BD_MAX_TABLES || t > BD_MAX_TABLES)
		return -1;
	if (t && n == 0)
		return -1;
	if ((u64)BD_HEADER_WORDS + t + (u64)t * n > words)
		return -1;
	return 0;
}

/* End offset in row r, column j of the offsets rows. */
static u32 bd_offset(u32 t, u32 n, u32 r, u32 j)
{
	return bd_word(BD_HEADER_WORDS + t + r * n + j);
}

/*
 * Chip address and word count of an entry: the table's directory slot
 * gives its stride and continuation rows, the offsets rows the item's
 * start and end within a row. -1 when the image does not have the entry.
 */
int trans_mib_addr(int group, int table, int row, int item, u32 *addr)
{
	u32 t, n, s, e, stride, c, i0, start, end;
	long r;

	if (bd_layout_check())
		return -1;
	t = bd_word(9);
	n = bd_word(8);
	if (t < 1 || item < 1 || table < 1)
		return -1;
	for (s = 0; s < t; s++) {
		e = bd_word(BD_HEADER_WORDS + s);
		if ((int)(e >> 29) == group && (int)((e >> 24) & 0x1F) == table - 1)
			break;
	}
	/* A slot whose start address was never read from the chip is no table. */
	if (s == t || s >= add_start_count)
		return -1;
	stride = (e >> 8) & 0xFFFF;
	c = (e >> 4) & 0xF;
	i0 = (u32)item - 1;
	if (i0 < n) {
		end = bd_offset(t, n, s, i0);
		start = i0 ? bd_offset(t, n, s, i0 - 1) : 0;
	} else {
		u32 k = i0 / n, j = i0 % n;
		long first = c ? (long)t - (long)c : (long)s;

		r = first - (long)(k - 1);
		if (r < 0 || r >= (long)t)
			return -1;
		end = bd_offset(t, n, (u32)r, j);
		if (j)
			start = bd_offset(t, n, (u32)r, j - 1);
		else
			start = bd_offset(t, n, k == 1 ? s : (u32)(r + 1), n - 1);
	}
	if (end < start)
		return -1;
	*addr = add_start[s] + start + (u32)(row - 1) * stride;
	return (int)(end - start);
}
