// Clang's thread-safety annotations, prefixed so that public headers using them define nothing an
// application might define too. With clang and -Wthread-safety the compiler checks that a member
// marked LOOMSET_GUARDED_BY(mu_) is only touched with mu_ held, that a function marked
// LOOMSET_REQUIRES(mu_) is only called with it held, and that LOOMSET_EXCLUDES(mu_) functions are
// not; other compilers see empty macros. The lock types are annotated in Mutex.h; std::mutex is not
// (libstdc++ carries no annotations), so a lock the analysis should see must be one of those.
// The library's own sources use the short names of Library/Util/platform/ThreadAnnotations.h.
#pragma once

#if defined(__clang__) && !defined(SWIG)
#define LOOMSET_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LOOMSET_THREAD_ANNOTATION(x)
#endif

// A type that is a lock (or another capability a thread can hold).
#define LOOMSET_CAPABILITY(x) LOOMSET_THREAD_ANNOTATION(capability(x))

// A type whose objects take a capability when built and release it when destroyed.
#define LOOMSET_SCOPED_CAPABILITY LOOMSET_THREAD_ANNOTATION(scoped_lockable)

// Data that may be read or written only with the capability held.
#define LOOMSET_GUARDED_BY(x) LOOMSET_THREAD_ANNOTATION(guarded_by(x))

// A pointer whose pointee may be touched only with the capability held.
#define LOOMSET_PT_GUARDED_BY(x) LOOMSET_THREAD_ANNOTATION(pt_guarded_by(x))

// Lock order: this capability is taken after (before) the named ones.
#define LOOMSET_ACQUIRED_AFTER(...) LOOMSET_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define LOOMSET_ACQUIRED_BEFORE(...) LOOMSET_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))

// The caller must hold the capabilities (exclusively, or at least shared).
#define LOOMSET_REQUIRES(...) LOOMSET_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define LOOMSET_REQUIRES_SHARED(...) \
  LOOMSET_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))

// The function takes (gives back) the capabilities and returns holding (not holding) them.
#define LOOMSET_ACQUIRE(...) LOOMSET_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define LOOMSET_ACQUIRE_SHARED(...) \
  LOOMSET_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define LOOMSET_RELEASE(...) LOOMSET_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define LOOMSET_RELEASE_SHARED(...) \
  LOOMSET_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))

// The function takes the capability when it returns the given value.
#define LOOMSET_TRY_ACQUIRE(...) LOOMSET_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

// The caller must not hold the capabilities (the function takes them itself).
#define LOOMSET_EXCLUDES(...) LOOMSET_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// The function checks at run time that the capability is held; afterwards the analysis assumes
// it is.
#define LOOMSET_ASSERT_CAPABILITY(x) LOOMSET_THREAD_ANNOTATION(assert_capability(x))

// The function returns a reference to the named capability.
#define LOOMSET_RETURN_CAPABILITY(x) LOOMSET_THREAD_ANNOTATION(lock_returned(x))

// Turns the analysis off for one function; each use says why the analysis cannot follow it.
#define LOOMSET_NO_THREAD_SAFETY_ANALYSIS LOOMSET_THREAD_ANNOTATION(no_thread_safety_analysis)
