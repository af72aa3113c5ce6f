#!/usr/bin/python3
"""The fake board, but programming never sends its last message with `done`
set (the design is on the board all the same): the check program fails."""
import fake_board


class Board(fake_board.BoardService):
    def Program(self, request_iterator, context):
        for progress in super().Program(request_iterator, context):
            if not progress.done:
                yield progress


if __name__ == "__main__":
    fake_board.main(Board)
