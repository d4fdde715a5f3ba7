#include "pause.h"

#include <cerrno>
#include <ctime>

namespace snlib {

void pauseMicroseconds(uint64_t us) {
    timespec remaining{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

}  // namespace snlib
