#include "brokerConnection.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brokerSetup.h"

namespace snmqtt {

namespace {

// Packets read in one service() at most, so that a broker pouring
// messages in cannot keep the caller's loop from its other work.
constexpr int kReadsPerService = 64;
// What disconnect() waits for the broker's acknowledgements.
constexpr std::chrono::seconds kDrainTime{2};

std::string withoutFinalStop(std::string text) {
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

// libmosquitto reports either its own error numbers or, when the broker
// said why, an MQTT v5 reason code (those start at 128).
std::string reasonText(int result, int error) {
    if (result >= 128) return mosquitto_reason_string(result);
    switch (result) {
        case MOSQ_ERR_ERRNO:
            return std::strerror(error);
        case MOSQ_ERR_CONN_LOST:
            return "connection closed";
        case MOSQ_ERR_KEEPALIVE:
            return "no answer to keepalive pings";
        default:
            return withoutFinalStop(mosquitto_strerror(result));
    }
}

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return fd >= 0 && poll(&entry, 1, 0) > 0;
}

int pollFor(pollfd* entries, nfds_t count, std::chrono::steady_clock::duration wait) {
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return poll(entries, count, static_cast<int>(std::clamp<long long>(milliseconds, 0, INT_MAX)));
}

}  // namespace

// libmosquitto's C callbacks, back into the connection they were made for.
struct BrokerConnection::Callbacks {
    static BrokerConnection& of(void* userdata) {
        return *static_cast<BrokerConnection*>(userdata);
    }

    static void connect(mosquitto*, void* userdata, int reasonCode, int,
                        const mosquitto_property*) {
        of(userdata).connackArrived(reasonCode);
    }
    static void disconnect(mosquitto*, void* userdata, int result, const mosquitto_property*) {
        of(userdata).connectionEnded(reasonText(result, errno));
    }
    static void message(mosquitto*, void* userdata, const mosquitto_message* message,
                        const mosquitto_property* properties) {
        of(userdata).messageArrived(*message, properties);
    }
    static void publish(mosquitto*, void* userdata, int mid, int reasonCode,
                        const mosquitto_property*) {
        of(userdata).publishAcknowledged(mid, reasonCode);
    }
    // Its error lines say what its error numbers do not (which TLS check
    // failed); the last one is kept for the log line of the failure.
    static void logLine(mosquitto*, void* userdata, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) != 0) of(userdata).libraryError_ = text;
    }
    static void subscribe(mosquitto*, void* userdata, int mid, int count, const int* granted,
                          const mosquitto_property*) {
        if (count > 0) of(userdata).subscriptionAnswered(mid, granted[0]);
    }
};

void BrokerConnection::HandleDeleter::operator()(mosquitto* handle) const {
    mosquitto_destroy(handle);
}

BrokerConnection::BrokerConnection(ConnectionSettings settings, std::string logName)
    : settings_(std::move(settings)),
      logName_(std::move(logName)),
      url_(brokerUrl(settings_.broker)),
      handle_(makeBrokerHandle(settings_, this)),
      nextAttempt_(Clock::now()) {
    mosquitto* handle = handle_.get();
    mosquitto_connect_v5_callback_set(handle, Callbacks::connect);
    mosquitto_disconnect_v5_callback_set(handle, Callbacks::disconnect);
    mosquitto_message_v5_callback_set(handle, Callbacks::message);
    mosquitto_publish_v5_callback_set(handle, Callbacks::publish);
    mosquitto_subscribe_v5_callback_set(handle, Callbacks::subscribe);
    mosquitto_log_callback_set(handle, Callbacks::logLine);
}

// The handle goes first, while everything its callbacks could reach is
// still there.
BrokerConnection::~BrokerConnection() { handle_.reset(); }

void BrokerConnection::log(const std::string& line) const {
    const std::string prefixed = logName_ + ": " + line;
    if (log_)
        log_(prefixed);
    else
        std::fprintf(stderr, "%s\n", prefixed.c_str());
}

std::string BrokerConnection::retryAfter(const std::string& what) {
    const std::chrono::milliseconds wait = backoff_.next();
    nextAttempt_ = Clock::now() + wait;
    state_ = State::Waiting;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(wait.count()) / 1000.0);
    return what + "; trying again in " + seconds + " s";
}

// The host is looked up here, which blocks while a name server is slow;
// the TCP connect and everything after it go on in service().
void BrokerConnection::startAttempt() {
    libraryError_.clear();
    if (attemptWill_) setWill(attemptWill_());
    const int result = mosquitto_connect_async(handle_.get(), settings_.broker.host.c_str(),
                                               settings_.broker.port, settings_.keepaliveSeconds);
    const int error = errno;
    if (result != MOSQ_ERR_SUCCESS) {
        attemptFailed("cannot connect to " + url_ + ": " +
                      withLibraryError(reasonText(result, error)));
        return;
    }
    state_ = State::Connecting;
    attemptDeadline_ = Clock::now() + std::chrono::seconds(settings_.connectTimeoutSeconds);
}

// Kept by libmosquitto for the CONNECT it sends next.
void BrokerConnection::setWill(const Will& will) {
    const int result = mosquitto_will_set_v5(handle_.get(), will.topic.c_str(),
                                             static_cast<int>(will.payload.size()),
                                             will.payload.data(), will.qos, will.retain, nullptr);
    if (result != MOSQ_ERR_SUCCESS)
        log("cannot set the will on " + will.topic + ": " + reasonText(result, errno));
}

// The socket of a failed attempt is left to the next one, which closes it;
// until then it is not waited on.
void BrokerConnection::attemptFailed(const std::string& what) { log(retryAfter(what)); }

std::string BrokerConnection::withLibraryError(const std::string& reason) {
    const std::string detail = libraryError_.empty() ? "" : " (" + libraryError_ + ")";
    libraryError_.clear();
    return reason + detail;
}

void BrokerConnection::connectionEnded(const std::string& reason) {
    if (state_ == State::Connecting) {
        attemptFailed("cannot connect to " + url_ + ": " + withLibraryError(reason));
    } else if (state_ == State::Connected) {
        subscriptions_.clear();  // their SUBACKs will not come; they are made again
        log(retryAfter("broker connection lost (" + withLibraryError(reason) + ")"));
        events_.push_back({Event::Kind::Disconnected, {}});
    }
}

void BrokerConnection::connackArrived(int reasonCode) {
    if (state_ != State::Connecting) return;
    if (reasonCode != 0) {
        // Brokers say "not authorized" for a wrong password as often as
        // "bad user name or password".
        const bool credentials =
            reasonCode == MQTT_RC_BAD_USERNAME_OR_PASSWORD || reasonCode == MQTT_RC_NOT_AUTHORIZED;
        attemptFailed(url_ + " refused the connection: " + reasonText(reasonCode, 0) +
                      (credentials ? " (check the user name and password)" : ""));
        return;
    }
    state_ = State::Connected;
    backoff_.reset();
    log("connected to " + url_);
    events_.push_back({Event::Kind::Connected, {}});
}

void BrokerConnection::messageArrived(const mosquitto_message& message,
                                      const mosquitto_property* properties) {
    InboundMessage inbound;
    inbound.topic = message.topic;
    if (message.payloadlen > 0)
        inbound.payload.assign(static_cast<const char*>(message.payload),
                               static_cast<std::size_t>(message.payloadlen));
    inbound.qos = message.qos;
    inbound.retained = message.retain;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic,
                                       false) != nullptr) {
        inbound.responseTopic = responseTopic;
        inbound.hasResponseTopic = true;
        std::free(responseTopic);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                       &length, false) != nullptr) {
        inbound.correlation.assign(static_cast<const char*>(correlation), length);
        std::free(correlation);
    }
    events_.push_back({Event::Kind::Message, std::move(inbound)});
}

void BrokerConnection::publishAcknowledged(int mid, int reasonCode) {
    const auto found = unacknowledged_.find(mid);
    if (found == unacknowledged_.end()) return;
    if (reasonCode >= 128)
        log("the broker refused the message to " + found->second + ": " +
            reasonText(reasonCode, 0));
    unacknowledged_.erase(found);
}

void BrokerConnection::subscriptionAnswered(int mid, int grantedQos) {
    const auto found = subscriptions_.find(mid);
    if (found == subscriptions_.end()) return;
    if (grantedQos >= 128)
        log("the broker refused the subscription to " + found->second + ": " +
            reasonText(grantedQos, 0));
    subscriptions_.erase(found);
}

bool BrokerConnection::subscribe(const std::string& filter, int qos) {
    if (state_ != State::Connected) return false;
    int mid = 0;
    const int result = mosquitto_subscribe_v5(handle_.get(), &mid, filter.c_str(), qos, 0, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
        log("cannot subscribe to " + filter + ": " + reasonText(result, errno));
        return false;
    }
    subscriptions_[mid] = filter;
    return true;
}

bool BrokerConnection::publish(const std::string& topic, std::string_view payload, int qos,
                               bool retain) {
    if (state_ != State::Connected) return false;
    return send(topic, payload, qos, retain, nullptr);
}

bool BrokerConnection::respond(const InboundMessage& to, std::string_view payload) {
    if (!to.hasResponseTopic || state_ != State::Connected) return false;
    if (to.correlation.size() > UINT16_MAX) return false;
    mosquitto_property* properties = nullptr;
    if (!to.correlation.empty() &&
        mosquitto_property_add_binary(
            &properties, MQTT_PROP_CORRELATION_DATA, to.correlation.data(),
            static_cast<uint16_t>(to.correlation.size())) != MOSQ_ERR_SUCCESS)
        return false;
    const bool sent = send(to.responseTopic, payload, 1, false, properties);
    mosquitto_property_free_all(&properties);
    return sent;
}

bool BrokerConnection::send(const std::string& topic, std::string_view payload, int qos,
                            bool retain, const mosquitto_property* properties) {
    if (payload.size() > static_cast<std::size_t>(INT_MAX)) {
        log("cannot publish to " + topic + ": the payload is too large");
        return false;
    }
    int mid = 0;
    const int result =
        mosquitto_publish_v5(handle_.get(), &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, retain, properties);
    if (result != MOSQ_ERR_SUCCESS) {
        // A connection that just broke is reported by service(), once.
        if (result != MOSQ_ERR_NO_CONN && result != MOSQ_ERR_CONN_LOST)
            log("cannot publish to " + topic + ": " + reasonText(result, errno));
        return false;
    }
    if (qos > 0) unacknowledged_[mid] = topic;
    return true;
}

BrokerConnection::Clock::time_point BrokerConnection::nextTimer(Clock::time_point now) const {
    switch (state_) {
        case State::Waiting:
            return nextAttempt_;
        case State::Connecting:
            return attemptDeadline_;
        case State::Connected:
            // Keepalive pings are counted in seconds.
            return now + std::chrono::seconds(1);
        case State::Closed:
            break;
    }
    return Clock::time_point::max();
}

// A failure libmosquitto reports by its return value alone: the ones that
// close the socket have already called the disconnect callback, and then
// this finds nothing left to do.
void BrokerConnection::libraryFailed(int result, int error) {
    if (result != MOSQ_ERR_SUCCESS) connectionEnded(reasonText(result, error));
}

void BrokerConnection::readAndWrite(short events) {
    mosquitto* handle = handle_.get();
    if (events & (POLLIN | POLLERR | POLLHUP)) {
        for (int i = 0; i < kReadsPerService; ++i) {
            const int result = mosquitto_loop_read(handle, 1);
            if (result != MOSQ_ERR_SUCCESS) return libraryFailed(result, errno);
            if (!readable(mosquitto_socket(handle))) break;
        }
    }
    if ((events & POLLOUT) && mosquitto_socket(handle) >= 0)
        libraryFailed(mosquitto_loop_write(handle, 1), errno);
}

bool BrokerConnection::watch(pollfd& entry) const {
    const int socket = mosquitto_socket(handle_.get());
    const bool live = state_ == State::Connecting || state_ == State::Connected;
    if (!live || socket < 0) return false;
    const bool writing = mosquitto_want_write(handle_.get());
    entry = {socket, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    return true;
}

// True when a socket or the wake descriptor had something.
bool BrokerConnection::exchange(Clock::duration wait, int wakeFd) {
    pollfd entries[2];
    nfds_t count = 0;
    const bool watched = watch(entries[0]);
    if (watched) ++count;
    if (wakeFd >= 0) entries[count++] = {wakeFd, POLLIN, 0};
    if (pollFor(entries, count, wait) <= 0) return false;
    if (watched && entries[0].revents != 0) readAndWrite(entries[0].revents);
    return true;
}

void BrokerConnection::dispatch() {
    std::vector<Event> events;
    events.swap(events_);
    for (const Event& event : events) {
        if (event.kind == Event::Kind::Connected && connected_) connected_();
        if (event.kind == Event::Kind::Message && message_) message_(event.message);
        if (event.kind == Event::Kind::Disconnected && disconnected_) disconnected_();
    }
}

void BrokerConnection::startIfDue(Clock::time_point now) {
    if (state_ == State::Waiting && now >= nextAttempt_) startAttempt();
    if (state_ == State::Connecting && now >= attemptDeadline_)
        attemptFailed("cannot connect to " + url_ + ": no answer within " +
                      std::to_string(settings_.connectTimeoutSeconds) + " s");
}

// What the socket had, the keepalive, then the callbacks; true when there
// were any.
bool BrokerConnection::afterWait(short events) {
    if (events != 0) readAndWrite(events);
    if (state_ == State::Connected) libraryFailed(mosquitto_loop_misc(handle_.get()), errno);
    const bool happened = !events_.empty();
    dispatch();
    return happened;
}

void BrokerConnection::service(std::chrono::milliseconds most, int wakeFd) {
    BrokerConnection* const self[] = {this};
    serviceAll(self, most, wakeFd);
}

void BrokerConnection::serviceAll(std::span<BrokerConnection* const> connections,
                                  std::chrono::milliseconds most, int wakeFd) {
    const Clock::time_point end = Clock::now() + most;
    std::vector<pollfd> entries(connections.size() + 1);
    std::vector<int> slots(connections.size());
    for (;;) {
        const Clock::time_point now = Clock::now();
        Clock::time_point until = end;
        nfds_t count = 0;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            connections[i]->startIfDue(now);
            until = std::min(until, connections[i]->nextTimer(now));
            slots[i] = connections[i]->watch(entries[count]) ? static_cast<int>(count++) : -1;
        }
        if (wakeFd >= 0) entries[count++] = {wakeFd, POLLIN, 0};
        bool happened = pollFor(entries.data(), count, until - now) > 0;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            const auto slot = static_cast<std::size_t>(slots[i]);
            happened =
                connections[i]->afterWait(slots[i] < 0 ? 0 : entries[slot].revents) || happened;
        }
        if (happened || Clock::now() >= end) return;
    }
}

void BrokerConnection::disconnect() {
    const Clock::time_point end = Clock::now() + kDrainTime;
    // Messages that arrive meanwhile were acknowledged already: they are
    // delivered, not dropped with the connection.
    while (!unacknowledged_.empty() && state_ == State::Connected && Clock::now() < end) {
        exchange(end - Clock::now(), -1);
        dispatch();
    }
    // Lost meanwhile, closed by a callback, or never up: nothing to say.
    if (state_ != State::Connected) {
        state_ = State::Closed;
        return;
    }
    state_ = State::Closed;
    mosquitto* handle = handle_.get();
    mosquitto_disconnect_v5(handle, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    while (mosquitto_socket(handle) >= 0 && mosquitto_want_write(handle) && Clock::now() < end) {
        pollfd entry{mosquitto_socket(handle), POLLOUT, 0};
        if (poll(&entry, 1, 100) > 0) mosquitto_loop_write(handle, 1);
    }
    log("disconnected from " + url_);
}

}  // namespace snmqtt
