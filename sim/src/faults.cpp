#include "faults.h"

#include "rtuFrame.h"

namespace snsim::detail {

std::vector<uint8_t> faultyReply(Fault fault, std::vector<uint8_t> reply) {
    if (reply.size() < 4) return reply;
    switch (fault) {
        case Fault::WrongSlave:
            reply[0] = static_cast<uint8_t>(reply[0] % 247 + 1);  // another valid address
            setCrc(reply);
            break;
        case Fault::BadCrc:
            reply.back() = static_cast<uint8_t>(reply.back() ^ 0x5A);
            break;
        case Fault::ShortFrame:
            reply.resize(reply.size() - 3);
            break;
        case Fault::OtherSlaveFirst: {
            std::vector<uint8_t> both = faultyReply(Fault::WrongSlave, reply);
            both.insert(both.end(), reply.begin(), reply.end());
            return both;
        }
        default:
            break;
    }
    return reply;
}

std::vector<uint8_t> exceptionFrame(int slave, int function, int code) {
    std::vector<uint8_t> f{static_cast<uint8_t>(slave), static_cast<uint8_t>(function | 0x80),
                           static_cast<uint8_t>(code), 0, 0};
    setCrc(f);
    return f;
}

}  // namespace snsim::detail
