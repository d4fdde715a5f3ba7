// The nodes snweb shows, each read by the poller the programs share.
#pragma once

#include "nodePoller.h"

namespace snweb {

using snpoll::FeedCursor;
using snpoll::FeedRead;
using snpoll::kChannels;
using snpoll::kOutputs;
using snpoll::kPorts;
using snpoll::kTerminalMessage;
using snpoll::NodePoller;
using snpoll::NodeStatus;
using snpoll::PortStatus;
using snpoll::Sample;
using snpoll::TerminalFeed;

}  // namespace snweb
