#!/usr/bin/python3
"""The fake board, but several writes in one call are made one after the other
until one is refused, and those before it stay written: the check
write.batch.all-or-none fails."""
import fake_board
from fake_board import pb


class Board(fake_board.BoardService):
    def WriteRegisters(self, request, context):
        self.admit(context, True)
        written = []
        for w in request.writes:
            done = self.WriteRegister(pb.WriteRegisterRequest(name=w.name, value=w.value), context)
            written.append(done)
        return pb.WriteRegistersReply(written=written)


if __name__ == "__main__":
    fake_board.main(Board)
