// Preloaded into the baseline's fc-cache: after writing a cache it sleeps
// two seconds, so that a later change of the folder gets a newer time stamp.
// That idling is no work, and the baseline measures work.
#include <unistd.h>

extern "C" unsigned int sleep(unsigned int /*seconds*/)
{
    return 0;
}
