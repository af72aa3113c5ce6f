#!/usr/bin/python3
"""The fake board, but it says its sensor is 320×240 while its dot circles
over 640×480: events fall outside the declared sensor, and the check
stream.batches fails."""
import fake_board


class Board(fake_board.BoardService):
    def DescribeBoard(self, request, context):
        described = super().DescribeBoard(request, context)
        described.sensor_width, described.sensor_height = 320, 240
        return described

    def GetIdentity(self, request, context):
        identity = super().GetIdentity(request, context)
        identity.sensor_width, identity.sensor_height = 320, 240
        return identity


if __name__ == "__main__":
    fake_board.main(Board)
