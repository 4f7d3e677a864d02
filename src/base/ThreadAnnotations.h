#pragma once
// The lock rules as Clang's thread-safety analysis checks them (scripts/lint compiles every source
// with -Wthread-safety): a field marked GUARDED_BY(lock) is used only while that lock is held, a
// function marked REQUIRES(lock) is called only with it held, one marked EXCLUDES(lock) only
// without it. NO_THREAD_SAFETY_ANALYSIS marks a function that takes or leaves a lock for another
// call to release, which the analysis cannot follow. Other compilers read the marks as nothing.
#if defined(__clang__)
#define DUZ_THREAD_ANNOTATION(attribute) __attribute__((attribute))
#else
#define DUZ_THREAD_ANNOTATION(attribute)
#endif

#define CAPABILITY(name) DUZ_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY DUZ_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) DUZ_THREAD_ANNOTATION(guarded_by(lock))
#define REQUIRES(...) DUZ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) DUZ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) DUZ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) DUZ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(lock) DUZ_THREAD_ANNOTATION(lock_returned(lock))
#define ASSERT_CAPABILITY(lock) DUZ_THREAD_ANNOTATION(assert_capability(lock))
#define NO_THREAD_SAFETY_ANALYSIS DUZ_THREAD_ANNOTATION(no_thread_safety_analysis)
