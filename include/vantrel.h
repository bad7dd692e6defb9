/* Vantrel: file-activity engine and directory scanner.
 *
 * Binding: load Vantrel.dll and bind each export by name. All functions use the
 * Windows calling convention and plain C types. Paths are NUL-terminated UTF-16.
 * Result codes are Windows error numbers: 0 success, 87 invalid argument (also a
 * call not allowed while the engine runs), 8 not enough storage, 183 already
 * running, 110 a directory watcher failed to start, or a system call's own code.
 * Texts handed out are NUL-terminated 8-bit JSON owned by the library: copy them,
 * never free them. Engine texts stay valid until the next call of the same export
 * on the same engine or its destruction; scanner texts until the next
 * vt_scan_next or vt_scan_destroy on that scanner. No call throws.
 * A null engine is refused: calls with a result return 87, vt_drain and
 * vt_diagnostics return null with length 0, the others do nothing. A root that
 * is not a whole drive, network or volume path fails vt_start with 123, one too
 * long for the system with 206.
 * Paths: every path stored, compared and reported is normalised (back-slashes,
 * no \\?\ prefix, lower case, no trailing back-slash), while the system is
 * handed a root as it was spelled here and each name below it as the system
 * listed it, so case-sensitive directories are watched and walked right. Two
 * files whose names differ only in case are still reported under one path. */
#ifndef VANTREL_H
#define VANTREL_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef VANTREL_CALL
#ifdef _WIN32
#define VANTREL_CALL __stdcall
#else
#define VANTREL_CALL /* the engine's pure code reads the constants natively */
#endif
#endif

typedef struct vt_engine vt_engine;   /* opaque */
typedef struct vt_scanner vt_scanner; /* opaque */

/* Activity kinds of the drain records. */
enum {
  VT_KIND_READ = 1,
  VT_KIND_WRITE = 2,
  VT_KIND_CREATED = 3,
  VT_KIND_DELETED = 4,
  VT_KIND_RENAMED = 5,
  VT_KIND_MISSING_OPEN = 6, /* open of a watched missing path failed as not found */
  VT_KIND_ADDED = 7,
  VT_KIND_MODIFIED = 8,
  VT_KIND_REMOVED = 9,
  VT_KIND_RENAMED_TO = 10   /* watcher rename: old and new path */
};

/* ---- lifetime ---- */
uint32_t VANTREL_CALL vt_abi(void);                 /* interface version: 1 */
vt_engine* VANTREL_CALL vt_create(void);            /* null on failure */
void VANTREL_CALL vt_destroy(vt_engine* engine);    /* null allowed; stops first */
/* 0, 183 running, directory-open error code, 110 watcher not ready, 8, or the
 * capture session's status (the watchers then keep running). Non-zero ints are true. */
uint32_t VANTREL_CALL vt_start(vt_engine* engine, int32_t capture, int32_t track_missing_opens);
void VANTREL_CALL vt_stop(vt_engine* engine);       /* harmless when stopped */
const char* VANTREL_CALL vt_error(void);            /* this thread's last vt_start failure text; never null */

/* ---- configuration (vt_root/vt_exclude only while stopped: else 87) ---- */
uint32_t VANTREL_CALL vt_root(vt_engine* engine, int64_t id, const wchar_t* path, int32_t flag); /* id >= 1 */
uint32_t VANTREL_CALL vt_exclude(vt_engine* engine, const wchar_t* path);
void VANTREL_CALL vt_missing(vt_engine* engine, const wchar_t* path);  /* any time */
void VANTREL_CALL vt_missing_clear(vt_engine* engine);                 /* any time */
void VANTREL_CALL vt_probe(vt_engine* engine, const wchar_t* path);    /* any time; null clears */

/* ---- output (any time, any thread) ---- */
/* JSON array of up to 1024 records [first,root_id,path,kind,pid,second_path,count,last];
 * null with *out_length 0 on failure. */
const char* VANTREL_CALL vt_drain(vt_engine* engine, uint64_t* out_length);
/* Writes 13 values; 87 when out_count < 13, 1 on failure. */
uint32_t VANTREL_CALL vt_stats(vt_engine* engine, uint64_t* out, uint64_t out_count);
const char* VANTREL_CALL vt_diagnostics(vt_engine* engine, uint64_t* out_length);

/* ---- testing (only while stopped: else 87) ---- */
uint32_t VANTREL_CALL vt_replay(vt_engine* engine, uint16_t event_id, uint8_t version, uint32_t pointer_size,
                                uint32_t process_id, double timestamp, const uint8_t* payload, uint64_t length);
uint32_t VANTREL_CALL vt_replay_many(vt_engine* engine, uint16_t event_id, uint8_t version, uint32_t pointer_size,
                                     uint32_t process_id, double timestamp, const uint8_t* payload, uint64_t length,
                                     uint32_t repeat);
uint32_t VANTREL_CALL vt_test_emit(vt_engine* engine, const wchar_t* path, int32_t kind, uint32_t process_id,
                                   double timestamp); /* kind 1..10 */
uint32_t VANTREL_CALL vt_test_recovery(vt_engine* engine, int32_t on);
/* Replays a trace file (.etl) recorded on any Windows machine: every event
 * goes, in the order ProcessTrace would deliver it (by time stamp), as an
 * EVENT_RECORD to the same record callback as live events, on this thread,
 * so decoding, binding, aggregation and every counter are the live ones; a
 * forced recovery pass follows, as after vt_replay. The file is read with
 * the library's own reader of the format on every system (Windows too, not
 * through OpenTraceW), compressed files included.
 * Device paths of the recording map to drives by `devices` when it is not
 * null ("\Device\HarddiskVolume2=C:" entries, one per line), else by the
 * volume map the recording holds, else by this machine's own map.
 * 0; 87 while running, for a null path or a bad device entry; 13 when the
 * file is not a trace file or is compressed in a format the reader does not
 * decode; a system error code when it cannot be read (2, 3, 5, ...); 8.
 * The report, when not null, is one JSON object: "file", "events_read",
 * "events_skipped", "buffers", "compressed_buffers", "decompressed_bytes",
 * "file_bytes", "skipped" (samples of what was skipped: offsets and why)
 * and "device_map" ({"source":"option"|"recording"|"local","entries":[...]});
 * or "file" and "problem" when the replay was refused. */
uint32_t VANTREL_CALL vt_replay_file(vt_engine* engine, const wchar_t* path, const wchar_t* devices,
                                     const char** out_report, uint64_t* out_length);

/* ---- directory scanner (independent of engines) ---- */
vt_scanner* VANTREL_CALL vt_scan_create(const wchar_t* root);           /* null on failure */
void VANTREL_CALL vt_scan_exclude(vt_scanner* scanner, const wchar_t* path);
/* One bounded step: a JSON batch; "done":true once the walk is over. Null with
 * *out_length 0 on failure (call again). */
const char* VANTREL_CALL vt_scan_next(vt_scanner* scanner, uint64_t* out_length);
void VANTREL_CALL vt_scan_destroy(vt_scanner* scanner);                 /* null allowed */

/* ---- scanner diagnostics (for tests and for inspecting a copied volume) ---- */
/* vt_scan_create reads the master file table of a root's local NTFS volume
 * when the process can open the volume for reading, and walks the tree with
 * directory listings otherwise; the batches are the same either way.
 * vt_scan_create_with chooses: way 0 as vt_scan_create, way 1 always the
 * walk. image, when not null, is a file read from byte image_offset on as the
 * volume of the root's drive instead of the drive itself (so any drive letter
 * will do). Null on failure or with another way. */
vt_scanner* VANTREL_CALL vt_scan_create_with(const wchar_t* root, uint32_t way, const wchar_t* image,
                                             uint64_t image_offset);
/* {"way":W,"reason":R}: W "undecided" before the first vt_scan_next, then
 * "table" or "walk"; R says why the scan walks ("" otherwise). Valid until the
 * next vt_scan_way, vt_scan_next or vt_scan_destroy on that scanner; null with
 * *out_length 0 for a null scanner or length. */
const char* VANTREL_CALL vt_scan_way(vt_scanner* scanner, uint64_t* out_length);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_H */
