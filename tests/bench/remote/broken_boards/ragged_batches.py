#!/usr/bin/python3
"""The fake board, but each batch ends with two stray bytes, so that its
length is no whole number of 32-bit words: the check stream.batches fails."""
import fake_board


class Board(fake_board.BoardService):
    def batch(self, words, n, now_us):
        batch = super().batch(words, n, now_us)
        batch.evt2_words += b"\0\0"
        return batch


if __name__ == "__main__":
    fake_board.main(Board)
