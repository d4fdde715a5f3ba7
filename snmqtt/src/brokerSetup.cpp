#include "brokerSetup.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace snmqtt {

namespace {

// libmosquitto's global state, set up once for the process and torn down
// at its end, whatever number of connections come and go.
void useMosquittoLibrary() {
    struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
    };
    static Library library;
}

[[noreturn]] void refuse(const std::string& why) { throw std::runtime_error(why); }

void check(int result, const std::string& what) {
    if (result != MOSQ_ERR_SUCCESS) refuse(what + ": " + mosquitto_strerror(result));
}

const char* orNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

void requireReadable(const std::string& path, const std::string& what) {
    if (!path.empty() && access(path.c_str(), R_OK) != 0)
        refuse("cannot read the " + what + " " + path + ": " + std::strerror(errno));
}

void checkSettings(const ConnectionSettings& settings) {
    if (settings.broker.host.empty()) refuse("no broker host is given");
    if (settings.clientId.empty())
        refuse("a client id is needed: the broker keeps our session by it");
    if (!settings.password.empty() && settings.username.empty())
        refuse("a password is given without a user name");
    if (settings.keepaliveSeconds < 5 || settings.keepaliveSeconds > 65535)
        refuse("the keepalive must be from 5 to 65535 seconds");
    if (settings.sessionExpirySeconds < 0 || settings.connectTimeoutSeconds < 1)
        refuse("the session expiry and the connect timeout cannot be negative");
    const bool tlsFiles = !(settings.cafile + settings.certfile + settings.keyfile).empty();
    if (tlsFiles && !settings.broker.tls)
        refuse("TLS files are given for a broker reached without TLS: write mqtts://");
    if (settings.certfile.empty() != settings.keyfile.empty())
        refuse("a client certificate needs both its certificate file and its key file");
}

// An encrypted key would otherwise have OpenSSL ask for its passphrase on
// the terminal, in the middle of the program's loop: it fails instead.
int noPassphrase(char*, int, int, void*) { return 0; }

void setTls(mosquitto* handle, const ConnectionSettings& settings) {
    requireReadable(settings.cafile, "CA file");
    requireReadable(settings.certfile, "certificate file");
    requireReadable(settings.keyfile, "key file");
    const char* caPath = settings.cafile.empty() ? "/etc/ssl/certs" : nullptr;
    check(mosquitto_tls_set(handle, orNull(settings.cafile), caPath, orNull(settings.certfile),
                            orNull(settings.keyfile), noPassphrase),
          "cannot set up TLS");
}

// libmosquitto 2.0 has no asynchronous connect that takes v5 properties,
// but it keeps the CONNECT properties it is given before checking the
// other arguments, and every later connect, asynchronous or not, sends the
// kept ones.  Given no host, this call keeps them and connects nowhere.
// The session-expiry interval is what makes the broker keep our session:
// without it a v5 session ends with the connection, clean start or not.
void keepSessionExpiry(mosquitto* handle, int seconds) {
    mosquitto_property* properties = nullptr;
    check(mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                       static_cast<uint32_t>(seconds)),
          "cannot set the session expiry");
    const int result = mosquitto_connect_bind_v5(handle, nullptr, 0, 0, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (result != MOSQ_ERR_INVAL) check(result, "cannot set the session expiry");
}

}  // namespace

mosquitto* makeBrokerHandle(const ConnectionSettings& settings, void* userdata) {
    checkSettings(settings);
    useMosquittoLibrary();
    // Without a clean start a session the broker still holds is taken up
    // again.
    mosquitto* handle = mosquitto_new(settings.clientId.c_str(), settings.cleanStart, userdata);
    if (handle == nullptr)
        refuse(std::string("cannot make an MQTT client: ") + std::strerror(errno));
    try {
        check(mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5),
              "cannot speak MQTT v5");
        keepSessionExpiry(handle, settings.sessionExpirySeconds);
        const Will& will = settings.will;
        if (!will.topic.empty())
            check(mosquitto_will_set_v5(handle, will.topic.c_str(),
                                        static_cast<int>(will.payload.size()), will.payload.data(),
                                        will.qos, will.retain, nullptr),
                  "cannot set the will on " + will.topic);
        if (!settings.username.empty())
            check(mosquitto_username_pw_set(handle, settings.username.c_str(),
                                            orNull(settings.password)),
                  "cannot set the user name");
        if (settings.broker.tls) setTls(handle, settings);
    } catch (...) {
        mosquitto_destroy(handle);
        throw;
    }
    return handle;
}

}  // namespace snmqtt
