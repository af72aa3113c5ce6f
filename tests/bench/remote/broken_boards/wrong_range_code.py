#!/usr/bin/python3
"""The fake board, but a value outside a register's range is refused with
INVALID_ARGUMENT instead of OUT_OF_RANGE: the check write.out-of-range fails."""
import grpc

import fake_board


class Board(fake_board.BoardService):
    def WriteRegister(self, request, context):
        r = self.board.register(request.name)
        if r is not None and not r[1] <= request.value <= r[2]:
            self.admit(context, True)
            context.abort(grpc.StatusCode.INVALID_ARGUMENT,
                          f"{request.name}: {request.value} is out of range {r[1]}..{r[2]}")
        return super().WriteRegister(request, context)


if __name__ == "__main__":
    fake_board.main(Board)
