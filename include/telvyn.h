/* Telvyn: JSON reports about the machine's processes.
 *
 * Every export takes a pointer to an unsigned 64-bit length and returns
 * one line of plain-ASCII JSON (NUL-terminated), storing its length in bytes
 * without the NUL through out_length. The text belongs to the library: it
 * stays valid until the same thread's next Telvyn call; copy it, never free
 * it. Each thread has its own text, so threads may call at the same time.
 * On an internal failure (out of memory) the result is NULL with length 0.
 */
#ifndef TELVYN_H
#define TELVYN_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#else
#define WINAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Every process with command line, window and user flags and whether it may
 * be frozen: {"wmi_status":<HRESULT>,"processes":[...]}. May take a few
 * seconds (the WMI enumeration is bounded to 3000 ms). */
const char* WINAPI tl_snapshot(uint64_t* out_length);

/* The machine's memory figures and every process's working set and private
 * memory, in bytes: {"system_available":1,...,"processes":[...]}. */
const char* WINAPI tl_memory(uint64_t* out_length);

/* CPU load in percent since the previous tl_load call in this process (null
 * on the first call) and all executable names: {"cpu":12.5,"names":[...]}. */
const char* WINAPI tl_load(uint64_t* out_length);

/* Unexpected shutdowns and crashes of the last 7 days and application errors
 * of the last hour, newest first, at most 20 per log: [{"id":41,...},...]. */
const char* WINAPI tl_crashes(uint64_t* out_length);

#ifdef __cplusplus
}
#endif

#endif /* TELVYN_H */
