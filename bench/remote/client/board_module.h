// The remote board as a module of its own, loaded only when pravel is given
// --board: the protocol's libraries (gRPC, protobuf and theirs) are then
// loaded with it, and a bench on the built-in board never loads them.
//
// The module exports one function, kOpenServedBoard, of type
// OpenServedBoard; everything else in it is hidden.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "bench/board/board.h"

namespace Zelvar_Core::bench::remote {

// What the bench asks of the module: the board served at `address`, with
// the token in `token_file` ("" for none), claimed as "`client` on HOST",
// over TLS checked against the CA certificate in `tls_ca` when given.
// `interactive` is the thread whose calls never wait on the board (none
// when every call may wait for the board's answer).
struct ServedBoardRequest {
  std::string address;
  std::string token_file;
  std::string client;
  std::thread::id interactive;
  std::string tls_ca;  // the CA certificate's file for TLS, "" for a link in clear
};

// Sets `board` to the board served at the request's address; throws
// std::runtime_error with one sentence when it cannot be reached or read.
using OpenServedBoard = void (*)(const ServedBoardRequest& request, std::unique_ptr<Board>& board);
inline constexpr char kOpenServedBoard[] = "zelvar_open_served_board";

// The module's file name, and where it is looked for: beside the program,
// in the lib folder beside the program's folder, and in the package's own
// folder under it.
inline constexpr char kBoardModuleName[] = "pravel_remote_board.so";

}  // namespace Zelvar_Core::bench::remote
