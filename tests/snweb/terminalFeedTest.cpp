// The terminal pages' shared feed: every page reads the node's bytes at its
// own pace, a page that fell behind learns exactly how much it missed, and
// typed bytes reach the relay whole, in order, with line changes between.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "routes.h"
#include "terminalFeed.h"
#include "terminalFrames.h"

namespace {

using snpoll::FeedCursor;
using snpoll::TerminalFeed;

std::string readAll(const TerminalFeed& feed, FeedCursor& cursor, uint64_t* missed = nullptr) {
    std::string got;
    uint8_t buffer[4];  // smaller than what waits: reads come in pieces
    for (;;) {
        const snpoll::FeedRead read = feed.read(cursor, buffer, sizeof buffer);
        if (missed != nullptr) *missed += read.missed;
        if (read.length == 0 && read.missed == 0) return got;
        got.append(reinterpret_cast<const char*>(buffer), read.length);
    }
}

void give(TerminalFeed& feed, const std::string& text) {
    EXPECT_EQ(feed.giveOutput(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
              text.size());
}

TEST(TerminalFeed, EveryReaderGetsTheBytesInOrderAcrossTheRingsEnd) {
    int told = 0;
    TerminalFeed feed([&] { ++told; }, [] {}, 10, 8);
    FeedCursor first = feed.cursorAtEnd();
    give(feed, "abcdefg");
    EXPECT_EQ(readAll(feed, first), "abcdefg");
    FeedCursor second = feed.cursorAtEnd();  // opened now: sees only what comes next
    give(feed, "hijklmno");                  // wraps the ring of 10
    EXPECT_TRUE(feed.pending(first));
    EXPECT_EQ(readAll(feed, first), "hijklmno");
    EXPECT_EQ(readAll(feed, second), "hijklmno");
    EXPECT_FALSE(feed.pending(second));
    EXPECT_EQ(told, 2);
    EXPECT_EQ(feed.received(), 15u);
}

TEST(TerminalFeed, AReaderThatFellBehindIsToldWhatItMissedThenGetsTheNewest) {
    for (const bool oneBlock : {false, true}) {
        TerminalFeed feed([] {}, [] {}, 10, 8);
        FeedCursor slow = feed.cursorAtEnd();
        std::string all(25, ' ');
        std::iota(all.begin(), all.end(), 'A');
        if (oneBlock) {
            give(feed, all);  // more than the ring at once
        } else {
            for (std::size_t at = 0; at < all.size(); at += 6) give(feed, all.substr(at, 6));
        }
        uint64_t missed = 0;
        EXPECT_EQ(readAll(feed, slow, &missed), all.substr(15)) << oneBlock;
        EXPECT_EQ(missed, 15u) << oneBlock;
        EXPECT_EQ(feed.received(), 25u);
    }
}

TEST(TerminalFeed, TypingIsWholeOrRefusedAndALineChangeWaitsForTheBytesBeforeIt) {
    int taken = 0;
    TerminalFeed feed([] {}, [&] { ++taken; }, 10, 8);
    const uint8_t keys[] = {'1', '2', '3', '4', '5'};
    EXPECT_TRUE(feed.type(keys, 5));
    EXPECT_FALSE(feed.type(keys, 4));  // 3 left: nothing of it is taken
    EXPECT_EQ(feed.inputRoom(), 3u);
    snrelay::NodeAction change;
    change.kind = snrelay::NodeAction::Kind::SetLine;
    change.line = {19200, 'E', 2};
    feed.act(change);
    EXPECT_TRUE(feed.type(keys, 2));

    uint8_t buffer[8];
    std::optional<snrelay::NodeAction> action;
    feed.relayStarted();
    EXPECT_EQ(feed.takeInput(buffer, 3, action), 3u);
    EXPECT_FALSE(action);
    EXPECT_EQ(feed.takeInput(buffer, 8, action), 2u);  // the rest before the change, then it
    EXPECT_EQ(std::string(buffer, buffer + 2), "45");
    ASSERT_TRUE(action);
    EXPECT_EQ(action->line, (snrelay::PortLine{19200, 'E', 2}));
    action.reset();
    EXPECT_EQ(feed.takeInput(buffer, 8, action), 2u);
    EXPECT_EQ(std::string(buffer, buffer + 2), "12");
    EXPECT_FALSE(action);
    EXPECT_EQ(feed.takeInput(buffer, 8, action), 0u);
    EXPECT_EQ(feed.inputRoom(), 8u);
    EXPECT_EQ(taken, 3);

    feed.act(change);  // with nothing typed before it: the change alone
    EXPECT_EQ(feed.takeInput(buffer, 8, action), 0u);
    EXPECT_TRUE(action);
    EXPECT_EQ(taken, 4);
}

// The last page leaving takes what it typed with it: counted, and never
// handed to a relay, neither the old one nor the next page's.
TEST(TerminalFeed, WhatTheLastPageTypedIsDroppedWithItAndCounted) {
    TerminalFeed feed([] {}, [] {}, 10, 16);
    const uint8_t keys[] = {'o', 'l', 'd', '!', '!'};
    snrelay::NodeAction change;
    change.line = {19200, 'E', 2};
    uint8_t buffer[16];
    std::optional<snrelay::NodeAction> action;
    feed.attach();
    feed.attach();
    const uint64_t first = feed.relayStarted();
    ASSERT_TRUE(feed.type(keys, 5));
    EXPECT_EQ(feed.takeInput(buffer, 2, action), 2u);  // the relay holds "ol"
    feed.act(change);
    feed.detach();  // one page stays: nothing is dropped
    EXPECT_EQ(feed.generation(), first);
    EXPECT_EQ(feed.takeDropped(), 0u);
    feed.detach();
    EXPECT_NE(feed.generation(), first);
    EXPECT_EQ(feed.takeInput(buffer, 16, action), 0u) << "the old relay took the old page's bytes";
    EXPECT_FALSE(action);
    EXPECT_EQ(feed.relayEnded(), 2u);   // what the old relay held, for its own count
    EXPECT_EQ(feed.takeDropped(), 3u);  // the line change after them went too
    EXPECT_EQ(feed.inputRoom(), 16u);

    // A page typing before its relay starts keeps what it typed.
    feed.attach();
    ASSERT_TRUE(feed.type(keys + 3, 2));
    EXPECT_EQ(feed.takeInput(buffer, 16, action), 0u);  // no relay of this page's yet
    feed.relayStarted();
    EXPECT_EQ(feed.takeInput(buffer, 16, action), 2u);
    EXPECT_EQ(std::string(buffer, buffer + 2), "!!");
    EXPECT_EQ(feed.takeDropped(), 0u);
}

// What a page is sent: whether it may type first, then how much it missed
// even when it fell a ring behind before its first message, then bytes; a
// page that only looks learns whether anybody reads the port.
TEST(TerminalFeed, APageIsGreetedThenToldWhatItMissedThenGetsTheBytes) {
    TerminalFeed feed([] {}, [] {}, 10, 8);
    uint8_t out[snweb::kLongestNotice];
    auto next = [&](snweb::TerminalPage& page, bool typing, bool reading) {
        const snweb::TerminalFrame frame =
            snweb::nextTerminalFrame(feed, page, typing, reading, out, sizeof out);
        return std::string(frame.notice ? "text " : "bytes ") +
               std::string(reinterpret_cast<const char*>(out), frame.length);
    };
    snweb::TerminalPage page{feed.cursorAtEnd()};
    give(feed, std::string(14, 'x') + "0123");  // 18 bytes before the page was written to
    EXPECT_EQ(next(page, true, true), "text {\"typing\":true}");
    EXPECT_EQ(next(page, true, true), "text {\"missed\":8}");
    EXPECT_EQ(next(page, true, true), "bytes xxxxxx0123");
    EXPECT_EQ(next(page, true, true), "bytes ");

    snweb::TerminalPage watcher{feed.cursorAtEnd()};
    EXPECT_EQ(next(watcher, false, false), "text {\"typing\":false}");
    EXPECT_EQ(next(watcher, false, false), "text {\"reading\":false}");
    EXPECT_EQ(next(watcher, false, false), "bytes ");
    give(feed, "ab");
    EXPECT_EQ(next(watcher, false, true), "text {\"reading\":true}");
    EXPECT_EQ(next(watcher, false, true), "bytes ab");
}

TEST(TerminalFeed, OnlyPortsZeroToTwoHaveATerminalSocket) {
    const snweb::Route route = snweb::routeOf("/ws/node/alpha/port/2");
    EXPECT_EQ(route.page, snweb::Page::SocketTerminal);
    EXPECT_EQ(route.node, "alpha");
    EXPECT_EQ(route.port, 2);
    EXPECT_EQ(snweb::routeOf("/ws/node/alpha").page, snweb::Page::SocketNode);
    for (const char* bad : {"/ws/node/alpha/port/3", "/ws/node/alpha/port/", "/ws/node/alpha/port",
                            "/ws/node/alpha/port/1/x", "/ws/node/al%20pha/port/1"})
        EXPECT_EQ(snweb::routeOf(bad).page, snweb::Page::NotFound) << bad;
}

}  // namespace
