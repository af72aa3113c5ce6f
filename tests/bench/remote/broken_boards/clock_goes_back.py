#!/usr/bin/python3
"""The fake board, but its clock jumps back once, after the fifth
batch, and goes on from there: each batch is well formed on its own, the
stream's clock is not monotonic: the check stream.clock fails."""
import time

import fake_board


class Board(fake_board.BoardService):
    def StreamEvents(self, request, context):
        self.admit(context, False)
        batches = 0
        last = int((time.monotonic() - self.board.started) * 1e6)
        while context.is_active():
            time.sleep(0.01)
            if batches == 5:  # the clock jumps back by half its time
                back = (time.monotonic() - self.board.started) / 2
                self.board.started += back
                last -= int(back * 1e6)
                batches += 1
            now = int((time.monotonic() - self.board.started) * 1e6)
            words, n = self.board.events(last, now)
            last = now
            if n:
                batches += 1
                yield self.batch(words, n, now)


if __name__ == "__main__":
    fake_board.main(Board)
