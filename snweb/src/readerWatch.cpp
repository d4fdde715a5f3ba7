// A page's WebSocket that takes nothing of what is sent to it: bytes owed
// to it and none of them acknowledged for 10 s.  Writes wait for room, so
// it costs little memory, but it holds a connection and a page's place (a
// terminal's keystrokes go on reaching the node); it is closed with one log
// line saying why.  A page that reads, however slowly, is kept.
#include <libwebsockets.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <sys/ioctl.h>

#include <optional>

#include "webSession.h"

namespace snweb {

namespace {

constexpr lws_usec_t kCheckEvery = LWS_USEC_PER_SEC;

struct Delivery {
    uint64_t acknowledged = 0;  // by the client's TCP, of all it was sent
    int unacknowledged = 0;     // in the socket still
};

std::optional<Delivery> deliveryOf(lws* wsi) {
    const int fd = lws_get_socket_fd(wsi);
    tcp_info info{};
    socklen_t length = sizeof info;
    Delivery delivery;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        ioctl(fd, SIOCOUTQ, &delivery.unacknowledged) != 0)
        return std::nullopt;
    delivery.acknowledged = info.tcpi_bytes_acked;
    return delivery;
}

}  // namespace

void WebServer::watchReader(lws* wsi, Session& session) {
    session.takenAt = std::chrono::steady_clock::now();
    lws_set_timer_usecs(wsi, kCheckEvery);
}

// Once a second: nothing owed to the page, or more of it acknowledged than
// the last time, is the page reading.  A socket that cannot tell is never
// taken for a page that does not read.
int WebServer::checkReader(lws* wsi, Session& session) {
    const auto now = std::chrono::steady_clock::now();
    const std::optional<Delivery> delivery = deliveryOf(wsi);
    const bool owed = delivery && (delivery->unacknowledged > 0 || lws_partial_buffered(wsi) != 0);
    if (!owed || delivery->acknowledged > session.acknowledged) session.takenAt = now;
    if (delivery) session.acknowledged = delivery->acknowledged;
    if (now - session.takenAt >= limits_.unread) {
        session.closedFor =
            "it took nothing sent to it for " + std::to_string(limits_.unread.count()) + " s";
        // A terminal's closing line says why; the other pages have none.
        if (session.kind != Session::Kind::Terminal)
            log(wsi, "closed WebSocket: " + session.closedFor);
        return -1;
    }
    lws_set_timer_usecs(wsi, kCheckEvery);
    return 0;
}

}  // namespace snweb
