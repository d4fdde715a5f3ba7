#include "sncommon/deviceHolder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace sncommon {

namespace {

// The PID of the process holding a flock on the file, from /proc/locks
// ("1: FLOCK  ADVISORY  WRITE 1234 00:1a:6 0 EOF"), or 0.
long lockHolder(const struct stat& file) {
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long>(file.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind)) continue;
        if (kind == "->") fields >> kind;  // a waiter, listed under the holder
        if (fields >> mode >> access >> pid >> where && kind == "FLOCK" && where == id) return pid;
    }
    return 0;
}

std::string commandName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The socket inodes the process has open, with their descriptors
// (readable for our own user's processes, and for root).
std::map<std::string, long> socketInodes(long pid) {
    std::map<std::string, long> inodes;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(dir.c_str());
    if (fds == nullptr) return inodes;
    while (const dirent* entry = readdir(fds)) {
        char target[128];
        const std::string path = dir + "/" + entry->d_name;
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        const std::string link(target, static_cast<std::size_t>(n));
        if (link.rfind("socket:[", 0) == 0)
            inodes[link.substr(8, link.size() - 9)] = std::atol(entry->d_name);
    }
    closedir(fds);
    return inodes;
}

// "HOST:PORT" of the listening IPv4 TCP socket of those inodes with the
// lowest descriptor, from /proc/net/tcp ("0: 0100007F:05DE 00000000:0000
// 0A ... inode").  The bus daemon opens its Modbus listeners before its
// metrics page, so that is where clients connect.
std::string listeningAddress(const std::map<std::string, long>& inodes) {
    std::ifstream table("/proc/net/tcp");
    std::string line, found;
    long lowest = -1;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode) ||
            state != "0A" || inodes.count(inode) == 0)
            continue;
        unsigned address = 0, port = 0;
        const long fd = inodes.at(inode);
        if (std::sscanf(local.c_str(), "%8X:%4X", &address, &port) != 2 ||
            (lowest >= 0 && fd > lowest))
            continue;
        lowest = fd;
        found = std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
                std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24) + ":" +
                std::to_string(port);
    }
    return found;
}

}  // namespace

std::string deviceHolderSentence(const std::string& device) {
    const std::string unknown = device + " is in use by another program";
    struct stat file {};
    if (stat(device.c_str(), &file) < 0) return unknown;
    const long pid = lockHolder(file);
    if (pid <= 0) return unknown;
    const std::string name = commandName(pid);
    if (name.empty()) return unknown;
    std::string sentence = device + " is in use by PID " + std::to_string(pid) + " (" + name + ")";
    if (name == "snbusd") {
        const std::string address = listeningAddress(socketInodes(pid));
        if (!address.empty()) sentence += "; reach the bus through tcp:" + address;
    }
    return sentence;
}

}  // namespace sncommon
