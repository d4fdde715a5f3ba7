// libFuzzer target: whatever a network client sends to a served bridge,
// through the real client code (Telnet session, COM-PORT-OPTION answers,
// the queues to the relay) on a socket pair.  The first byte of the input
// picks how the rest is cut into reads.
#include "clientPeer.h"
#include "remoteClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t cut = 1 + data[0] % 64;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) return 0;
    {
        snctl::ClientPeer peer(true, false);
        peer.connect();
        snctl::RemoteClient client(fds[0], "fuzz", peer, true, snctl::PortLine{9600, 'N', 1});
        uint8_t drain[4096];
        std::optional<snctl::NodeAction> action;
        for (std::size_t at = 1; at < size; at += cut) {
            const std::size_t length = at + cut <= size ? cut : size - at;
            if (write(fds[1], data + at, length) < 0) break;
            if (!client.readSocket()) break;
            client.passOnLineIfQuiet(snctl::RemoteClient::Clock::now() + std::chrono::seconds(1));
            client.writeSocket();
            while (read(fds[1], drain, sizeof drain) > 0) {
            }
            while (peer.takeInput(drain, sizeof drain, action) > 0 || action) action.reset();
            client.reportErrorFlags(0x1E);
        }
        peer.disconnect(data[0] % 2 == 0);
        for (const snctl::NodeAction& left : client.restore()) peer.pushAction(left);
    }  // the client closes fds[0]
    close(fds[1]);
    return 0;
}
