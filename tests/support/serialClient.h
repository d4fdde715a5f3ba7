// An ordinary serial client: a terminal device opened by path and put in
// raw mode, as any serial program would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sntest {

class SerialClient {
public:
    SerialClient() = default;
    ~SerialClient();
    SerialClient(const SerialClient&) = delete;
    SerialClient& operator=(const SerialClient&) = delete;

    bool open(const std::string& path);  // open() + cfmakeraw
    void close();
    // The timeouts are for a stall, not for the whole transfer: a slow
    // (loaded) machine makes a long transfer longer, never a wrong one.
    //
    // Writes everything, waiting while the terminal is full; false on error
    // or when no progress was made for `stall`.
    bool writeAll(const std::vector<uint8_t>& data, std::chrono::milliseconds stall);
    // Reads until `count` bytes came, or none came for `stall`.
    std::vector<uint8_t> readExactly(std::size_t count, std::chrono::milliseconds stall);
    // Reads until what came so far is `complete`, or none came for `stall`:
    // for a stream that may arrive shorter or longer than it was sent.
    std::vector<uint8_t> readUntil(const std::function<bool(const std::vector<uint8_t>&)>& complete,
                                   std::chrono::milliseconds stall);

private:
    int fd_ = -1;
};

}  // namespace sntest
