// Clang's thread-safety annotations. With clang and -Wthread-safety the compiler checks that a
// member marked GUARDED_BY(mu_) is only touched with mu_ held, that a function marked
// REQUIRES(mu_) is only called with it held, and that EXCLUDES(mu_) functions are not; other
// compilers see empty macros. Locks are annotated in Mutex.h; std::mutex is not (libstdc++ carries
// no annotations), so a lock the analysis should see must be a Mutex or a RecursiveMutex.
#pragma once

#if defined(__clang__) && !defined(SWIG)
#define LOOMSET_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LOOMSET_THREAD_ANNOTATION(x)
#endif

// A type that is a lock (or another capability a thread can hold).
#ifndef CAPABILITY
#define CAPABILITY(x) LOOMSET_THREAD_ANNOTATION(capability(x))
#endif

// A type whose objects take a capability when built and release it when destroyed.
#ifndef SCOPED_CAPABILITY
#define SCOPED_CAPABILITY LOOMSET_THREAD_ANNOTATION(scoped_lockable)
#endif

// Data that may be read or written only with the capability held.
#ifndef GUARDED_BY
#define GUARDED_BY(x) LOOMSET_THREAD_ANNOTATION(guarded_by(x))
#endif

// A pointer whose pointee may be touched only with the capability held.
#ifndef PT_GUARDED_BY
#define PT_GUARDED_BY(x) LOOMSET_THREAD_ANNOTATION(pt_guarded_by(x))
#endif

// Lock order: this capability is taken after (before) the named ones.
#ifndef ACQUIRED_AFTER
#define ACQUIRED_AFTER(...) LOOMSET_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#endif
#ifndef ACQUIRED_BEFORE
#define ACQUIRED_BEFORE(...) LOOMSET_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#endif

// The caller must hold the capabilities (exclusively, or at least shared).
#ifndef REQUIRES
#define REQUIRES(...) LOOMSET_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#endif
#ifndef REQUIRES_SHARED
#define REQUIRES_SHARED(...) LOOMSET_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#endif

// The function takes (gives back) the capabilities and returns holding (not holding) them.
#ifndef ACQUIRE
#define ACQUIRE(...) LOOMSET_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#endif
#ifndef ACQUIRE_SHARED
#define ACQUIRE_SHARED(...) LOOMSET_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#endif
#ifndef RELEASE
#define RELEASE(...) LOOMSET_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#endif
#ifndef RELEASE_SHARED
#define RELEASE_SHARED(...) LOOMSET_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#endif

// The function takes the capability when it returns the given value.
#ifndef TRY_ACQUIRE
#define TRY_ACQUIRE(...) LOOMSET_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#endif

// The caller must not hold the capabilities (the function takes them itself).
#ifndef EXCLUDES
#define EXCLUDES(...) LOOMSET_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#endif

// The function checks at run time that the capability is held; afterwards the analysis assumes
// it is.
#ifndef ASSERT_CAPABILITY
#define ASSERT_CAPABILITY(x) LOOMSET_THREAD_ANNOTATION(assert_capability(x))
#endif

// The function returns a reference to the named capability.
#ifndef RETURN_CAPABILITY
#define RETURN_CAPABILITY(x) LOOMSET_THREAD_ANNOTATION(lock_returned(x))
#endif

// Turns the analysis off for one function; each use says why the analysis cannot follow it.
#ifndef NO_THREAD_SAFETY_ANALYSIS
#define NO_THREAD_SAFETY_ANALYSIS LOOMSET_THREAD_ANNOTATION(no_thread_safety_analysis)
#endif
