// Outcomes that are not faults of the program: a board that is not there
// and a run the user cancelled. Both are told to the user as they are.
#pragma once

#include <stdexcept>
#include <string>

namespace Zelvar_Core::bench {

// A request that needs the board while none is connected.
class NoBoard : public std::runtime_error {
 public:
  // `consequence` says what did not happen: "reset not sent".
  explicit NoBoard(const std::string& consequence)
      : std::runtime_error("No board is connected: " + consequence) {}
};

// What the board does not have or does not allow: a mode or a reset it
// lacks, a serial port it has not, a write to a read-only register. Refused
// before anything is sent, in one sentence that says so.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A bitstream the board cannot take: empty, damaged, or naming its design
// with text that is not printable UTF-8.
class BadBitstream : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The user stopped something; shown as information, never as an error.
class Cancelled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace Zelvar_Core::bench
