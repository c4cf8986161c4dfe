#include "engine/Clock.h"

#include <time.h>

namespace vesperine {

Instant SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return Instant::fromSecondsSince1970(static_cast<double>(ts.tv_sec) +
                                         static_cast<double>(ts.tv_nsec) / 1e9);
}

}  // namespace vesperine
