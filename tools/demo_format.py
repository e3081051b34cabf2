"""Turns the demo's raw output (the game's lines and the RPC service's frame
lines) into a readable account of what reached the service."""
import json
import sys

OPCODES = {0: "handshake", 1: "message", 2: "close", 3: "ping", 4: "pong"}


def describe(activity):
    if activity is None:
        return "presence cleared"
    parts = [activity.get("details", ""), activity.get("state", "")]
    assets = activity.get("assets", {})
    if assets:
        parts.append("image %s (%s)" % (assets.get("large_image", "-"), assets.get("large_text", "-")))
        parts.append("%s" % assets.get("small_text", ""))
    party = activity.get("party", {})
    if party:
        parts.append("party %s" % party.get("id", "-"))
    return " | ".join(p for p in parts if p)


def main():
    for raw in sys.stdin:
        line = raw.rstrip("\n")
        if line.startswith("demo_game: "):
            print("game     " + line[len("demo_game: "):], flush=True)
            continue
        fields = line.split(" ", 2)
        if fields[0] == "web":
            continue  # the demo has printed the page's address already
        if fields[0] == "listening":
            print("service  listening on " + fields[1], flush=True)
        elif fields[0] == "connected":
            print("service  a client connected", flush=True)
        elif fields[0] == "disconnected":
            print("service  the client disconnected", flush=True)
        elif fields[0] == "frame" and len(fields) == 3:
            opcode = int(fields[1])
            try:
                body = json.loads(fields[2])
            except ValueError:
                body = {}
            if opcode == 0:
                print("service  handshake from client_id %s" % body.get("client_id"), flush=True)
            elif body.get("cmd") == "SET_ACTIVITY":
                args = body.get("args", {})
                print("service  presence #%s from pid %s: %s"
                      % (body.get("nonce"), args.get("pid"), describe(args.get("activity"))), flush=True)
            else:
                print("service  %s %s" % (OPCODES.get(opcode, opcode), fields[2]), flush=True)


if __name__ == "__main__":
    main()
