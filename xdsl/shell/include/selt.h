/* Single-ended line test: calibration, measurement dumps, the outside
 * parser and its results. */
#ifndef DRUVEL_SELT_H
#define DRUVEL_SELT_H

#ifdef __cplusplus
extern "C" {
#endif

#define SELT_PATH_SIZE 64

enum selt_file {
    SELT_PARSER,
    SELT_CALIBRATE_OPEN,
    SELT_CALIBRATE_CLOSED,
    SELT_DATA,
    SELT_XFR_DATA,
    SELT_MIB_RAW,
    SELT_LOG,
    SELT_FILES
};

/* The seven paths: each its default or its key's value. 0, or -1 (with a
 * message) when a configured path does not fit SELT_PATH_SIZE bytes. */
int selt_files_init(void);
const char *selt_file(int which);
/* Waits for the chip's SELT status to show a finished run: 0, or 100. */
int selt_wait_done(int port);

#ifdef __cplusplus
}
#endif

#endif
