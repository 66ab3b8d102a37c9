/* Loomset's C interface: plain functions over opaque handles, for C programs and for any language
 * with a C foreign-function interface (Python ctypes, Swift, Kotlin/JNI, Rust, ...).
 *
 * Errors: every function that can fail returns a loomset_status; LOOMSET_OK is 0. The text of the
 * last failure on the calling thread is `loomset_last_error()` (empty after a call that
 * succeeded). No C++ exception ever leaves a function of this header, nor a callback wrapper.
 *
 * Text: keys, names and ids are NUL-terminated UTF-8. Values that may hold any byte (NUL
 * included) go in and out as pointer + length: an input length of LOOMSET_NUL_TERMINATED means
 * "up to the first NUL". Text handed out is allocated by the library, always followed by a NUL
 * that the length leaves out, and released with `loomset_free`.
 *
 * Ownership: handles are released with their `_release` function; releasing a handle never
 * closes or removes what it refers to (the library keeps open containers and trackers).
 *
 * Threads: every function may be called from any thread. Callbacks name the thread they run on;
 * they must not unwind (throw or longjmp) into the library. A callback that is C++ and throws is
 * caught by the library and treated as a failure of that callback.
 *
 * Configuration (`loomset_set_...` before the first container, push or tracker) applies to the
 * process-wide objects the library creates on first use.
 */
#ifndef LOOMSET_LOOMSET_H_
#define LOOMSET_LOOMSET_H_

#include <stddef.h>
#include <stdint.h>

#include "loomset/Export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LOOMSET_NUL_TERMINATED ((size_t)-1)

typedef enum loomset_status {
  LOOMSET_OK = 0,
  LOOMSET_ERROR_INVALID_ARGUMENT = 1, /* a null handle or pointer, bad JSON, ... */
  LOOMSET_ERROR_NOT_FOUND = 2,        /* nothing there (no such field, no container) */
  LOOMSET_ERROR_FAILED = 3,           /* the library raised an error; see loomset_last_error */
  LOOMSET_ERROR_OUT_OF_MEMORY = 4
} loomset_status;

/* The text of the last failed call on this thread; "" after a call that succeeded. Valid until
 * the thread's next call into this interface. Never NULL. */
LOOMSET_EXPORT const char* loomset_last_error(void);
/* Releases text the library handed out. NULL is ignored. */
LOOMSET_EXPORT void loomset_free(void* text);

/* ---- Configuration: before first use ------------------------------------------------------ */

/* Where the library keeps its files (saved containers, hit stores). */
LOOMSET_EXPORT loomset_status loomset_set_data_root(const char* path);
/* The directory of the default containers shipped with the application. */
LOOMSET_EXPORT loomset_status loomset_set_resource_directory(const char* path);
/* The proxy for every request ("http://proxy.example:3128"); NULL: the environment variables
 * (http_proxy, https_proxy, no_proxy) decide; "": direct. */
LOOMSET_EXPORT loomset_status loomset_set_http_proxy(const char* url);
/* Hosts that bypass the proxy, comma-separated; NULL: the no_proxy environment variable. */
LOOMSET_EXPORT loomset_status loomset_set_http_no_proxy(const char* hosts);
/* A PEM file of certificate authorities trusted instead of the system's; NULL or "": the
 * system's. */
LOOMSET_EXPORT loomset_status loomset_set_ca_bundle(const char* path);
/* The time-out of every request in seconds; 0: the library's own per request. */
LOOMSET_EXPORT loomset_status loomset_set_request_timeout(double seconds);
/* The container server ("https://host[:port]") for containers opened from now on; NULL: the
 * default server. It is the manager's setting, so it creates the manager: set the data root and
 * the other settings above first. */
LOOMSET_EXPORT loomset_status loomset_set_container_server(const char* address);
/* The analytics collector's base URLs (scheme, host, port), plain and secure. */
LOOMSET_EXPORT loomset_status loomset_set_collector(const char* plain_base_url,
                                                    const char* secure_base_url);

/* ---- Containers --------------------------------------------------------------------------- */

typedef struct loomset_container loomset_container;

typedef enum loomset_open_type {
  /* Complete once the saved copy or a fetched version is in use, or a fetch failed. */
  LOOMSET_OPEN_PREFER_NON_DEFAULT = 0,
  /* Complete once a version fetched within 12 hours is in use, or a fetch ended. */
  LOOMSET_OPEN_PREFER_FRESH = 1
} loomset_open_type;

/* Opens the container and waits until the open type is satisfied or `timeout_seconds` pass
 * (a negative time-out: the opener's default of 2 seconds); on time-out the container is handed
 * over as it is. `open_type` is a loomset_open_type (an int, so that any value a caller passes is
 * checked rather than undefined). Do not call it from a callback of the library. */
LOOMSET_EXPORT loomset_status loomset_container_open(const char* container_id, int open_type,
                                                     double timeout_seconds,
                                                     loomset_container** out_container);
/* Releases the handle; the container stays open. NULL is ignored. */
LOOMSET_EXPORT void loomset_container_release(loomset_container* container);
/* Closes the container: it stops loading and every getter answers its type's default. */
LOOMSET_EXPORT loomset_status loomset_container_close(loomset_container* container);
/* Asks for a fetch now (within the container's refresh limits). */
LOOMSET_EXPORT loomset_status loomset_container_refresh(loomset_container* container);
/* The version of the resource in use, and whether only the shipped default has been used. */
LOOMSET_EXPORT loomset_status loomset_container_version(loomset_container* container,
                                                        char** out_text, size_t* out_length);
LOOMSET_EXPORT loomset_status loomset_container_is_default(loomset_container* container,
                                                           int* out_is_default);

/* The value of the macro named by the key, converted; the type's default when the macro is
 * missing or fails (as the C++ getters). */
LOOMSET_EXPORT loomset_status loomset_container_get_string(loomset_container* container,
                                                           const char* key, char** out_text,
                                                           size_t* out_length);
LOOMSET_EXPORT loomset_status loomset_container_get_boolean(loomset_container* container,
                                                            const char* key, int* out_value);
LOOMSET_EXPORT loomset_status loomset_container_get_double(loomset_container* container,
                                                           const char* key, double* out_value);
LOOMSET_EXPORT loomset_status loomset_container_get_int64(loomset_container* container,
                                                          const char* key, int64_t* out_value);

/* The same values with why the container answered them, as a JSON object:
 *   {"containerVersion": "7", "call": {"instanceName": "greeting", "position": 0, "rule": null},
 *    "isStatic": true, "fromStaticCache": false, "failure": "none", "failureReason": ""}
 * "call" is null when evaluation reached no call; "rule" is the position of the rule that added
 * the call, null for the name's default call; "failure" is one of "none", "closedContainer",
 * "noSuchMacro", "evaluationFailed", "conversionFailed". A NULL `out_why` skips the explanation.
 * Slower than the plain getters: for diagnosis. */
LOOMSET_EXPORT loomset_status loomset_container_explain_string(loomset_container* container,
                                                               const char* key, char** out_text,
                                                               size_t* out_length, char** out_why,
                                                               size_t* out_why_length);
LOOMSET_EXPORT loomset_status loomset_container_explain_boolean(loomset_container* container,
                                                                const char* key, int* out_value,
                                                                char** out_why,
                                                                size_t* out_why_length);
LOOMSET_EXPORT loomset_status loomset_container_explain_double(loomset_container* container,
                                                               const char* key, double* out_value,
                                                               char** out_why,
                                                               size_t* out_why_length);
LOOMSET_EXPORT loomset_status loomset_container_explain_int64(loomset_container* container,
                                                              const char* key, int64_t* out_value,
                                                              char** out_why,
                                                              size_t* out_why_length);

/* Handlers for "_func" tags and macros. The parameters arrive as a JSON object (the tag's or
 * macro's "additional_params"). They run on the thread that pushed the event or asked for the
 * value, possibly on several threads at once. `release`, when not NULL, is called once with
 * `user_data` when the handler is replaced, removed, or its container goes away, or at once when
 * registering fails; never under a lock of the library. A NULL handler removes the one
 * registered under the name. */
typedef void (*loomset_tag_handler)(void* user_data, const char* tag_name,
                                    const char* parameters_json, size_t parameters_length);

/* Where a macro handler puts its answer; valid only during the call. */
typedef struct loomset_macro_result loomset_macro_result;
LOOMSET_EXPORT loomset_status loomset_macro_result_set_string(loomset_macro_result* result,
                                                              const char* text, size_t length);
LOOMSET_EXPORT loomset_status loomset_macro_result_set_int64(loomset_macro_result* result,
                                                             int64_t value);
LOOMSET_EXPORT loomset_status loomset_macro_result_set_double(loomset_macro_result* result,
                                                              double value);
LOOMSET_EXPORT loomset_status loomset_macro_result_set_boolean(loomset_macro_result* result,
                                                               int value);
/* Any JSON value: arrays and objects become lists and maps. */
LOOMSET_EXPORT loomset_status loomset_macro_result_set_json(loomset_macro_result* result,
                                                            const char* json, size_t length);

/* Returns 0 with the answer set; anything else (or no answer set) gives the default value. */
typedef int (*loomset_macro_handler)(void* user_data, const char* macro_name,
                                     const char* parameters_json, size_t parameters_length,
                                     loomset_macro_result* result);
typedef void (*loomset_release_fn)(void* user_data);

LOOMSET_EXPORT loomset_status loomset_container_register_tag_handler(loomset_container* container,
                                                                     const char* tag_name,
                                                                     loomset_tag_handler handler,
                                                                     void* user_data,
                                                                     loomset_release_fn release);
LOOMSET_EXPORT loomset_status loomset_container_register_macro_handler(
    loomset_container* container, const char* macro_name, loomset_macro_handler handler,
    void* user_data, loomset_release_fn release);

/* ---- The data layer ----------------------------------------------------------------------- */

/* Pushes a JSON object into the data layer (integers stay integers, true/false become
 * booleans); an update with an "event" entry fires the open containers' tags on this thread. */
LOOMSET_EXPORT loomset_status loomset_data_layer_push_json(const char* json, size_t length);
/* The value at a key path ("user.name") as JSON; LOOMSET_ERROR_NOT_FOUND when absent. */
LOOMSET_EXPORT loomset_status loomset_data_layer_get_json(const char* key_path, char** out_json,
                                                          size_t* out_length);

/* ---- Analytics ---------------------------------------------------------------------------- */

typedef struct loomset_tracker loomset_tracker;

/* One hit field: a key such as "&t" and its value (pointer + length; NULL value: nil). */
typedef struct loomset_hit_field {
  const char* key;
  const char* value;
  size_t value_length;
} loomset_hit_field;

/* The tracker of that name, created with the tracking id when it does not exist yet. */
LOOMSET_EXPORT loomset_status loomset_tracker_create(const char* name, const char* tracking_id,
                                                     loomset_tracker** out_tracker);
LOOMSET_EXPORT void loomset_tracker_release(loomset_tracker* tracker);
/* A persistent field of the tracker; a NULL value stores nil. */
LOOMSET_EXPORT loomset_status loomset_tracker_set(loomset_tracker* tracker, const char* key,
                                                  const char* value, size_t value_length);
/* The field's text; LOOMSET_ERROR_NOT_FOUND when absent. */
LOOMSET_EXPORT loomset_status loomset_tracker_get(loomset_tracker* tracker, const char* key,
                                                  char** out_text, size_t* out_length);
/* Builds a hit from the tracker's fields and these, and queues it for dispatch. */
LOOMSET_EXPORT loomset_status loomset_tracker_send(loomset_tracker* tracker,
                                                   const loomset_hit_field* fields, size_t count);

/* What a dispatch did: 0 nothing to send, 1 sent, 2 failed. */
typedef void (*loomset_dispatch_callback)(void* user_data, int outcome);
/* Sends the stored analytics hits now; `callback` (may be NULL) hears the outcome once, on the
 * analytics worker thread. A dispatch with a callback switches periodic dispatch off until a
 * positive interval is set again. */
LOOMSET_EXPORT loomset_status loomset_dispatch(loomset_dispatch_callback callback, void* user_data);
/* What a bounded flush achieved. */
typedef struct loomset_flush_result {
  uint64_t hits_sent;    /* analytics hits the collector answered */
  uint64_t hits_deleted; /* analytics hits deleted unsent (too old, too large) */
  int64_t hits_left;     /* still stored; -1 when the store could not count them */
  uint64_t pixels_sent;  /* loomset_flush only */
  int64_t pixels_left;   /* loomset_flush only */
  int timed_out;         /* the time ran out before everything was sent */
} loomset_flush_result;

/* Saves every store of both halves, then sends stored analytics hits and pixels until none is
 * left, a request gets no answer, or `timeout_seconds` have passed; returns no later than that.
 * `out_result` may be NULL. Call it from the application's own thread, not from a callback. */
LOOMSET_EXPORT loomset_status loomset_flush(double timeout_seconds,
                                            loomset_flush_result* out_result);
/* The same for the analytics hits alone (pixels_sent and pixels_left are 0). */
LOOMSET_EXPORT loomset_status loomset_analytics_flush(double timeout_seconds,
                                                      loomset_flush_result* out_result);

/* Seconds between periodic dispatches (0 or less: only on request). */
LOOMSET_EXPORT loomset_status loomset_set_dispatch_interval(double seconds);
/* While opted out, nothing is sent or stored. Kept across restarts. */
LOOMSET_EXPORT loomset_status loomset_set_opt_out(int opt_out);
LOOMSET_EXPORT loomset_status loomset_opt_out(int* out_opt_out);
/* Hits are handled as usual but never sent over the network. */
LOOMSET_EXPORT loomset_status loomset_set_dry_run(int dry_run);

/* The application is about to terminate: every store saves what it holds before this returns. */
LOOMSET_EXPORT loomset_status loomset_application_will_terminate(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* LOOMSET_LOOMSET_H_ */
