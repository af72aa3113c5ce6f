#!/usr/bin/env bash
# Makes the board protocol's Python modules (board_pb2.py, board_pb2_grpc.py)
# in folder OUT with Debian's protoc and its gRPC Python plugin
# (protobuf-compiler-grpc): Debian's python3-grpc-tools is far older than
# its gRPC runtime, so it is not used.
#   generate.sh OUT [PROTO_ROOT]
set -euo pipefail
out="$1"
proto_root="${2:-$(cd "$(dirname "$0")/../../proto" && pwd)}"
mkdir -p "$out"
protoc --proto_path="$proto_root" --python_out="$out" --grpc_out="$out" \
  --plugin=protoc-gen-grpc="$(command -v grpc_python_plugin)" \
  "$proto_root/zelvar/board/v1/board.proto"
