/* Leveled output of the xDSL shell: every message carries a level and is
 * shown, collected or dropped by the process-wide print mask. */
#ifndef DRUVEL_CLI_PRINT_H
#define DRUVEL_CLI_PRINT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Message levels. */
#define CLI_LEVEL_ORDINARY 0x7fffffffu
#define CLI_LEVEL_ERROR 0xffffffffu
#define CLI_LEVEL_ERROR_CODE 0x80000001u
#define CLI_LEVEL_RECORD 0x80000000u
#define CLI_LEVEL_TRACE 0x00001000u
#define CLI_LEVEL_TERMINAL 0x00000400u
#define CLI_LEVEL_PORT 0x00000008u
#define CLI_LEVEL_PORT_STATE 0x00000001u

/* Print masks of the start-up modes. */
#define CLI_MASK_INTERACTIVE 0x00000400u
#define CLI_MASK_SETUP 0x00000800u
#define CLI_MASK_CLEAN 0x7fffffffu
#define CLI_MASK_SILENT 0x80000000u
#define CLI_MASK_ONE_SHOT 0x00004000u

/* Capacity of the silent buffer, terminating zero included. */
#define CLI_SILENT_BUFFER_SIZE 16384

/* The print mask; 0 at start, set once per mode. */
extern uint32_t cli_print_mask;

/* Formats and prints one message when its level shares a bit with the print
 * mask: written with a newline, or appended to the silent buffer while the
 * mask's top bit is set. */
void cli_print(uint32_t level, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* The text collected in silent mode, and its upkeep. */
const char *cli_silent_buffer(void);
size_t cli_silent_buffer_length(void);
void cli_silent_buffer_clear(void);
/* Replaces the last collected character (channel separator); no-op when empty. */
void cli_silent_buffer_replace_last(char c);

/* Writes raw bytes where cli_print writes (standard output), outside the mask. */
void cli_write_raw(const char *data, size_t length);
/* Formats and writes where cli_print writes, outside the mask, as is. */
void cli_printf_raw(const char *format, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
