// The short names of the locking annotations (include/loomset/detail/ThreadAnnotations.h), for the
// library's own sources: GUARDED_BY(mu_), REQUIRES(mu_), EXCLUDES(mu_), ... Public headers use the
// LOOMSET_-prefixed names, so that they define nothing an application might define too.
#pragma once

#include "loomset/detail/ThreadAnnotations.h"

#ifndef CAPABILITY
#define CAPABILITY(x) LOOMSET_CAPABILITY(x)
#endif

#ifndef SCOPED_CAPABILITY
#define SCOPED_CAPABILITY LOOMSET_SCOPED_CAPABILITY
#endif

#ifndef GUARDED_BY
#define GUARDED_BY(x) LOOMSET_GUARDED_BY(x)
#endif

#ifndef PT_GUARDED_BY
#define PT_GUARDED_BY(x) LOOMSET_PT_GUARDED_BY(x)
#endif

#ifndef ACQUIRED_AFTER
#define ACQUIRED_AFTER(...) LOOMSET_ACQUIRED_AFTER(__VA_ARGS__)
#endif

#ifndef ACQUIRED_BEFORE
#define ACQUIRED_BEFORE(...) LOOMSET_ACQUIRED_BEFORE(__VA_ARGS__)
#endif

#ifndef REQUIRES
#define REQUIRES(...) LOOMSET_REQUIRES(__VA_ARGS__)
#endif

#ifndef REQUIRES_SHARED
#define REQUIRES_SHARED(...) LOOMSET_REQUIRES_SHARED(__VA_ARGS__)
#endif

#ifndef ACQUIRE
#define ACQUIRE(...) LOOMSET_ACQUIRE(__VA_ARGS__)
#endif

#ifndef ACQUIRE_SHARED
#define ACQUIRE_SHARED(...) LOOMSET_ACQUIRE_SHARED(__VA_ARGS__)
#endif

#ifndef RELEASE
#define RELEASE(...) LOOMSET_RELEASE(__VA_ARGS__)
#endif

#ifndef RELEASE_SHARED
#define RELEASE_SHARED(...) LOOMSET_RELEASE_SHARED(__VA_ARGS__)
#endif

#ifndef TRY_ACQUIRE
#define TRY_ACQUIRE(...) LOOMSET_TRY_ACQUIRE(__VA_ARGS__)
#endif

#ifndef EXCLUDES
#define EXCLUDES(...) LOOMSET_EXCLUDES(__VA_ARGS__)
#endif

#ifndef ASSERT_CAPABILITY
#define ASSERT_CAPABILITY(x) LOOMSET_ASSERT_CAPABILITY(x)
#endif

#ifndef RETURN_CAPABILITY
#define RETURN_CAPABILITY(x) LOOMSET_RETURN_CAPABILITY(x)
#endif

#ifndef NO_THREAD_SAFETY_ANALYSIS
#define NO_THREAD_SAFETY_ANALYSIS LOOMSET_NO_THREAD_SAFETY_ANALYSIS
#endif
