/*
 * Control interface of twincam's stand-in platform: the simulated camera
 * service (libmedia_mini.so) and accelerator runtime (libascendcl.so,
 * libacl_dvpp.so). For tests and tools on machines without camera
 * hardware; the twincam library itself never calls it.
 *
 * Everything here is thread-safe and lives in libtwincam_sim.so, which the
 * three stand-ins share.
 */
#ifndef TWINCAM_SIM_H
#define TWINCAM_SIM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The platform operations, as the journal and fault schedule name them. */
typedef enum twincam_sim_op {
    TWINCAM_SIM_OP_INIT = 0,    /* MediaLibInit */
    TWINCAM_SIM_OP_STATUS = 1,  /* QueryCameraStatus */
    TWINCAM_SIM_OP_OPEN = 2,    /* OpenCamera */
    TWINCAM_SIM_OP_SETPROP = 3, /* SetCameraProperty */
    TWINCAM_SIM_OP_READ = 4,    /* ReadFrameFromCamera */
    TWINCAM_SIM_OP_CLOSE = 5,   /* CloseCamera */
    TWINCAM_SIM_OP_MALLOC = 6,  /* acldvppMalloc */
    TWINCAM_SIM_OP_FREE = 7,    /* acldvppFree */
    TWINCAM_SIM_OP_LOG = 8,     /* aclAppLog */
    TWINCAM_SIM_OP_COUNT = 9
} twincam_sim_op;

/* ---- Journal: every platform call, oldest first ---------------------- */

/* One journaled call. Buffers are named by their allocation number (1, 2,
 * ...; 0 for a pointer the allocator never gave out). */
typedef struct twincam_sim_call {
    twincam_sim_op op;
    int32_t id;       /* camera id; log level for LOG */
    int32_t arg[3];   /* SETPROP: property, value(s); READ: capacity, returned size */
    uint64_t size;    /* MALLOC: requested bytes */
    uint64_t buffer;  /* MALLOC, FREE, READ: the buffer's allocation number */
    int32_t result;   /* the operation's result (status for STATUS) */
} twincam_sim_call;

/* The journal keeps the most recent TWINCAM_SIM_JOURNAL_CAPACITY calls. */
enum { TWINCAM_SIM_JOURNAL_CAPACITY = 4096 };

size_t twincam_sim_journal_size(void);
/* Copies entry index (0 = oldest kept); returns 0, or -1 past the end. */
int twincam_sim_journal_get(size_t index, twincam_sim_call *out);
/* Renders entry index as one line, e.g. "SetCameraProperty(0, FrameRate, 30) = 1";
 * returns the length it needed (as snprintf), or 0 past the end. */
size_t twincam_sim_journal_format(size_t index, char *buf, size_t len);
void twincam_sim_journal_clear(void);
/* Calls of op since the last reset, whether journaled or not. */
uint64_t twincam_sim_call_count(twincam_sim_op op);

/* The most calls into the platform that were in progress at once since
 * the last reset: the camera service's six operations, acldvppMalloc and
 * aclAppLog (acldvppFree is left out: a frame's last holder frees it on
 * its own thread). The library takes no locks, so anything above 1 means
 * two threads called it at once without serialising their calls. */
size_t twincam_sim_peak_calls_in_flight(void);

/* ---- Application log -------------------------------------------------- */

/* One aclAppLog record. Long texts are cut to fit. */
typedef struct twincam_sim_log_record {
    int32_t level;
    uint32_t line;
    char func[64];
    char file[128];
    char format[256];
    char message[512]; /* the format expanded with its arguments */
} twincam_sim_log_record;

enum { TWINCAM_SIM_LOG_CAPACITY = 1024 };
/* A level above every real one: nothing is echoed. */
enum { TWINCAM_SIM_LOG_NONE = 4 };

size_t twincam_sim_log_size(void);
int twincam_sim_log_get(size_t index, twincam_sim_log_record *out);
void twincam_sim_log_clear(void);
/* Records at or above level are echoed to standard error (default
 * ACL_ERROR, or TWINCAM_SIM_LOG_LEVEL from the environment: debug, info,
 * warning, error, none or 0..4). Every record is kept whatever the level. */
void twincam_sim_set_log_level(int32_t level);
/* Called inside aclAppLog for every record, after it is kept; NULL removes it. */
typedef void (*twincam_sim_log_hook)(const twincam_sim_log_record *record, void *user);
void twincam_sim_set_log_hook(twincam_sim_log_hook hook, void *user);

/* ---- Scripted faults -------------------------------------------------- */

/* Values for a READ fault. */
enum {
    TWINCAM_SIM_READ_FAIL = 0,  /* the read fails */
    TWINCAM_SIM_READ_SHORT = 1, /* succeeds one byte short of the frame */
    TWINCAM_SIM_READ_LONG = 2,  /* succeeds reporting one byte more than the frame */
    TWINCAM_SIM_READ_DROP = 3,  /* the sensor loses the frame due: the read gets the next one */
    TWINCAM_SIM_READ_HANG = 4   /* the read never returns, as a wedged driver's */
};

/* Makes the nth call (1-based, counted since the last reset) of op fail.
 * value: the status to answer for STATUS, a TWINCAM_SIM_READ_* for READ,
 * the error code for MALLOC (0 picks ACL_ERROR_BAD_ALLOC) and for FREE (0
 * picks ACL_ERROR_INVALID_PARAM; the buffer stays live); ignored otherwise.
 * A fault fires once. Returns 0, or -1 for LOG (the log cannot fail) or an
 * nth of 0. */
int twincam_sim_fault(twincam_sim_op op, uint32_t nth, int32_t value);
/* Replaces the schedule by one written as in TWINCAM_SIM_FAULTS: a comma-
 * separated list of OP@N or OP@N=VALUE, OP one of init, status, open,
 * setprop, read, close, malloc, free; VALUE a status (status), fail, short,
 * long, drop or hang (read), an error code (malloc, free). Returns 0; on a malformed schedule
 * returns -1, keeps the old one and describes the fault in err. */
int twincam_sim_set_faults(const char *schedule, char *err, size_t errlen);
void twincam_sim_clear_faults(void);

/* ---- dvpp memory -------------------------------------------------------- */

size_t twincam_sim_live_buffers(void);
uint64_t twincam_sim_live_bytes(void);
/* The most buffers that were live at once since the last reset. */
size_t twincam_sim_peak_buffers(void);
/* The allocation number (1, 2, ...) of the live dvpp buffer that starts at
 * ptr, or 0 when ptr is no such buffer: proves a frame was not copied. */
uint64_t twincam_sim_buffer_number(const void *ptr);

/* ---- Simulated cameras --------------------------------------------------- */

typedef struct twincam_sim_camera_info {
    int32_t open;     /* 1 when open */
    int32_t fps;      /* the configuration the camera holds */
    int32_t width;
    int32_t height;
    int32_t mode;
    uint32_t frames;  /* frames delivered since the camera was opened */
} twincam_sim_camera_info;

/* Fills *out for camera 0 or 1; returns 0, or -1 for another id. */
int twincam_sim_camera(int32_t id, twincam_sim_camera_info *out);

/* Paced like a sensor (the default, or TWINCAM_SIM_PACE=0 in the
 * environment turns it off): frames fall due at the configured frame rate
 * from the open, a read waits for the next due frame and a late reader gets
 * the newest one. Unpaced, every read returns the next frame at once. */
void twincam_sim_set_pacing(int on);

/* Both cameras' frames fall due on one board clock: at the same rate, at the
 * same instants, whenever each was opened (as two sensors on one board's
 * clock). This offsets camera 0's or 1's frame times by ms milliseconds
 * (TWINCAM_SIM_PHASE_0 and TWINCAM_SIM_PHASE_1 set it from the environment),
 * from now if it is open. Returns 0, or -1 for another id. */
int twincam_sim_set_phase(int32_t id, double ms);

/* What camera 0 or 1 shows from its next open: recorded footage from path (a
 * video file in a common container and codec, or a directory of PNG or
 * JPEG images played in name order), scaled to the configured size, looped,
 * paced by the configured frame rate; an empty path or NULL returns to the
 * test pattern. TWINCAM_SIM_SOURCE_0 and TWINCAM_SIM_SOURCE_1 set it from
 * the environment. A source that cannot be played is reported once on
 * standard error and the camera does not open. Frames carry the stamp
 * unless TWINCAM_SIM_STAMP=0. Returns 0, or -1 for another id. */
int twincam_sim_set_source(int32_t id, const char *path);

/* Unplugs camera 0 or 1 for a while, as a loose cable does: from at_s
 * seconds after its first open (the first OpenCamera call, whatever its
 * result) for for_s seconds, its reads and opens fail; then it works again.
 * A negative for_s never unplugs it. TWINCAM_SIM_UNPLUG_0 and
 * TWINCAM_SIM_UNPLUG_1 set it from the environment as AT+FOR, e.g. "2.5+3".
 * Returns 0, or -1 for another id. */
int twincam_sim_set_unplug(int32_t id, double at_s, double for_s);

/* ---- Frame stamp ------------------------------------------------------------
 * Every simulated frame at least 128 pixels wide carries in its top rows 64
 * black or white luma blocks (width/64 pixels wide): a start marker, the
 * camera id, a 32-bit frame sequence number and a CRC-16 of the three. */

typedef struct twincam_sim_stamp {
    int32_t camera;
    uint32_t sequence;
} twincam_sim_stamp;

enum { TWINCAM_SIM_STAMP_MIN_WIDTH = 128 };

/* Reads the stamp of an NV12 (or any 8-bit luma-first) frame of the given
 * size; luma points to at least width * height bytes. Returns 0 with *out
 * filled, or -1 when the frame carries no valid stamp. */
int twincam_sim_stamp_decode(const void *luma, int32_t width, int32_t height, twincam_sim_stamp *out);

/* ---- Whole state -------------------------------------------------------- */

/* Back to the state at load: service uninitialised, cameras closed, journal,
 * log, counters and faults cleared. Live buffers stay valid and counted. */
void twincam_sim_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* TWINCAM_SIM_H */
