/* The user PSD mask check: a mask text of breakpoint words (level code in
 * the first two hex characters, tone index in the last four). */
#ifndef DRUVEL_PSD_MASK_H
#define DRUVEL_PSD_MASK_H

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when every character is a hex digit (an empty text passes); otherwise
 * "%c Not hex in String !!" and -111. */
int check_hex_string(const char *text);
/* direction "us" (96 characters) or "ds" (192): 0 for a valid PSD
 * sequence, else -111 after a message. */
int psd_sequence_check(const char *direction, const char *text);

#ifdef __cplusplus
}
#endif

#endif
