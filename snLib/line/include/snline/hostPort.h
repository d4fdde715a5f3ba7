// "HOST:PORT" as the programs take it: a name or IPv4 address, or an IPv6
// address in brackets ("[::1]:1502"), then a port from 1 to 65535.
#pragma once

#include <cstddef>

namespace snline {

struct HostPort {
    char host[256] = {};  // without the brackets
    char port[6] = {};    // decimal, as getaddrinfo and libmodbus take it
};

// False for anything else: no colon, an empty host, brackets that do not
// close, a port that is not a whole number in range, a name that does not
// fit.  Allocates nothing (the library uses it too).
bool parseHostPort(const char* text, HostPort& out);

// The same for an address to listen on, where port 0 also goes: the system
// picks a free port (the program then says which).
bool parseListenAddress(const char* text, HostPort& out);

// "tcp:HOST:PORT" names a node reached through the bus daemon over Modbus
// TCP; any other name is a serial device.  Every program and the library
// tell the two apart here, so that a name means the same to all of them.
inline constexpr char kTcpLinkPrefix[] = "tcp:";
bool isTcpLinkName(const char* name);
// The address of a "tcp:" name; false for another name or a bad address.
bool parseTcpLinkName(const char* name, HostPort& out);

}  // namespace snline
