#include "lineLimit.h"

namespace snbench {

namespace {

constexpr double kSilenceChars = 3.5;

// Count register plus the data registers of a block of `bytes`.
int blockRegisters(int bytes) { return 1 + (bytes + 1) / 2; }

template <typename PerBlock>
double lineSeconds(std::size_t total, int baud, PerBlock chars) {
    const std::size_t full = total / kBlockBytes;
    const auto rest = static_cast<int>(total % kBlockBytes);
    double sum = static_cast<double>(full) * chars(kBlockBytes);
    if (rest != 0) sum += chars(rest);
    return sum * charSeconds(baud);
}

}  // namespace

double charSeconds(int baud) { return 10.0 / baud; }

double writeTransactionChars(int bytes) {
    // slave, function, read address and count, write address and count,
    // byte count, data, CRC; the reply carries one register.
    const int request = 11 + 2 * blockRegisters(bytes) + 2;
    const int reply = 3 + 2 + 2;
    return request + reply + 2 * kSilenceChars;
}

double readTransactionChars(int bytes) {
    const int request = 8;
    const int reply = 3 + 2 * blockRegisters(bytes) + 2;
    return request + reply + 2 * kSilenceChars;
}

double writeLineSeconds(std::size_t total, int baud) {
    return lineSeconds(total, baud, writeTransactionChars);
}

double readLineSeconds(std::size_t total, int baud) {
    return lineSeconds(total, baud, readTransactionChars);
}

}  // namespace snbench
