// Decodes (and encodes) Sparkplug B payloads with the sparkplug-payload package, so the
// tests look at snmqtt's messages through a decoder that is not its own.
// Reads a line at a time on stdin and writes one JSON line for each: a
// base64 payload gives {"payload": {...}}; a JSON payload (a command to
// send, metrics' datatypes by name) gives {"base64": "..."}; {"error":
// "..."} when either fails.  64-bit numbers are written as
// numbers (every one snmqtt sends fits in a double), a metric's datatype
// as its name ("UInt16").
"use strict";

const readline = require("readline");
const { Reader } = require("protobufjs/minimal");
const sparkplug = require("sparkplug-payload").get("spBv1.0");

// sparkplug-payload 1.0.3 reads a UInt32 from the 64-bit field, where
// hosts before Sparkplug 3.0 put it; 3.0 puts it in the 32-bit one (field
// 10), as snmqtt does.  Each metric's field 10, read off the wire, fills
// in such a value.
function intValues(bytes) {
    const values = [];
    const payload = Reader.create(bytes);
    while (payload.pos < payload.len) {
        const tag = payload.uint32();
        if (tag >>> 3 !== 2 || (tag & 7) !== 2) {
            payload.skipType(tag & 7);
            continue;
        }
        const metric = Reader.create(payload.bytes());
        let value;
        while (metric.pos < metric.len) {
            const field = metric.uint32();
            if (field >>> 3 === 10 && (field & 7) === 0) value = metric.uint32();
            else metric.skipType(field & 7);
        }
        values.push(value);
    }
    return values;
}

function decode(bytes) {
    const payload = plain(sparkplug.decodePayload(bytes));
    const ints = intValues(bytes);
    (payload.metrics || []).forEach((metric, i) => {
        if (metric.type === "UInt32" && metric.value == null && ints[i] !== undefined)
            metric.value = ints[i];
    });
    return payload;
}

function plain(value) {
    if (value === null || value === undefined) return value;
    if (typeof value === "object" && typeof value.toNumber === "function") return value.toNumber();
    if (Buffer.isBuffer(value)) return value.toString("base64");
    if (Array.isArray(value)) return value.map(plain);
    if (typeof value === "object") {
        const out = {};
        for (const [key, field] of Object.entries(value)) out[key] = plain(field);
        return out;
    }
    return value;
}

const lines = readline.createInterface({ input: process.stdin, terminal: false });
lines.on("line", (line) => {
    let answer;
    try {
        const text = line.trim();
        if (text.startsWith("{")) {
            const bytes = sparkplug.encodePayload(JSON.parse(text));
            answer = { base64: Buffer.from(bytes).toString("base64") };
        } else {
            answer = { payload: decode(Buffer.from(text, "base64")) };
        }
    } catch (error) {
        answer = { error: String(error && error.message ? error.message : error) };
    }
    process.stdout.write(JSON.stringify(answer) + "\n");
});
