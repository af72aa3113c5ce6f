#!/usr/bin/python3
"""A script's client of a board server: sets a register, starts the stream,
reads one second of events into numpy arrays (x, y, p, t), stops, and gives
the board back.

    generate.sh stubs && PYTHONPATH=stubs board_client.py --board 127.0.0.1:50551

With --token-file F every call carries the token in F."""
import argparse
import socket
import sys
import time

import grpc
import numpy as np

from zelvar.board.v1 import board_pb2 as pb
from zelvar.board.v1 import board_pb2_grpc as rpc

# EVT 2.0 word types (the upper 4 bits of each little-endian 32-bit word).
CD_OFF, CD_ON, TIME_HIGH = 0x0, 0x1, 0x8


def decode(words, time_high):
    """The events of one batch as arrays (x, y, p, t in µs) and the last
    time-high value, which carries into the next batch. The times are those
    of the board's 34-bit clock; a script that runs for hours unwraps them."""
    kinds = words >> 28
    is_high = kinds == TIME_HIGH
    # The index of the last time-high word at or before each word (-1: none yet).
    last = np.maximum.accumulate(np.where(is_high, np.arange(words.size), -1))
    highs = np.where(last >= 0, (words[np.maximum(last, 0)] & 0x0FFFFFFF).astype(np.int64),
                     time_high)
    is_event = (kinds == CD_OFF) | (kinds == CD_ON)
    ev = words[is_event]
    x = ((ev >> 11) & 0x7FF).astype(np.uint16)
    y = (ev & 0x7FF).astype(np.uint16)
    p = (ev >> 28).astype(np.uint8)
    t = (highs[is_event] << 6) | ((ev >> 22) & 0x3F).astype(np.int64)
    if is_high.any():
        time_high = int(words[is_high][-1] & 0x0FFFFFFF)
    return x, y, p, t, time_high


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--board", default="127.0.0.1:50551", help="the server, HOST:PORT")
    parser.add_argument("--token-file", help="a file holding the server's token")
    parser.add_argument("--seconds", type=float, default=1.0, help="how long to read events")
    args = parser.parse_args()
    if not 0 < args.seconds <= 3600:  # NaN fails this too
        parser.error(f"--seconds must be more than 0 and at most 3600, not {args.seconds}")

    metadata = []
    if args.token_file:
        with open(args.token_file) as f:
            metadata.append(("authorization", "Bearer " + f.readline().strip()))
    channel = grpc.insecure_channel(args.board)
    board = rpc.BoardStub(channel)
    try:
        identity = board.GetIdentity(pb.GetIdentityRequest(), metadata=metadata, timeout=5)
    except grpc.RpcError as e:
        sys.exit(f"The board at {args.board}: {e.details()}")
    print(f"Board: {identity.vendor} {identity.product} {identity.serial_number}, "
          f"design {identity.design or 'none'}")

    me = pb.ClaimRequest(client=f"board_client.py on {socket.gethostname()}")
    claim = board.Claim(me, metadata=metadata, timeout=5)
    session = metadata + [("zelvar-session", claim.session)]
    # The session lapses a lease after the last call that carries it; reading
    # the stream does not, so the claim is renewed within a third of it.
    lease = (claim.lease_ms or 10000) / 1000
    renew_at = time.monotonic() + lease / 3
    try:
        written = board.WriteRegister(pb.WriteRegisterRequest(name="VTH_ON", value=2200),
                                      metadata=session, timeout=5)
        print(f"VTH_ON {written.old_value} -> {written.new_value}")

        # A deadline, so that a board that goes silent cannot hold the script.
        stream = board.StreamEvents(pb.StreamEventsRequest(), metadata=metadata,
                                    timeout=args.seconds + 10)
        board.StartAcquisition(pb.StartAcquisitionRequest(), metadata=session, timeout=5)
        columns, time_high, lost = [], 0, 0
        end = time.monotonic() + args.seconds
        for batch in stream:
            words = np.frombuffer(batch.evt2_words, dtype="<u4")
            x, y, p, t, time_high = decode(words, time_high)
            assert len(t) == batch.events, "a batch holds the events it counts"
            columns.append((x, y, p, t))
            lost = batch.lost_by_board
            if time.monotonic() >= renew_at:
                board.Claim(me, metadata=session, timeout=5)
                renew_at = time.monotonic() + lease / 3
            if time.monotonic() >= end:
                break
        stream.cancel()
        board.StopAcquisition(pb.StopAcquisitionRequest(), metadata=session, timeout=5)
        x, y, p, t = (np.concatenate(c) for c in zip(*columns))
        print(f"Read {len(t)} events in {(t[-1] - t[0]) / 1e6:.2f} s of board time: "
              f"{int(p.sum())} ON, {int((p == 0).sum())} OFF, x {x.min()}..{x.max()}, "
              f"y {y.min()}..{y.max()}; {lost} lost by the board")
    finally:
        board.Release(pb.ReleaseRequest(), metadata=session, timeout=5)


if __name__ == "__main__":
    main()
