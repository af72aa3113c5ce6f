#!/usr/bin/python3
"""A script's client of a board server: sets a register, starts the stream,
reads one second of events into numpy arrays (x, y, p, t), stops, puts the
register back as it found it, and gives the board back. While it reads, it
claims the board again every second, so that its claim never lapses however
long it reads.

    generate.sh stubs && PYTHONPATH=stubs board_client.py --board 127.0.0.1:50551

With --token-file F every call carries the token in F."""
import argparse
import socket
import sys
import threading
import time

import grpc
import numpy as np

from zelvar.board.v1 import board_pb2 as pb
from zelvar.board.v1 import board_pb2_grpc as rpc

RENEW_S = 1.0  # how often a claim is renewed: well within any lease

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


class Renewal:
    """Claims the board again every RENEW_S seconds until stopped: a server
    gives a client that holds the board its session again, and counts the
    claim as the holder's call."""

    def __init__(self, board, client, metadata):
        self.board, self.client, self.metadata = board, client, metadata
        self.stopped = threading.Event()
        self.failure = None
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stopped.wait(RENEW_S):
            try:
                self.board.Claim(pb.ClaimRequest(client=self.client), metadata=self.metadata,
                                 timeout=5)
            except grpc.RpcError as e:
                self.failure = e.details()
                return

    def stop(self):
        self.stopped.set()
        self.thread.join()


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

    client = f"board_client.py on {socket.gethostname()}"
    try:
        claim = board.Claim(pb.ClaimRequest(client=client), metadata=metadata, timeout=5)
    except grpc.RpcError as e:
        # Another client holds the board: said in the server's words, nothing changed.
        sys.exit(f"The board at {args.board} cannot be claimed: {e.details()}")
    session = metadata + [("zelvar-session", claim.session)]
    written, started = None, False
    renewal = Renewal(board, client, session)  # presents its session: given it back
    try:
        written = board.WriteRegister(pb.WriteRegisterRequest(name="VTH_ON", value=2200),
                                      metadata=session, timeout=5)
        print(f"VTH_ON {written.old_value} -> {written.new_value}")

        # A deadline, so that a board that goes silent cannot hold the script.
        # With the session: the holder's stream is served whatever others have open.
        stream = board.StreamEvents(pb.StreamEventsRequest(), metadata=session,
                                    timeout=args.seconds + 10)
        board.StartAcquisition(pb.StartAcquisitionRequest(), metadata=session, timeout=5)
        started = True
        columns, time_high, lost = [], 0, 0
        end = time.monotonic() + args.seconds
        for batch in stream:
            words = np.frombuffer(batch.evt2_words, dtype="<u4")
            x, y, p, t, time_high = decode(words, time_high)
            assert len(t) == batch.events, "a batch holds the events it counts"
            columns.append((x, y, p, t))
            lost = batch.lost_by_board
            if time.monotonic() >= end:
                break
        stream.cancel()
        board.StopAcquisition(pb.StopAcquisitionRequest(), metadata=session, timeout=5)
        started = False
        x, y, p, t = (np.concatenate(c) for c in zip(*columns))
        print(f"Read {len(t)} events in {(t[-1] - t[0]) / 1e6:.2f} s of board time: "
              f"{int(p.sum())} ON, {int((p == 0).sum())} OFF, x {x.min()}..{x.max()}, "
              f"y {y.min()}..{y.max()}; {lost} lost by the board")
    finally:
        renewal.stop()
        # What this script changed, as it found it.
        if started:
            board.StopAcquisition(pb.StopAcquisitionRequest(), metadata=session, timeout=5)
        if written is not None:
            board.WriteRegister(pb.WriteRegisterRequest(name="VTH_ON", value=written.old_value),
                                metadata=session, timeout=5)
            print(f"VTH_ON put back to {written.old_value}")
        board.Release(pb.ReleaseRequest(), metadata=session, timeout=5)


if __name__ == "__main__":
    main()
