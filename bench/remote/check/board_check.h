// The board protocol's contract, run against a board server as a board team
// runs it before a bench meets their server: each check a call or a few,
// with a deadline, and its outcome in one line. The checker changes the
// board only while it runs: it puts back every register it wrote and the
// mode it changed. Programming leaves the checker's design (or the one it
// was given) on the board.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Zelvar_Core::bench::remote {

struct CheckOptions {
  std::string address;         // "HOST:PORT"
  std::string token;           // "" when the server wants none
  std::string tls_ca;          // the PEM of the CA that signed a TLS server's certificate
  std::string bitstream;       // the design to program; empty: a small design of the checker's own
  bool lease = true;           // wait out a holder's 10 s lease once (about 11 s)
  double call_seconds = 5;     // every call's deadline
  double stream_seconds = 10;  // the deadline of programming and of the event stream
};

struct CheckResult {
  enum class Outcome { Pass, Fail, Skip };  // Skip: not applicable to this board
  std::string name;                         // "write.out-of-range"
  Outcome outcome = Outcome::Pass;
  std::string why;  // what was seen, in one line
};

// "PASS  write.out-of-range: ...", as the checker prints it.
std::string result_line(const CheckResult& result);

// Runs every check in order, telling `report` of each as it ends; returns
// them all. A server that cannot be reached or refuses the token ends the
// run after the first check.
std::vector<CheckResult> check_board(const CheckOptions& options,
                                     const std::function<void(const CheckResult&)>& report = {});

// What is wrong with one batch of the event stream, "" when nothing: its
// bytes a whole number of 32-bit words, a time-high word first, only word
// types EVT 2.0 defines, `events` CD words, each inside the sensor, none
// after the batch's board time, time-high words that never go back, and
// no longer than the board's largest batch.
std::string batch_fault(const std::string& words, std::uint32_t events, std::int64_t board_time_us,
                        std::uint32_t width, std::uint32_t height,
                        std::uint64_t largest_batch_bytes);

}  // namespace Zelvar_Core::bench::remote
