#!/usr/bin/python3
"""The fake board, but a claim while another client holds the board is
granted (with the holder's own session): the check claim.exclusive fails."""
import time

import fake_board
from fake_board import pb


class Board(fake_board.BoardService):
    def Claim(self, request, context):
        h = self.holder
        if h and time.monotonic() - h[4] < fake_board.LEASE_S:
            self.admit(context, False)
            return pb.ClaimReply(session=h[0])
        return super().Claim(request, context)


if __name__ == "__main__":
    fake_board.main(Board)
