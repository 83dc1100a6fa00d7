// Clang's thread-safety attributes as macros: the locks of the platform
// library, the plug-in and the host say in code what they guard, and the
// linux-clang build (-Wthread-safety) checks it. Under any other compiler
// the macros expand to nothing. Shared by the Windows and POSIX builds.
#pragma once

#if defined(__clang__)
#define VASK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VASK_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(name) VASK_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY VASK_THREAD_ANNOTATION(scoped_lockable)
// A member read and written only with the lock held.
#define GUARDED_BY(lock) VASK_THREAD_ANNOTATION(guarded_by(lock))
// A pointer member whose target is read and written only with the lock held.
#define PT_GUARDED_BY(lock) VASK_THREAD_ANNOTATION(pt_guarded_by(lock))
// A function called with the lock held.
#define REQUIRES(...) VASK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that takes the lock and returns holding it.
#define ACQUIRE(...) VASK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that takes the lock when it returns `result` (a try-lock).
#define TRY_ACQUIRE(...) VASK_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that releases the lock.
#define RELEASE(...) VASK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that must not be called with the lock held (it takes the lock
// itself). Not for re-entrant locks that a caller may legitimately hold.
#define EXCLUDES(...) VASK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that checks (or states) that the calling thread holds the lock.
#define ASSERT_CAPABILITY(lock) VASK_THREAD_ANNOTATION(assert_capability(lock))
// A function that returns a reference to the lock.
#define RETURN_CAPABILITY(lock) VASK_THREAD_ANNOTATION(lock_returned(lock))
// Lock order: this lock is taken only after (or before) the others.
#define ACQUIRED_AFTER(...) VASK_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) VASK_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
// A function the analysis skips; say why where it is used.
#define NO_THREAD_SAFETY_ANALYSIS VASK_THREAD_ANNOTATION(no_thread_safety_analysis)
