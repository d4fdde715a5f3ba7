#include "commands.h"

#include "bridgeCommand.h"
#include "exporterCommand.h"
#include "oneShotCommands.h"

#include "failure.h"

namespace snctl {

const std::vector<CommandEntry>& commandTable() {
    static const std::vector<CommandEntry> table = {
        {"info", "",
         "serial number, software revision, configuration, power vector, device timeout", runInfo},
        {"power", "N [on|off|status]", "switch power output N (0-3) or show its state", runPower,
         "A state of on or off switches the output; status, or no state, shows it.\n"},
        {"analog", "[CH...]", "values of analog channels CH (0-7; all when none given)", runAnalog},
        {"params", "get [FIRST [COUNT]] | set FIRST W1 W2 [W1 W2...]",
         "read or write the two parameter words of analog channels", runParams},
        {"blink", "0|1|2", "blink pattern: 0 off, 1 or 2", runBlink},
        {"dc", "on|off", "DC always on", runDc},
        {"reset-config", "", "trigger the node's configuration reset", runResetConfig},
        {"timeout", "get | set VALUE", "device Modbus timeout register (20-65535)", runTimeout},
        {"port", "P init BAUD [N|E|O] [1|2]", "set the line of virtual port P (0-2)", runPort,
         "P is the virtual port, 0 to 2; the line is 8 data bits, no parity and 1 stop bit\n"
         "unless given.\n"},
        {"port", "P drain [MS]", "wait up to MS (default 5000) until P has sent everything",
         runPort},
        {"port", "P iflush | oflush", "drop what P has received / has still to send", runPort},
        {"port", "P break MS", "hold a break on P for MS milliseconds (0-65535)", runPort},
        {"port", "P errors | clear-errors MASK",
         "show P's error flags / clear those in MASK (0-31)", runPort},
        {"port", "P send TEXT", "send TEXT (escapes \\n \\r \\t \\\\ \\xHH) through P", runPort},
        {"port", "P recv [MS]", "print what P has received, waiting up to MS for it", runPort},
        {"bridge",
         "P [-b BAUD] [--parity N|E|O] [--stop 1|2] (--link PATH | --listen [HOST:]PORT [--raw] "
         "[--allow ADDR[/BITS]]... [--keep])",
         "relay port P to a new pseudo-terminal linked at PATH, or serve it over TCP (RFC 2217), "
         "until SIGINT/SIGTERM",
         runBridge,
         "  -b BAUD          the port's line speed (default 9600)\n"
         "  --parity N|E|O   parity (default N)\n"
         "  --stop 1|2       stop bits (default 1)\n"
         "  --link PATH      the link to the pseudo-terminal, for the serial program\n"
         "  --listen [HOST:]PORT\n"
         "                   serve the port over TCP instead, one client at a time\n"
         "                   (loopback unless a host is given)\n"
         "  --raw            plain bytes instead of RFC 2217 (Telnet COM-PORT-OPTION)\n"
         "  --allow ADDR[/BITS]\n"
         "                   who may connect to a non-loopback address (repeatable)\n"
         "  --keep           hold up to 64 KiB the node sends while no client is connected\n"},
        {"scan", "[--slaves LIST] [--timeout MS]",
         "the nodes that answer at the addresses in LIST (default 1-247) within MS (100)", runScan,
         "  --slaves LIST    addresses and ranges, e.g. 1,5-9 (default 1-247)\n"
         "  --timeout MS     how long each address is given to answer, 1-60000 (default 100)\n"
         "Through snbusd (-p tcp:HOST:PORT) the daemon is asked to wait MS on its line,\n"
         "so the scan finds what a scan of the device finds, in about the same time.\n"},
        {"exporter", "[--listen HOST:PORT] --target NAME=DEVICE[,slave=N][,baud=B]...",
         "serve these nodes to Prometheus at /probe?target=NAME (on 127.0.0.1:9740)", runExporter,
         "  --listen HOST:PORT   where to serve (default 127.0.0.1:9740)\n"
         "  --target NAME=DEVICE[,slave=N][,baud=B]\n"
         "                       a node Prometheus may name; DEVICE a serial device or\n"
         "                       tcp:HOST:PORT (snbusd); repeat for every node\n"},
    };
    return table;
}

const CommandEntry& findCommand(const std::string& name) {
    for (const CommandEntry& entry : commandTable()) {
        if (name == entry.name) return entry;
    }
    throw UsageError("unknown command '" + name + "' (see snctl --help)");
}

}  // namespace snctl
