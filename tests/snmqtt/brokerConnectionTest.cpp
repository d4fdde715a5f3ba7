// The broker connection: its address, its backoff, and the connection
// itself against a real mosquitto (publish, subscribe, will, restart,
// request and response, credentials, TLS, a session kept while away).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>

#include "brokerAddress.h"
#include "brokerConnection.h"
#include "freePort.h"
#include "mosquittoBroker.h"
#include "reconnectBackoff.h"

namespace {

using namespace std::chrono_literals;
using snmqtt::BrokerConnection;
using snmqtt::ConnectionSettings;
using snmqtt::InboundMessage;
using Clock = std::chrono::steady_clock;

TEST(BrokerAddressTest, TakesBothSchemesWithTheirDefaultPorts) {
    struct Case {
        const char* text;
        bool tls;
        const char* host;
        int port;
    };
    for (const Case& c : {Case{"mqtt://broker.lan", false, "broker.lan", 1883},
                          Case{"mqtts://broker.lan", true, "broker.lan", 8883},
                          Case{"MQTT://10.0.0.2:1999", false, "10.0.0.2", 1999},
                          Case{"mqtts://[::1]:8884", true, "::1", 8884},
                          Case{"mqtt://[fe80::1%eth0]", false, "fe80::1%eth0", 1883},
                          Case{"mqtt://host:65535/", false, "host", 65535}}) {
        std::string why;
        const auto address = snmqtt::parseBrokerAddress(c.text, why);
        ASSERT_TRUE(address) << c.text << ": " << why;
        EXPECT_EQ(address->tls, c.tls) << c.text;
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
    }
    std::string why;
    EXPECT_EQ(snmqtt::brokerUrl(*snmqtt::parseBrokerAddress("mqtts://[::1]", why)),
              "mqtts://[::1]:8883");
}

TEST(BrokerAddressTest, RefusesAnythingElseSayingWhy) {
    struct Case {
        const char* text;
        const char* said;
    };
    for (const Case& c :
         {Case{"broker.lan:1883", "write mqtt://HOST[:PORT]"},
          Case{"tcp://broker.lan", "write mqtt://HOST[:PORT]"}, Case{"mqtt://", "names no host"},
          Case{"mqtt://:1883", "names no host"}, Case{"mqtt://[]:1883", "names no host"},
          Case{"mqtt://host:", "not ''"}, Case{"mqtt://host:0", "from 1 to 65535"},
          Case{"mqtt://host:65536", "from 1 to 65535"}, Case{"mqtt://host:0x50", "not '0x50'"},
          Case{"mqtt://host:-1", "from 1 to 65535"}, Case{"mqtt://host/base", "path"},
          Case{"mqtt://host:1883/a?b", "path"}, Case{"mqtt://user:pw@host", "user name"},
          Case{"mqtt://::1", "in brackets"}, Case{"mqtt://[::1", "never closes"},
          Case{"mqtt://[::1]x", "after ']'"}, Case{"mqtt://[broker]:1883", "no IPv6 address"},
          Case{"mqtt://bro ker", "characters"}}) {
        std::string why;
        EXPECT_FALSE(snmqtt::parseBrokerAddress(c.text, why)) << c.text;
        EXPECT_NE(why.find(c.said), std::string::npos) << c.text << ": " << why;
    }
}

TEST(ReconnectBackoffTest, DoublesToAMinuteWithJitterAndStartsOverAfterReset) {
    for (std::uint32_t seed = 0; seed < 20; ++seed) {
        snmqtt::ReconnectBackoff backoff(seed);
        std::chrono::milliseconds nominal = 1s;
        for (int attempt = 0; attempt < 10; ++attempt) {
            const auto wait = backoff.next();
            EXPECT_GE(wait, nominal * 3 / 4) << "seed " << seed << " attempt " << attempt;
            EXPECT_LE(wait, nominal * 5 / 4) << "seed " << seed << " attempt " << attempt;
            nominal = std::min<std::chrono::milliseconds>(nominal * 2, 60s);
        }
        backoff.reset();
        EXPECT_LE(backoff.next(), 1250ms);
    }
    // Jittered, not the same wait for every bridge.
    snmqtt::ReconnectBackoff one(1), other(2);
    EXPECT_NE(one.next(), other.next());
}

ConnectionSettings settingsFor(const std::string& url, const std::string& clientId) {
    std::string why;
    ConnectionSettings settings;
    settings.broker = snmqtt::parseBrokerAddress(url, why).value();
    settings.clientId = clientId;
    return settings;
}

TEST(BrokerConnectionSettingsTest, RefusesSettingsThatCannotWork) {
    const auto refusal = [](ConnectionSettings settings) -> std::string {
        try {
            BrokerConnection connection(std::move(settings), "sntest");
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    };
    ConnectionSettings settings = settingsFor("mqtt://127.0.0.1", "");
    EXPECT_NE(refusal(settings).find("client id"), std::string::npos);
    settings.clientId = "sntest";
    settings.password = "secret";
    EXPECT_NE(refusal(settings).find("without a user name"), std::string::npos);
    settings.password.clear();
    settings.cafile = "/etc/hostname";
    EXPECT_NE(refusal(settings).find("write mqtts://"), std::string::npos);
    settings.broker.tls = true;
    settings.cafile = "/nonexistent/ca.crt";
    EXPECT_NE(refusal(settings).find("cannot read the CA file /nonexistent/ca.crt"),
              std::string::npos);
    settings.cafile.clear();
    settings.certfile = "/etc/hostname";
    EXPECT_NE(refusal(settings).find("both"), std::string::npos);
}

// A connection with what it logged, received and went through kept.
struct Client {
    explicit Client(ConnectionSettings settings) : connection(std::move(settings), "sntest") {
        connection.onLog([this](const std::string& line) { log += line + "\n"; });
        connection.onConnected([this] {
            ++connects;
            if (whenConnected) whenConnected();
        });
        connection.onDisconnected([this] { ++losses; });
        connection.onMessage([this](const InboundMessage& m) {
            messages.push_back(m);
            if (whenMessage) whenMessage(m);
        });
    }
    int logged(const std::string& words) const {
        int count = 0;
        for (std::size_t at = log.find(words); at != std::string::npos;
             at = log.find(words, at + 1))
            ++count;
        return count;
    }

    BrokerConnection connection;
    std::function<void()> whenConnected;
    std::function<void(const InboundMessage&)> whenMessage;
    std::string log;
    std::vector<InboundMessage> messages;
    int connects = 0;
    int losses = 0;
};

// Services every client until `done` holds; false when `within` passes.
bool serviceUntil(std::initializer_list<Client*> clients, const std::function<bool()>& done,
                  std::chrono::milliseconds within = 10s) {
    const auto deadline = Clock::now() + within;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        for (Client* client : clients) client->connection.service(10ms);
    }
    return true;
}

class BrokerConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(broker.start()) << broker.log(); }

    // Once the broker holds a message the client published after its
    // subscriptions, it has taken those: a connection's packets go in order.
    bool settled(Client& client) {
        const std::string topic = "sntest/settled/" + std::to_string(++settles_);
        return client.connection.publish(topic, "1", 1, true) &&
               broker.retained(topic, 5s).has_value();
    }

    sntest::MosquittoBroker broker;

private:
    int settles_ = 0;
};

TEST_F(BrokerConnectionTest, PublishesRetainedAndReceivesWhatItSubscribed) {
    Client client(settingsFor(broker.url(), "round-trip"));
    EXPECT_FALSE(client.connection.publish("sntest/state", "early", 1, true));
    client.whenConnected = [&] {
        EXPECT_TRUE(client.connection.subscribe("sntest/cmd/#", 1));
        EXPECT_TRUE(client.connection.publish("sntest/state", "on", 1, true));
    };
    ASSERT_TRUE(serviceUntil({&client}, [&] { return client.connection.connected(); }))
        << client.log;
    EXPECT_EQ(client.logged("sntest: connected to " + broker.url() + "\n"), 1) << client.log;
    EXPECT_EQ(broker.retained("sntest/state"), "on");
    ASSERT_TRUE(settled(client));

    ASSERT_EQ(
        broker.client("mosquitto_pub", {"-t", "sntest/cmd/power", "-m", "ON", "-q", "1"}).status,
        0);
    ASSERT_TRUE(serviceUntil({&client}, [&] { return !client.messages.empty(); }));
    EXPECT_EQ(client.messages[0].topic, "sntest/cmd/power");
    EXPECT_EQ(client.messages[0].payload, "ON");
    EXPECT_EQ(client.messages[0].qos, 1);
    EXPECT_FALSE(client.messages[0].retained);
    EXPECT_FALSE(client.messages[0].hasResponseTopic);
    EXPECT_FALSE(client.connection.respond(client.messages[0], "no one asked"));
}

TEST_F(BrokerConnectionTest, TheWillIsPublishedOnlyWhenTheConnectionDropsUnsaid) {
    const auto withWill = [&](const std::string& id, const std::string& topic) {
        ConnectionSettings settings = settingsFor(broker.url(), id);
        settings.will = {topic, "offline", 1, true};
        auto client = std::make_unique<Client>(settings);
        client->whenConnected = [&, raw = client.get(), topic] {
            raw->connection.publish(topic, "online", 1, true);
        };
        return client;
    };
    auto crashing = withWill("crashing", "sntest/crashing");
    ASSERT_TRUE(serviceUntil({crashing.get()}, [&] { return crashing->connection.connected(); }));
    ASSERT_EQ(broker.retained("sntest/crashing"), "online");
    crashing.reset();  // the socket closes with no DISCONNECT, as at a crash
    const auto deadline = Clock::now() + 10s;
    while (broker.retained("sntest/crashing") != "offline" && Clock::now() < deadline) {
    }
    EXPECT_EQ(broker.retained("sntest/crashing"), "offline") << broker.log();

    auto leaving = withWill("leaving", "sntest/leaving");
    ASSERT_TRUE(serviceUntil({leaving.get()}, [&] { return leaving->connection.connected(); }));
    // What was published last goes out before the DISCONNECT, and no will
    // replaces it.
    ASSERT_TRUE(leaving->connection.publish("sntest/leaving", "stopped", 1, true));
    leaving->connection.disconnect();
    EXPECT_FALSE(leaving->connection.connected());
    EXPECT_EQ(leaving->logged("disconnected from"), 1);
    EXPECT_EQ(broker.retained("sntest/leaving"), "stopped");
    leaving->connection.service(100ms);
    EXPECT_EQ(leaving->connects, 1) << "no reconnection after disconnect()";
}

TEST_F(BrokerConnectionTest, ConnectsAgainAfterTheBrokerRestartsAndPublishesAgain) {
    Client client(settingsFor(broker.url(), "restarts"));
    client.whenConnected = [&] {
        client.connection.publish("sntest/state", "up " + std::to_string(client.connects), 1, true);
    };
    ASSERT_TRUE(serviceUntil({&client}, [&] { return client.connects == 1; }));
    ASSERT_EQ(broker.retained("sntest/state"), "up 1");

    ASSERT_TRUE(broker.restart()) << broker.log();
    ASSERT_TRUE(serviceUntil(
        {&client}, [&] { return client.connects == 2; }, 20s))
        << client.log;
    EXPECT_EQ(client.losses, 1);
    EXPECT_EQ(client.logged("sntest: broker connection lost ("), 1) << client.log;
    EXPECT_EQ(client.logged("trying again in"), 1) << client.log;
    EXPECT_EQ(broker.retained("sntest/state"), "up 2");
}

TEST_F(BrokerConnectionTest, AnswersOnTheResponseTopicWithTheCorrelationData) {
    Client bridge(settingsFor(broker.url(), "bridge"));
    Client requester(settingsFor(broker.url(), "requester"));
    bridge.whenConnected = [&] { bridge.connection.subscribe("sntest/request", 1); };
    bridge.whenMessage = [&](const InboundMessage& m) {
        EXPECT_TRUE(bridge.connection.respond(m, "pong:" + m.payload));
    };
    requester.whenConnected = [&] { requester.connection.subscribe("sntest/response/+", 1); };
    ASSERT_TRUE(serviceUntil({&bridge, &requester}, [&] {
        return bridge.connection.connected() && requester.connection.connected();
    }));
    ASSERT_TRUE(settled(bridge));
    ASSERT_TRUE(settled(requester));

    ASSERT_EQ(broker
                  .client("mosquitto_pub",
                          {"-V", "mqttv5", "-q", "1", "-t", "sntest/request", "-m", "ping", "-D",
                           "publish", "response-topic", "sntest/response/7", "-D", "publish",
                           "correlation-data", "request-7"})
                  .status,
              0);
    ASSERT_TRUE(serviceUntil({&bridge, &requester}, [&] { return !requester.messages.empty(); }));
    ASSERT_EQ(bridge.messages.size(), 1u);
    EXPECT_TRUE(bridge.messages[0].hasResponseTopic);
    EXPECT_EQ(bridge.messages[0].responseTopic, "sntest/response/7");
    EXPECT_EQ(bridge.messages[0].correlation, "request-7");
    const InboundMessage& answer = requester.messages[0];
    EXPECT_EQ(answer.topic, "sntest/response/7");
    EXPECT_EQ(answer.payload, "pong:ping");
    EXPECT_EQ(answer.correlation, "request-7");
    EXPECT_EQ(answer.qos, 1);
    EXPECT_FALSE(answer.retained);
}

TEST_F(BrokerConnectionTest, DeliversOnceAQos1CommandQueuedWhileItWasAway) {
    const ConnectionSettings settings = settingsFor(broker.url(), "persistent");
    {
        Client first(settings);
        first.whenConnected = [&] { first.connection.subscribe("sntest/cmd", 1); };
        ASSERT_TRUE(serviceUntil({&first}, [&] { return first.connection.connected(); }));
        ASSERT_TRUE(settled(first));
        first.connection.disconnect();
    }
    ASSERT_EQ(broker.client("mosquitto_pub", {"-t", "sntest/cmd", "-m", "go", "-q", "1"}).status,
              0);

    Client again(settings);  // the program started again
    again.whenConnected = [&] { again.connection.subscribe("sntest/cmd", 1); };
    ASSERT_TRUE(serviceUntil({&again}, [&] { return !again.messages.empty(); })) << broker.log();
    serviceUntil(
        {&again}, [] { return false; }, 500ms);
    ASSERT_EQ(again.messages.size(), 1u);
    EXPECT_EQ(again.messages[0].payload, "go");
    EXPECT_EQ(again.messages[0].qos, 1);
}

TEST_F(BrokerConnectionTest, ServiceReturnsWhenTheWakeDescriptorIsReadable) {
    Client client(settingsFor(broker.url(), "woken"));
    ASSERT_TRUE(serviceUntil({&client}, [&] { return client.connection.connected(); }));
    int wake[2];
    ASSERT_EQ(pipe(wake), 0);
    ASSERT_EQ(write(wake[1], "x", 1), 1);
    const auto before = Clock::now();
    client.connection.service(60s, wake[0]);
    EXPECT_LT(Clock::now() - before, 30s);
    close(wake[0]);
    close(wake[1]);
}

TEST(BrokerConnectionFailureTest, ADeadOrMuteBrokerIsTriedAgainWithoutBlocking) {
    Client refused(
        settingsFor("mqtt://127.0.0.1:" + std::to_string(sntest::freeLoopbackPort()), "refused"));
    ASSERT_TRUE(serviceUntil({&refused}, [&] { return refused.logged("trying again in") == 2; }))
        << refused.log;
    EXPECT_EQ(refused.logged("Connection refused; trying again in"), 2) << refused.log;

    // Takes the TCP connection (the kernel does) and never answers it.
    const int mute = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(mute, 4), 0);
    getsockname(mute, reinterpret_cast<sockaddr*>(&address), &size);
    ConnectionSettings settings =
        settingsFor("mqtt://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), "muted");
    settings.connectTimeoutSeconds = 1;
    Client muted(settings);
    ASSERT_TRUE(serviceUntil({&muted}, [&] { return muted.logged("trying again in") == 1; }))
        << muted.log;
    EXPECT_EQ(muted.logged("no answer within 1 s"), 1) << muted.log;
    EXPECT_FALSE(muted.connection.connected());
    close(mute);
}

TEST(BrokerConnectionCredentialsTest, ABadPasswordIsRefusedInWordsAndTriedAgain) {
    sntest::MosquittoBroker broker;
    ASSERT_TRUE(broker.start({{{"bridge", "right-one"}}, false, false})) << broker.log();
    ConnectionSettings settings = settingsFor(broker.url(), "credentials");
    settings.username = "bridge";
    settings.password = "wrong-one";
    Client wrong(settings);
    ASSERT_TRUE(serviceUntil({&wrong}, [&] { return wrong.logged("trying again in") == 2; }))
        << wrong.log;
    EXPECT_EQ(wrong.logged("refused the connection: Not authorized (check the user name and "
                           "password); trying again in"),
              2)
        << wrong.log;
    EXPECT_EQ(wrong.connects, 0);

    settings.password = "right-one";
    Client right(settings);
    EXPECT_TRUE(serviceUntil({&right}, [&] { return right.connection.connected(); })) << right.log;
}

TEST(BrokerConnectionTlsTest, ConnectsOverTlsToABrokerItsCaVouchesFor) {
    sntest::MosquittoBroker broker;
    ASSERT_TRUE(broker.start({{}, true, false})) << broker.log();
    ConnectionSettings settings = settingsFor(broker.tlsUrl(), "tls");
    settings.cafile = broker.caFile();
    Client client(settings);
    client.whenConnected = [&] { client.connection.publish("sntest/tls", "sealed", 1, true); };
    ASSERT_TRUE(serviceUntil({&client}, [&] { return client.connection.connected(); }))
        << client.log;
    EXPECT_EQ(broker.retained("sntest/tls"), "sealed");

    // The system's CAs have never heard of the test's own.
    settings.cafile.clear();
    settings.clientId = "untrusted";
    Client untrusted(settings);
    ASSERT_TRUE(serviceUntil({&untrusted}, [&] { return untrusted.logged("trying again") == 1; }))
        << untrusted.log;
    EXPECT_EQ(untrusted.logged("cannot connect to " + broker.tlsUrl()), 1) << untrusted.log;
    EXPECT_EQ(untrusted.logged("certificate verify failed"), 1) << untrusted.log;
    EXPECT_EQ(untrusted.connects, 0);
}

}  // namespace
