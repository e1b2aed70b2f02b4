#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kernwell {

// Work in proportion to the library (a cache scan, the burst of downloads
// before it, a look at every installed face) leaves the allocator holding
// what it freed, for later use: give it back to the system, so that what
// stays behind does not grow with the library.
inline void releaseFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace kernwell
