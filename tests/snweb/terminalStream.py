"""A terminal page's stream through snweb, for the tests: numbered lines both
ways at once over the terminal WebSocket of one virtual port.

Run with Debian's interpreter and python3-websocket:
  /usr/bin/python3 terminalStream.py WEBPORT TOKEN NODE PORT BAUD LINES OUT STALL

It opens /ws/node/NODE/port/PORT as the page does (the token's cookie, our
own Origin), sets the port's line to BAUD 8N1 as the page's line controls
do, prints "ok open", then sends LINES numbered lines ("000123\\n") in
messages of 1 KiB while it reads the node's until their last line came or
nothing came for STALL seconds.  What came is left in the file OUT for the
test to check; the page then stays open until the test makes OUT.done (what
it typed may still be on its way: a page that closes drops it), and "ok
numbered" ends a run in which no byte was missed ("missed N" when the page
fell a whole ring behind).
"""
import http.client
import json
import os
import sys
import threading
import time

import websocket

MESSAGE = 1024  # as typing sends them: many small messages
FIRST_BYTE = 30.0  # seconds


def say(line):
    """One result line, flushed at once for the watching test."""
    print(line, flush=True)


def set_line(web_port, token, node, port, baud):
    """The page's line controls: one JSON POST with our cookie and Origin."""
    body = json.dumps({"port": port, "do": "line", "speed": baud, "parity": "N", "stop": 1})
    conn = http.client.HTTPConnection("127.0.0.1", web_port, timeout=10)
    conn.request("POST", "/api/node/%s/port" % node, body, {
        "Cookie": "snweb_token=" + token,
        "Origin": "http://127.0.0.1:%d" % web_port,
        "Content-Type": "application/json"})
    answer = conn.getresponse()
    answer.read()
    conn.close()
    if answer.status // 100 != 2:
        sys.exit("the line was refused: %d" % answer.status)


def send_all(ws, stream):
    """Typed as fast as the socket takes it: snweb holds the page back
    while the port's queue is full."""
    for at in range(0, len(stream), MESSAGE):
        ws.send(stream[at:at + MESSAGE], opcode=websocket.ABNF.OPCODE_BINARY)


def receive(ws, last_line, stall):
    """The node's bytes until the last line or a stall; and bytes missed.
    The far end starts once the test has seen the line set: until the first
    byte, a stall is FIRST_BYTE long."""
    got = bytearray()
    missed = 0
    quiet_since = time.monotonic()
    while not got.endswith(last_line) and \
            time.monotonic() - quiet_since < (stall if got else FIRST_BYTE):
        try:
            message = ws.recv()
        except websocket.WebSocketTimeoutException:
            continue
        if isinstance(message, str):
            missed += json.loads(message).get("missed", 0)
        else:
            got += message
            quiet_since = time.monotonic()
    return got, missed


def main(web_port, token, node, port, baud, lines, out_path, stall):
    """One page's whole run."""
    ws = websocket.create_connection(
        "ws://127.0.0.1:%d/ws/node/%s/port/%d" % (web_port, node, port),
        origin="http://127.0.0.1:%d" % web_port, cookie="snweb_token=" + token,
        subprotocols=["snweb"], timeout=10)
    greeting = ws.recv()
    if greeting != '{"typing":true}':
        sys.exit("the page may not type: %r" % greeting)
    set_line(web_port, token, node, port, baud)
    ws.settimeout(0.2)
    say("ok open")
    stream = b"".join(b"%06d\n" % i for i in range(lines))
    writer = threading.Thread(target=send_all, args=(ws, stream))
    writer.start()
    got, missed = receive(ws, stream[-7:], stall)
    writer.join()
    with open(out_path, "wb") as out:
        out.write(got)
    wait_until = time.monotonic() + FIRST_BYTE
    while not os.path.exists(out_path + ".done") and time.monotonic() < wait_until:
        time.sleep(0.05)
    ws.close()
    say("missed %d" % missed if missed else "ok numbered")


if __name__ == "__main__":
    if len(sys.argv) != 9:
        sys.exit("usage: terminalStream.py WEBPORT TOKEN NODE PORT BAUD LINES OUT STALL")
    main(int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]),
         int(sys.argv[6]), sys.argv[7], float(sys.argv[8]))
