// The program's one connection to the MQTT broker (MQTT v5 over
// libmosquitto), driven from the caller's thread alone: service() waits on
// the broker's socket and on a wake descriptor of the caller's, reads,
// writes, keeps the connection alive and, once it is gone, connects again
// when its time comes.  No library thread ever runs.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "brokerAddress.h"
#include "reconnectBackoff.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
struct pollfd;

namespace snmqtt {

// Published by the broker when the connection drops without a DISCONNECT
// (crash, cable, keepalive); an empty topic sets none.
struct Will {
    std::string topic, payload;
    int qos = 1;
    bool retain = true;
};

struct ConnectionSettings {
    BrokerAddress broker;
    // Names the session the broker keeps for us while we are away: needed.
    std::string clientId;
    std::string username;
    std::string password;
    // For mqtts:// only.  With no CA file the system's CAs in /etc/ssl/certs
    // vouch for the broker; a client certificate takes both cert and key.
    std::string cafile, certfile, keyfile;
    int keepaliveSeconds = 30;
    // How long the broker keeps the session (subscriptions, QoS 1 messages
    // for us) after the connection is gone.
    int sessionExpirySeconds = 3600;
    // An attempt that has no CONNACK by then is given up and tried again.
    int connectTimeoutSeconds = 10;
    // A session of its own for each connection, nothing taken over from the
    // last one (what Sparkplug hosts expect of an edge node).
    bool cleanStart = false;
    Will will;
};

struct InboundMessage {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retained = false;
    // From the v5 properties: where a requester wants its answer.
    std::string responseTopic;
    std::string correlation;
    bool hasResponseTopic = false;
};

class BrokerConnection {
public:
    // Throws std::runtime_error, with a sentence, when the settings cannot
    // work (no client id, unreadable TLS files...).  Connects on the first
    // service().
    BrokerConnection(ConnectionSettings settings, std::string logName);
    // Without disconnect() first the broker sees the connection drop and
    // publishes the will, as after a crash.
    ~BrokerConnection();
    BrokerConnection(const BrokerConnection&) = delete;
    BrokerConnection& operator=(const BrokerConnection&) = delete;

    // Every callback runs on the caller's thread, inside service(), outside
    // libmosquitto: it may publish, subscribe or disconnect.
    //
    // After every connection the broker accepted: subscribe and publish all
    // that is retained there, since nothing is kept while away.
    void onConnected(std::function<void()> callback) { connected_ = std::move(callback); }
    // Delivery is at least once for QoS 1: libmosquitto acknowledges a
    // message before it reaches us and does not show the DUP flag, so the
    // rare redelivery of a message whose PUBACK the broker missed before
    // the connection broke cannot be told from a repeated command.  A
    // filter subscribed at QoS 2 gets exactly once, for publishers that
    // send at QoS 2.
    void onMessage(std::function<void(const InboundMessage&)> callback) {
        message_ = std::move(callback);
    }
    // After a connection that was up is lost (not after disconnect()).
    void onDisconnected(std::function<void()> callback) { disconnected_ = std::move(callback); }
    // Where the log lines go, each prefixed by the log name, without a
    // newline; stderr when unset.
    void onLog(std::function<void(const std::string&)> sink) { log_ = std::move(sink); }
    // A will made anew before every attempt to connect, in place of the
    // settings' (a Sparkplug NDEATH carries the number of its connection).
    void onAttempt(std::function<Will()> will) { attemptWill_ = std::move(will); }

    // False when not connected (nothing is queued while away) or refused
    // by libmosquitto (bad topic, QoS, payload size): that one is logged.
    bool subscribe(const std::string& filter, int qos);
    bool publish(const std::string& topic, std::string_view payload, int qos, bool retain);
    // Publishes to the message's response topic with its correlation data,
    // QoS 1, not retained; false when it named no response topic.
    bool respond(const InboundMessage& to, std::string_view payload);

    // Waits up to `most` for the broker's socket or `wakeFd` (read by the
    // caller, not here), exchanges what there is, keeps the connection
    // alive and starts the next attempt when it is due.  Returns early when
    // something happened.
    void service(std::chrono::milliseconds most, int wakeFd = -1);
    // The same for several connections from one wait, so that one thread
    // hears each of them as soon as something comes.
    static void serviceAll(std::span<BrokerConnection* const> connections,
                           std::chrono::milliseconds most, int wakeFd = -1);

    // A clean DISCONNECT, after waiting (2 s at most) for the broker to
    // acknowledge what was published at QoS 1 or 2: publish "offline"
    // first, since the broker does not publish the will then.  Messages
    // arriving during that wait still reach onMessage.  No reconnection
    // follows.
    void disconnect();
    bool connected() const { return state_ == State::Connected; }

private:
    enum class State { Waiting, Connecting, Connected, Closed };
    using Clock = std::chrono::steady_clock;
    struct Callbacks;
    struct HandleDeleter {
        void operator()(mosquitto* handle) const;
    };
    struct Event {
        enum class Kind { Connected, Message, Disconnected } kind;
        InboundMessage message;
    };

    void startAttempt();
    void setWill(const Will& will);
    void startIfDue(Clock::time_point now);
    bool watch(pollfd& entry) const;
    bool afterWait(short events);
    void attemptFailed(const std::string& what);
    void connectionEnded(const std::string& reason);
    std::string withLibraryError(const std::string& reason);
    void connackArrived(int reasonCode);
    void messageArrived(const mosquitto_message& message, const mqtt5__property* properties);
    void publishAcknowledged(int mid, int reasonCode);
    void subscriptionAnswered(int mid, int grantedQos);
    Clock::time_point nextTimer(Clock::time_point now) const;
    bool exchange(Clock::duration wait, int wakeFd);
    void readAndWrite(short events);
    void libraryFailed(int result, int error);
    bool send(const std::string& topic, std::string_view payload, int qos, bool retain,
              const mqtt5__property* properties);
    void dispatch();
    std::string retryAfter(const std::string& what);
    void log(const std::string& line) const;

    ConnectionSettings settings_;
    std::string logName_;
    std::string url_;
    std::unique_ptr<mosquitto, HandleDeleter> handle_;
    State state_ = State::Waiting;
    Clock::time_point nextAttempt_;
    Clock::time_point attemptDeadline_;
    ReconnectBackoff backoff_;
    std::vector<Event> events_;
    std::string libraryError_;                   // libmosquitto's last error line
    std::map<int, std::string> unacknowledged_;  // QoS 1/2 publications: mid, topic
    std::map<int, std::string> subscriptions_;   // awaiting their SUBACK: mid, filter
    std::function<void()> connected_;
    std::function<void(const InboundMessage&)> message_;
    std::function<void()> disconnected_;
    std::function<void(const std::string&)> log_;
    std::function<Will()> attemptWill_;
};

}  // namespace snmqtt
