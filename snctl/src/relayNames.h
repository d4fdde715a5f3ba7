// The shared relay of a virtual port, under the names snctl uses.
#pragma once

#include "portReader.h"
#include "relay.h"
#include "relayPeer.h"
#include "stopEvent.h"
#include "wakeEvent.h"

namespace snctl {

using snrelay::kFullBlock;
using snrelay::NodeAction;
using snrelay::PeerWait;
using snrelay::PortLine;
using snrelay::readOnce;
using snrelay::receiveFor;
using snrelay::Relay;
using snrelay::Relayed;
using snrelay::RelayPeer;
using snrelay::StopEvent;
using snrelay::WakeEvent;

}  // namespace snctl
