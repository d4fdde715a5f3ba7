// A library user in a process of its own: reads one analog channel of a
// node through a tcp: name again and again, and counts every answer that
// is not the channel's value.  busReader NAME CHANNEL EXPECTED COUNT
#include <snLib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s NAME CHANNEL EXPECTED COUNT\n", argv[0]);
        return 2;
    }
    const auto channel = static_cast<uint16_t>(std::atoi(argv[2]));
    const long expected = std::atol(argv[3]);
    const long count = std::atol(argv[4]);
    initSensorNodeLib();
    SensorNode* node = openSensorNode(argv[1], 115200, 1);
    if (node == nullptr) {
        std::fprintf(stderr, "open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    long wrong = 0, failed = 0;
    for (long i = 0; i < count; ++i) {
        uint16_t value = 0;
        if (snAnalogChan(node, channel, &value) != 0) {
            ++failed;
        } else if (value != expected) {
            ++wrong;
        }
    }
    std::printf("channel %u: %ld reads, %ld wrong, %ld failed\n", channel, count, wrong, failed);
    return wrong == 0 && failed == 0 ? 0 : 1;
}
