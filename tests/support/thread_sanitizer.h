// For tests that run many rounds on several threads, so that a race crashes often enough:
// ThreadSanitizer reports a race in a few rounds, and the many are too slow under it.
#ifndef QK_TESTS_SUPPORT_THREAD_SANITIZER_H
#define QK_TESTS_SUPPORT_THREAD_SANITIZER_H

namespace testsupport {

#if defined(__SANITIZE_THREAD__)
constexpr bool under_thread_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool under_thread_sanitizer = true;
#else
constexpr bool under_thread_sanitizer = false;
#endif
#else
constexpr bool under_thread_sanitizer = false;
#endif

}  // namespace testsupport

#endif
