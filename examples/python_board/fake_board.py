#!/usr/bin/python3
"""A small fake board served over the board protocol, as a board team starts
its own server: it declares itself (its sensor's size, modes, resets, two ADC
channels), has a few registers with ranges, units and descriptions (one
read-only), and sends a moving dot as events. Every place a real board's code
goes is marked "A REAL BOARD". Check it with pravel-board-check.

    ../python_client/generate.sh stubs
    PYTHONPATH=stubs /usr/bin/python3 fake_board.py --listen 127.0.0.1:50552 [--token-file F]"""
import argparse
import hmac
import math
import secrets
import threading
import time
from concurrent import futures

import grpc
import numpy as np

from zelvar.board.v1 import board_pb2 as pb
from zelvar.board.v1 import board_pb2_grpc as rpc

LEASE_S = 10.0
WIDTH, HEIGHT = 640, 480
FIFO_EVENTS = 200_000  # what the board's FIFO holds: two seconds of the dot
# Each streaming call (StreamEvents, WatchBoard, Program) holds a worker for
# as long as it lasts: enough for several clients, each with a stream and a
# watch, and their short calls beside.
WORKERS = 32
MOST_WRITES_AT_ONCE = 4096
BITSTREAM_MAGIC = b"\x00\x09\x0f\xf0\x0f\xf0\x0f\xf0\x0f\xf0\x00\x00\x01"
LARGEST_DESIGN_BYTES = 16 << 20
WRITE_BYTES_PER_S = 16e6  # how fast the FPGA takes a design

# What the board has, as DescribeBoard tells the bench. A REAL BOARD: yours.
MODES = [pb.MODE_EVENT_STREAM, pb.MODE_STANDBY]  # no test pattern
RESETS = [pb.RESET_DEVICE, pb.RESET_FIFO, pb.RESET_CHIP]  # no RAM, no AER reset
ADC_CHANNELS = [pb.AdcChannelInfo(name="VDD", unit="V", normal_min=1.7, normal_max=1.9),
                pb.AdcChannelInfo(name="Temperature", unit="°C", normal_min=20, normal_max=70)]
MODE_NAMES = {pb.MODE_EVENT_STREAM: "event stream", pb.MODE_TEST_PATTERN: "test pattern",
              pb.MODE_STANDBY: "standby"}
RESET_NAMES = {pb.RESET_DEVICE: "device", pb.RESET_FIFO: "FIFO", pb.RESET_RAM: "RAM",
               pb.RESET_AER: "AER", pb.RESET_CHIP: "chip"}


# Clients ping every second to find a frozen board: a server lets them, with
# calls under way or none (else it would hang up on them for pinging).
PING_OPTIONS = [("grpc.http2.min_ping_interval_without_data_ms", 500),
                ("grpc.keepalive_permit_without_calls", 1),
                ("grpc.http2.max_ping_strikes", 0)]

class FakeBoard:
    """What the board holds. A REAL BOARD: read and write the hardware here."""

    def __init__(self):
        self.lock = threading.Lock()
        # name: [value, min, max, unit, description, read-only] per bank, in
        # the board's order; each value as it is after a reset is its default.
        self.banks = {
            pb.BANK_DEVICE: {
                "CTRL": [1, 0, 255, "", "Control bits; bit 0 lets the events out", False],
                "BOARD_REV": [3, 0, 255, "", "The board's revision", True]},
            pb.BANK_DAC: {"VTH_ON": [2400, 0, 4095, "counts", "ON contrast threshold", False],
                          "VTH_OFF": [800, 0, 4095, "counts", "OFF contrast threshold", False]},
            pb.BANK_CHIP: {"EN_AER": [1, 0, 1, "", "1 enables the AER output", False]},
        }
        self.defaults = {n: r[0] for bank in self.banks.values() for n, r in bank.items()}
        self.design = "fake_dot (flash)"
        self.mode = pb.MODE_EVENT_STREAM
        self.acquiring = False
        self.started = time.monotonic()
        self.lost = 0  # events the FIFO dropped since the stream started

    def register(self, name):
        for bank in self.banks.values():
            if name in bank:
                return bank[name]
        return None

    def events(self, t0_us, t1_us):
        """The dot's events between two times of the board's clock, as EVT 2.0
        words. A REAL BOARD: hand on the words its FPGA sends."""
        if not self.acquiring or self.mode == pb.MODE_STANDBY or t1_us <= t0_us:
            return np.zeros(0, dtype="<u4"), 0
        n = int((t1_us - t0_us) // 10)  # 100 k events/s
        if n > FIFO_EVENTS:
            # Nobody took the events for longer than the FIFO holds: the
            # oldest are gone, and counted. A REAL BOARD: its FIFO's count.
            with self.lock:
                self.lost += n - FIFO_EVENTS
            t0_us = t1_us - FIFO_EVENTS * 10
            n = FIFO_EVENTS
        t = np.linspace(t0_us, t1_us, n, endpoint=False).astype(np.int64)
        angle = t / 1e6 * 2 * math.pi / 4  # a turn every 4 s
        x = (WIDTH / 2 + 150 * np.cos(angle) + np.random.randint(-3, 4, n)).astype(np.uint32)
        y = (HEIGHT / 2 + 150 * np.sin(angle) + np.random.randint(-3, 4, n)).astype(np.uint32)
        p = (np.arange(n) % 2).astype(np.uint32)
        words = (p << 28) | ((t & 0x3F).astype(np.uint32) << 22) | (x << 11) | y
        # Each run of events with the same time high gets its time-high word first.
        highs = (t >> 6).astype(np.uint32) & 0x0FFFFFFF
        starts = np.flatnonzero(np.r_[True, highs[1:] != highs[:-1]])
        out = np.insert(words, starts, (0x8 << 28) | highs[starts])
        return out.astype("<u4"), n


def design_of(data, file_name):
    """The design a bitstream holds: the name in its header's 'a' field, up to
    its first ';'; a file without a header is named after the file. Raises
    ValueError with the reason for a header that is cut short or a name that
    is not printable UTF-8. A REAL BOARD: its own bitstream's format."""
    if not data.startswith(BITSTREAM_MAGIC):
        return file_name.rsplit(".", 1)[0] or "unnamed"
    at = len(BITSTREAM_MAGIC)
    if data[at:at + 1] != b"a" or len(data) < at + 3:
        raise ValueError("the bitstream header lacks its 'a' field")
    length = int.from_bytes(data[at + 1:at + 3], "big")
    field = data[at + 3:at + 3 + length]
    if len(field) < length:
        raise ValueError("the bitstream header is cut short")
    try:
        name = field.rstrip(b"\0").decode("utf-8").split(";", 1)[0]
    except UnicodeDecodeError:
        raise ValueError("its design name is not UTF-8") from None
    if not name.isprintable():
        raise ValueError("its design name holds a character that is not printable")
    return name or "unnamed"


class BoardService(rpc.BoardServicer):
    def __init__(self, board, token):
        self.board, self.token = board, token
        # Calls come on several threads at once: who holds the board is read
        # and changed under this lock only.
        self.holder_lock = threading.Lock()
        self.holder = None  # (session, client, peer, since, last_call)

    # -- who may call --------------------------------------------------------
    def admit(self, context, changes):
        meta = dict(context.invocation_metadata())
        given = meta.get("authorization", "").encode()
        # Compared in a time that does not tell how much of a guess was right.
        if self.token and not hmac.compare_digest(given, ("Bearer " + self.token).encode()):
            context.abort(grpc.StatusCode.UNAUTHENTICATED,
                          "The board refuses the call: wrong or missing token")
        if changes:
            refusal = None
            with self.holder_lock:
                h = self.holder
                if not h or time.monotonic() - h[4] >= self.lease_s:
                    refusal = "Claim the board first"
                elif meta.get("zelvar-session") != h[0]:
                    refusal = f"The board is in use by {h[1]} at {h[2]} since {h[3]}"
                else:
                    self.holder = h[:4] + (time.monotonic(),)
            if refusal:  # aborted outside the lock: abort raises
                context.abort(grpc.StatusCode.FAILED_PRECONDITION, refusal)

    lease_s = LEASE_S

    def held_by(self):
        """The client holding the board, "" when none."""
        with self.holder_lock:
            h = self.holder
            return h[1] if h and time.monotonic() - h[4] < self.lease_s else ""

    def Claim(self, request, context):
        self.admit(context, False)
        refusal = None
        # The holder gets its session back: carrying it, or named as before on its channel.
        presented = dict(context.invocation_metadata()).get("zelvar-session")
        with self.holder_lock:
            h = self.holder
            mine = h and ((h[1], h[2]) == (request.client, context.peer()) or presented == h[0])
            if h and time.monotonic() - h[4] < self.lease_s and not mine:
                refusal = f"The board is in use by {h[1]} at {h[2]} since {h[3]}"
            else:
                session = h[0] if mine else secrets.token_hex(16)
                self.holder = (session, request.client, context.peer(),
                               h[3] if mine else time.strftime("%H:%M:%S"), time.monotonic())
        if refusal:
            context.abort(grpc.StatusCode.FAILED_PRECONDITION, refusal)
        return pb.ClaimReply(session=session, lease_ms=int(self.lease_s * 1000))

    def Release(self, request, context):
        self.admit(context, True)
        with self.holder_lock:
            self.holder = None
        return pb.ReleaseReply()

    # -- the board -----------------------------------------------------------
    def DescribeBoard(self, request, context):
        self.admit(context, False)
        return pb.BoardDescription(sensor_name="Fake dot sensor", sensor_width=WIDTH,
                                   sensor_height=HEIGHT, modes=MODES, resets=RESETS,
                                   adc_channels=ADC_CHANNELS, has_serial_port=True,
                                   largest_design_bytes=LARGEST_DESIGN_BYTES,
                                   event_formats=["EVT 2.0"], largest_batch_bytes=1 << 20)

    def GetIdentity(self, request, context):
        self.admit(context, False)
        return pb.Identity(vendor="Example Lab", product="Fake dot board", serial_number="FAKE-1",
                           version="0.1", design=self.board.design, sensor_width=WIDTH,
                           sensor_height=HEIGHT, protocol_version=1)

    def ListRegisters(self, request, context):
        self.admit(context, False)
        if request.bank not in self.board.banks:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          "Name a bank of registers: device, DAC or chip")
        with self.board.lock:
            return pb.ListRegistersReply(registers=[
                pb.Register(name=n, value=v[0], min=v[1], max=v[2], unit=v[3], description=v[4],
                            read_only=v[5], default_value=self.board.defaults[n])
                for n, v in self.board.banks[request.bank].items()])

    def WriteRegister(self, request, context):
        self.admit(context, True)
        with self.board.lock:
            r = self.board.register(request.name)
            if r is None:
                context.abort(grpc.StatusCode.NOT_FOUND,
                              f"The board has no register named {request.name}")
            if r[5]:
                context.abort(grpc.StatusCode.FAILED_PRECONDITION,
                              f"{request.name} is read-only: nothing was written")
            if not r[1] <= request.value <= r[2]:
                context.abort(grpc.StatusCode.OUT_OF_RANGE,
                              f"{request.name}: {request.value} is out of range {r[1]}..{r[2]}")
            old, r[0] = r[0], request.value  # A REAL BOARD: write the register here
            return pb.WriteRegisterReply(old_value=old, new_value=r[0])

    def WriteRegisters(self, request, context):
        """Several registers at once, all or none: every write is checked
        before any is made."""
        self.admit(context, True)
        if not request.writes:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          "No register to write: nothing was written")
        if len(request.writes) > MOST_WRITES_AT_ONCE:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          f"{len(request.writes)} writes in one call are more than the "
                          f"{MOST_WRITES_AT_ONCE} a call may hold: nothing was written")
        refusal = None
        with self.board.lock:
            named = set()
            for w in request.writes:
                r = self.board.register(w.name)
                if r is None:
                    refusal = (grpc.StatusCode.NOT_FOUND,
                               f"The board has no register named {w.name}: nothing was written")
                elif w.name in named:
                    refusal = (grpc.StatusCode.INVALID_ARGUMENT,
                               f"{w.name} is written twice in one call: nothing was written")
                elif r[5]:
                    refusal = (grpc.StatusCode.FAILED_PRECONDITION,
                               f"{w.name} is read-only: nothing was written")
                elif not r[1] <= w.value <= r[2]:
                    refusal = (grpc.StatusCode.OUT_OF_RANGE,
                               f"{w.name}: {w.value} is out of range {r[1]}..{r[2]}: "
                               "nothing was written")
                if refusal:
                    break
                named.add(w.name)
            else:
                written = []
                for w in request.writes:
                    r = self.board.register(w.name)
                    old, r[0] = r[0], w.value  # A REAL BOARD: write the registers here
                    written.append(pb.WriteRegisterReply(old_value=old, new_value=r[0]))
                return pb.WriteRegistersReply(written=written)
        context.abort(*refusal)

    def Program(self, request_iterator, context):
        self.admit(context, True)
        first = next(request_iterator, None)
        if first is None or not first.HasField("header"):
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          "The bitstream's header message did not come first")
        total, got = first.header.total_bytes, 0
        if total > LARGEST_DESIGN_BYTES:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          "The bitstream is larger than any design the board can hold")
        design = None
        self.board.design = ""
        for chunk in request_iterator:
            if chunk.HasField("header"):
                context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                              "A second header came in the bitstream")
            got += len(chunk.data)
            if got > total:
                context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                              "More of the bitstream came than its header announced")
            if design is None:
                try:  # a chunk holds the whole header: chunks are up to 1 MiB
                    design = design_of(chunk.data, first.header.file_name)
                except ValueError as e:
                    context.abort(grpc.StatusCode.INVALID_ARGUMENT, f"The bitstream is refused: {e}")
            # A REAL BOARD: write the chunk to the FPGA here.
            time.sleep(len(chunk.data) / WRITE_BYTES_PER_S)
            if not context.is_active():
                return  # cancelled: the board holds no design
            yield pb.ProgramProgress(design=design, bytes_done=got, bytes_total=total)
        if got != total:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          f"The bitstream ended after {got} of {total} bytes")
        design = design or design_of(b"", first.header.file_name)
        self.board.design = design
        yield pb.ProgramProgress(design=design, bytes_done=got, bytes_total=total, done=True)

    def Reset(self, request, context):
        self.admit(context, True)
        if request.kind not in RESET_NAMES:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          "Name a reset: device, FIFO, RAM, AER or chip")
        if request.kind not in RESETS:
            context.abort(grpc.StatusCode.FAILED_PRECONDITION,
                          f"The board has no {RESET_NAMES[request.kind]} reset: nothing was sent")
        if request.kind == pb.RESET_DEVICE:
            self.board.started = time.monotonic()  # the board's clock starts over
        return pb.ResetReply()

    def SetMode(self, request, context):
        self.admit(context, True)
        if request.mode not in MODE_NAMES:
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          "Name a mode: event stream, test pattern or standby")
        if request.mode not in MODES:
            context.abort(grpc.StatusCode.FAILED_PRECONDITION,
                          f"The board has no {MODE_NAMES[request.mode]} mode: nothing was sent")
        self.board.mode = request.mode
        return pb.SetModeReply()

    def StartAcquisition(self, request, context):
        self.admit(context, True)
        if not self.board.design:
            context.abort(grpc.StatusCode.FAILED_PRECONDITION, "No design on the board: program "
                          "a bitstream before starting the acquisition")
        with self.board.lock:
            self.board.lost = 0  # counted from the stream's start
        self.board.acquiring = True
        return pb.StartAcquisitionReply()

    def StopAcquisition(self, request, context):
        self.admit(context, True)
        self.board.acquiring = False
        return pb.StopAcquisitionReply()

    def StreamEvents(self, request, context):
        self.admit(context, False)
        last = int((time.monotonic() - self.board.started) * 1e6)
        while context.is_active():
            time.sleep(0.01)
            now = int((time.monotonic() - self.board.started) * 1e6)
            words, n = self.board.events(last, now)
            last = now
            if n:
                yield self.batch(words, n, now)

    def batch(self, words, n, now_us):
        """One batch of the stream: the words, the events they hold, the board's clock at its
        end, and what the FIFO dropped since the stream started. A REAL BOARD: its
        FIFO's count."""
        return pb.EventBatch(evt2_words=words.tobytes(), events=n, board_time_us=now_us,
                             lost_by_board=self.board.lost)

    def ReadAdc(self, request, context):
        self.admit(context, False)
        return pb.AdcReadingReply(channels=[pb.AdcChannel(name="VDD", unit="V", value=1.8),
                                            pb.AdcChannel(name="Temperature", unit="°C",
                                                          value=31.5)])

    def SerialTransact(self, request, context):
        self.admit(context, True)
        return pb.SerialReply(answer="ACK " + request.line)

    def WatchBoard(self, request, context):
        self.admit(context, False)
        last = None
        while context.is_active():
            state = pb.BoardState(plugged=True, design=self.board.design,
                                  acquiring=self.board.acquiring, mode=self.board.mode,
                                  held_by=self.held_by())
            if state != last:
                yield state
                last = state
            time.sleep(0.05)


def main(service=BoardService):
    """Serves the board; a test passes a service of its own."""
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", default="127.0.0.1:50551", help="HOST:PORT (port 0: any)")
    parser.add_argument("--token-file", help="refuse calls without the token in this file")
    parser.add_argument("--lease", type=float, default=LEASE_S,
                        help="seconds a claim lasts after its holder's last call")
    args = parser.parse_args()
    if not 0 < args.lease <= 3600:  # NaN fails this too
        parser.error(f"--lease must be more than 0 and at most 3600 seconds, not {args.lease}")
    token = ""
    if args.token_file:
        with open(args.token_file) as f:
            token = f.readline().strip()
        if not token:  # an empty token would let every caller in
            raise SystemExit(f"fake_board.py: the token file {args.token_file} holds no token")
    server = grpc.server(futures.ThreadPoolExecutor(max_workers=WORKERS), options=PING_OPTIONS)
    served = service(FakeBoard(), token)
    served.lease_s = args.lease
    rpc.add_BoardServicer_to_server(served, server)
    port = server.add_insecure_port(args.listen)
    if port == 0:
        raise SystemExit(f"fake_board.py: cannot listen on {args.listen}")
    server.start()
    print(f"fake_board.py: serving on {args.listen.rsplit(':', 1)[0]}:{port}", flush=True)
    server.wait_for_termination()


if __name__ == "__main__":
    main()
