// snbusd's side of untrusted bytes: Modbus TCP frames from several clients'
// streams, the requests checked and queued in turn, the answers checked.
// Invariants: a frame never claims more than it was given, each client's
// requests leave the queue in the order they came, the counts add up, and
// an answer built for a request parses back as that request's answer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "clientTimeout.h"
#include "fairQueue.h"
#include "mbapFrame.h"
#include "requestCheck.h"
#include "snline/pduShape.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// Takes every whole frame of one client's stream into the queue; false
// once the stream is no Modbus TCP (the connection would be closed).
bool takeStream(snbusd::ClientId client, std::vector<uint8_t>& stream, snbusd::FairQueue& queue,
                uint16_t& sequence) {
    for (;;) {
        snbusd::Frame frame = snbusd::takeFrame(stream.data(), stream.size());
        if (frame.status == snbusd::FrameStatus::NeedMore) return true;
        if (frame.status == snbusd::FrameStatus::Bad) return false;
        require(frame.consumed >= 8 && frame.consumed <= stream.size());
        require(frame.request.pdu.size() + 7 == frame.consumed);
        stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(frame.consumed));
        const snbusd::Policy policy{(sequence & 1) != 0, {}};
        snbusd::refusal(frame.request, policy);
        if (snbusd::asksForClientTimeout(frame.request)) {
            const auto answer = snbusd::answerClientTimeout(frame.request, sequence & 2u);
            const bool taken = answer.timeout.count() != 0;
            require(answer.pdu.size() == 2 && taken == (answer.pdu[0] == 0x41));
            require(!taken || (answer.timeout.count() <= 65535 && answer.pdu[1] == 1));
        }
        frame.request.transaction = sequence++;  // our own order, to check the queue's
        queue.add(snbusd::Job{client, std::move(frame.request), {}});
    }
}

void checkAnswers(const snbusd::Job& job, const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t>& pdu = job.request.pdu;
    // As the line worker does: only a request the daemon would send is
    // ever matched against an answer.
    if (snbusd::refusal(job.request, snbusd::Policy{}) == 0)
        snline::answers(pdu.data(), pdu.size(), data, size);
    const std::vector<uint8_t> frame = snbusd::answerFrame(job.request, pdu);
    const snbusd::Frame back = snbusd::takeFrame(frame.data(), frame.size());
    if (pdu.empty() || pdu.size() > 253) return;
    require(back.status == snbusd::FrameStatus::Complete && back.request.pdu == pdu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    snbusd::FairQueue queue(115200);
    std::map<snbusd::ClientId, std::vector<uint8_t>> streams;
    std::map<snbusd::ClientId, uint16_t> sequence, served;
    // Each piece: a byte naming the client (1 to 4), a length byte, the bytes.
    for (std::size_t at = 0; at + 2 <= size;) {
        const snbusd::ClientId client = 1 + data[at] % 4;
        const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
        std::vector<uint8_t>& stream = streams[client];
        stream.insert(stream.end(), data + at + 2, data + at + 2 + length);
        at += 2 + length;
        if (!takeStream(client, stream, queue, sequence[client])) queue.dropClient(client);
        if (data[at - 1] & 1) {  // now and then the line takes one
            if (auto job = queue.next()) {
                require(job->request.transaction == served[job->client]++);
                checkAnswers(*job, data, size);
            }
        }
    }
    while (auto job = queue.next()) require(job->request.transaction == served[job->client]++);
    require(queue.waiting() == 0);
    return 0;
}
