// Whether this test program is built with a sanitizer. Under one, everything runs several
// times slower: a bound on how long something took says nothing there, while what happened
// (and in which order) still holds.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool UNDER_SANITIZER = true;
#else
constexpr bool UNDER_SANITIZER = false;
#endif
