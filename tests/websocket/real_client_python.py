"""An independent client library (Debian's python3-websocket) against the loopback relay."""
import sys

import websocket

from relay import Relay


def main(program):
    relay = Relay(program)
    try:
        url = "ws://127.0.0.1:%d/" % relay.port
        ws = websocket.create_connection(url, timeout=10)
        relay.wait_for("CONNECTED 13")

        for text in ["hello", "h\u00e9llo \u2713", "x" * 5000]:
            ws.send(text)
            assert ws.recv() == text, "text %r not relayed back" % text[:20]

        data = bytes(range(256)) * 12
        ws.send_binary(data)
        opcode, got = ws.recv_data()
        assert opcode == websocket.ABNF.OPCODE_BINARY, opcode
        assert got == data, "binary message changed on the way"

        ws.ping("abc")
        frame = ws.recv_frame()
        assert frame.opcode == websocket.ABNF.OPCODE_PONG, frame.opcode
        assert frame.data == b"abc", frame.data

        # The library answers the server's ping on its own; the server reports the pong.
        ws.send("please-ping")
        assert ws.recv() == "pong-received"

        other = websocket.create_connection(url, timeout=10)
        ws.send("to all")
        assert ws.recv() == "to all"
        assert other.recv() == "to all"

        ws.close()
        assert not ws.connected
        other.close()
        seen = relay.wait_for("DISCONNECTED")
        for line in ["TEXT hello", "TEXT h\u00e9llo \u2713", "TEXT please-ping", "TEXT to all"]:
            assert line in seen, "relay did not get %r" % line
        assert any(l.startswith("PONG ") for l in seen), seen
        assert ("BINARY " + data.hex()) in seen
    finally:
        relay.stop()
    print("python3-websocket client: text, binary, ping/pong and close all passed")


if __name__ == "__main__":
    main(sys.argv[1])
