#!/usr/bin/python3
"""The fake board, but it takes the test pattern mode it does not declare:
the check modes fails."""
import fake_board
from fake_board import pb


class Board(fake_board.BoardService):
    def SetMode(self, request, context):
        if request.mode == pb.MODE_TEST_PATTERN:
            self.admit(context, True)
            self.board.mode = request.mode
            return pb.SetModeReply()
        return super().SetMode(request, context)


if __name__ == "__main__":
    fake_board.main(Board)
