#!/usr/bin/python3
"""The fake board, but a write inside the range answers OK and what was asked
without writing anything: the check write fails."""
import fake_board
from fake_board import pb


class Board(fake_board.BoardService):
    def WriteRegister(self, request, context):
        r = self.board.register(request.name)
        if r is None or r[5] or not r[1] <= request.value <= r[2]:
            return super().WriteRegister(request, context)
        self.admit(context, True)
        return pb.WriteRegisterReply(old_value=r[0], new_value=request.value)


if __name__ == "__main__":
    fake_board.main(Board)
