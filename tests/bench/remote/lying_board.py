#!/usr/bin/python3
"""A hostile board server: the example fake board, but lying one way, chosen
by --lie MODE, so that the bench's checks on every reply can be seen to hold:

  huge_batch      declares batches of at most 1 MiB, then sends one of 6 MiB
  ragged_batch    a batch whose bytes are not whole 32-bit words
  miscounted      a batch whose `events` is not what its words hold
  clock_back      the board's clock goes back between two batches
  sequence_gap    batches numbered with gaps: batches lost in transit
  server_drops    the server's queue says it dropped 1,000 events before each batch
  link_losses     both: every fifth batch missing, and 1,000 events dropped a batch
  reworded        the stream breaks off with its reason code, in other words
  never_done      the programming ends without error at 50 % and without `done`
  stalled         the programming's progress stops at 50 % and the call stays open
  control_name    a register named with a C1 control character (U+0085)
  latin1_design   the design name in the identity is Latin-1, not UTF-8
  long_serial     the serial port answers with 3.5 MB

    PYTHONPATH=stubs:examples/python_board lying_board.py --lie MODE --listen 127.0.0.1:0"""
import argparse
import sys
import time
from concurrent import futures

import grpc
import numpy as np

import fake_board
from zelvar.board.v1 import board_pb2 as pb
from zelvar.board.v1 import board_pb2_grpc as rpc

LIE = None


def numbered_batches(service, context, numbers=None):
    """The fake board's stream with each batch numbered (1, 2, 3, ... or as `numbers` says)."""
    board = service.board
    last = int((time.monotonic() - board.started) * 1e6)
    sequence = 0
    while context.is_active():
        time.sleep(0.01)
        now = int((time.monotonic() - board.started) * 1e6)
        words, n = board.events(last, now)
        last = now
        if n:
            sequence = numbers(sequence) if numbers else sequence + 1
            batch = service.batch(words, n, now)
            batch.sequence = sequence
            yield batch


class Board(fake_board.BoardService):
    def DescribeBoard(self, request, context):
        description = super().DescribeBoard(request, context)
        if LIE == "huge_batch":
            description.largest_batch_bytes = 1 << 20
        return description

    def ListRegisters(self, request, context):
        reply = super().ListRegisters(request, context)
        if LIE == "control_name" and request.bank == pb.BANK_DAC:
            reply.registers[0].name = "VTH\u0085ON"
        return reply

    def StreamEvents(self, request, context):
        self.admit(context, False)
        if LIE in ("sequence_gap", "link_losses"):  # every fifth batch missing
            for batch in numbered_batches(self, context,
                                          lambda s: s + (2 if s % 5 == 4 else 1)):
                if LIE == "link_losses":
                    batch.dropped_by_server = 1000 * batch.sequence
                yield batch
            return
        count = 0
        for batch in numbered_batches(self, context):
            count += 1
            if count == 3 and LIE == "reworded":
                context.set_trailing_metadata((("zelvar-reason", "STREAM_BROKEN"),))
                context.abort(grpc.StatusCode.UNAVAILABLE,
                              "Der Ereignisstrom ist abgerissen: FIFO-Überlauf")
            if count == 3 and LIE == "huge_batch":
                words = np.full(6 << 18, 0x10000000, dtype="<u4")  # 6 MiB of CD_OFF words
                words[0] = 0x80000000
                batch.evt2_words, batch.events = words.tobytes(), len(words) - 1
            elif count == 3 and LIE == "ragged_batch":
                batch.evt2_words += b"\x00\x00"
            elif count == 3 and LIE == "miscounted":
                batch.events += 7
            elif LIE == "server_drops":
                batch.dropped_by_server = 1000 * count
            elif count >= 3 and LIE == "clock_back":
                batch.board_time_us -= 5_000_000
            yield batch

    def Program(self, request_iterator, context):
        for progress in super().Program(request_iterator, context):
            half = progress.bytes_done * 2 >= progress.bytes_total
            if LIE == "never_done" and half:
                return  # ends without error, and without `done`
            if LIE == "stalled" and half:
                yield progress
                while context.is_active():
                    time.sleep(0.1)
                return
            yield progress

    def SerialTransact(self, request, context):
        reply = super().SerialTransact(request, context)
        if LIE == "long_serial":
            reply.answer = "A" * 3_500_000
        return reply


def latin1_identity(service):
    """GetIdentity answering with a design name in Latin-1: the bytes are
    written by hand, as Python's protobuf refuses to make such a string."""
    def answer(request, context):
        identity = service.GetIdentity(request, context)
        identity.design = "DESIGN_PLACEHOLDER"
        return identity.SerializeToString().replace(b"DESIGN_PLACEHOLDER",
                                                    b"caf\xe9 design".ljust(18, b" "))
    return grpc.method_handlers_generic_handler("zelvar.board.v1.Board", {
        "GetIdentity": grpc.unary_unary_rpc_method_handler(
            answer, request_deserializer=pb.GetIdentityRequest.FromString,
            response_serializer=lambda raw: raw)})


def main():
    global LIE
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lie", required=True)
    parser.add_argument("--listen", default="127.0.0.1:0")
    parser.add_argument("--token-file")
    args = parser.parse_args()
    LIE = args.lie
    token = open(args.token_file).readline().strip() if args.token_file else ""
    service = Board(fake_board.FakeBoard(), token)
    server = grpc.server(futures.ThreadPoolExecutor(max_workers=16),
                         options=fake_board.PING_OPTIONS +
                         [("grpc.max_send_message_length", 64 << 20)])
    if LIE == "latin1_design":
        server.add_generic_rpc_handlers((latin1_identity(service),))
    rpc.add_BoardServicer_to_server(service, server)
    port = server.add_insecure_port(args.listen)
    if port == 0:
        sys.exit(f"lying_board.py: cannot listen on {args.listen}")
    server.start()
    print(f"lying_board.py: serving on 127.0.0.1:{port}", flush=True)
    server.wait_for_termination()


if __name__ == "__main__":
    main()
