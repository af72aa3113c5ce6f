// One sensor board as the host uses it, whichever board it is: the one
// simulated in this process, or one reached over the board protocol. The
// presenter, the recorder, sweeps, sequences and the self-test use only
// this interface.
//
// A board may answer at once (the simulated one) or over a network. A
// networked board never makes its interactive thread (the GUI's) wait on a
// reply: calls from that thread are checked against what the board last told
// and then sent; their outcome comes back through the listeners and the
// callbacks. Calls from any other thread wait for the board's answer.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Zelvar_Core/Host/main_model.h"
#include "bench/board/board_declaration.h"
#include "bench/board/errors.h"
#include "bench/board/event_hub.h"
#include "bench/board/registers.h"
#include "bench/board/sensor.h"

namespace Zelvar_Core::bench {

class Board;

// The resets as the host asked for them, in order. Without a board each is
// refused ("No board is connected: reset not sent"); a reset the board does
// not declare is refused before anything is sent (Refused: "The board has
// no RAM reset: nothing was sent").
class BoardResets : public DeviceActions {
 public:
  explicit BoardResets(Board& board) : board_(board) {}
  void reset_device() override { issue("reset_device"); }
  void reset_fifo() override { issue("reset_fifo"); }
  void reset_ram() override { issue("reset_ram"); }
  void reset_aer() override { issue("reset_aer"); }
  void reset_chip() override { issue("reset_chip"); }

  std::vector<std::string> issued;
  // Set by the host: just before the board takes a reset, and once it is done
  // (on the thread where the board said so).
  std::function<void(const std::string&)> before_reset;
  std::function<void(const std::string&)> on_reset;

 private:
  void issue(const std::string& name);
  Board& board_;
};

// Sees a programming run from start to end; `advance` returns false to cancel.
class ProgrammingObserver {
 public:
  virtual ~ProgrammingObserver() = default;
  virtual void begin(const std::string& design, std::size_t bytes) = 0;
  virtual bool advance(std::size_t bytes_done) = 0;
  virtual void end() = 0;
};

// "Zelvar Labs AER-640 ... (serial ..., version ...)", and " at HOST:PORT" for a served board.
std::string identity_of(const Board& board);
// What the front end's Device info shows: the identity, a served board's
// product named with its address; empty without a board.
DeviceInfo device_info_of(const Board& board);

class Board : public Device {
 public:
  // The largest design a board's configuration memory holds.
  static constexpr std::uint64_t kMaxDesignBytes = 32ull << 20;

  Board() : resets(*this) { actions = &resets; }

  // "" for the board in this process; "HOST:PORT" for a served one.
  virtual std::string address() const { return ""; }
  // Why the board is not there, ending with what did not happen:
  // "No board is connected: the run cannot go on".
  virtual std::string absence(const std::string& consequence) const {
    return NoBoard(consequence).what();
  }
  virtual bool connected() const = 0;  // from any thread
  // What the board says it is (the AER-640 for a board that says nothing);
  // stable while it is connected.
  virtual const BoardDeclaration& declaration() const;
  virtual DeviceInfo read_identity() const = 0;
  virtual std::string design() const = 0;  // "" while the board holds no configuration

  // Reads the bitstream and writes it to the board, telling the observer;
  // the stream stops first. Failures leave no design.
  void program(const std::string& path) override { program(path, programming_observer); }
  virtual void program(const std::string& path, ProgrammingObserver* observer) = 0;

  // Registers, DACs and chip signals with their ranges. `registers()` holds
  // what the board last told; a write is range-checked before it is sent.
  virtual std::vector<Register> read_bank(Bank bank) = 0;
  virtual std::int64_t read_register(const std::string& name) const = 0;
  virtual void write_register(const std::string& name, std::int64_t value) = 0;
  // Several registers in one go, all or none: every write is checked against
  // what the board told (the register, its range, its read-only mark) before
  // any is made, and the first refused is thrown in one sentence naming it.
  // This default then writes them one by one; a board that can does it in
  // one step.
  virtual void write_registers(const std::vector<RegisterWrite>& writes);
  virtual const RegisterFile& registers() const = 0;

  // A mode the board does not declare is refused (Refused: "The board has no
  // test pattern mode: nothing was sent") and nothing changes.
  void set_mode(SensorMode mode);
  virtual SensorMode mode() const = 0;

  // The event stream: needs a board with a design. Its events arrive in events().
  virtual void start_acquisition() = 0;
  virtual void stop_acquisition() = 0;
  virtual bool acquiring() const = 0;
  // The board itself said its stream runs: a served board's start is asked
  // at once (acquiring()) and confirmed when the board has done it.
  virtual bool stream_confirmed() const { return acquiring(); }
  virtual EventHub& events() = 0;
  // Events the board could not hand over since its stream started.
  virtual std::uint64_t lost_by_board() const = 0;
  // A served board's stream on its way here: events its server dropped
  // since the stream's call began (it could not send them as fast as the
  // board made them), and batches that never arrived (lost in transit).
  virtual std::uint64_t dropped_by_server() const { return 0; }
  virtual std::uint64_t batches_lost_in_transit() const { return 0; }

  // One reading of the ADC's channels, in their order; `t` is the sampling
  // run's time in seconds (a simulated board draws its noise from it).
  virtual std::vector<double> read_adc(double t) const = 0;
  // The event rate the host sees (a simulated board's die warms with it).
  virtual void note_event_rate(double /*events_per_second*/) {}

  // One line to the board's serial port; `done` gets the answer, or the
  // sentence of what went wrong, on the thread where it arrived. A board
  // without a serial port refuses at once (Refused: kNoSerialPort).
  static constexpr const char* kNoSerialPort = "The board has no serial port: nothing was sent";
  using SerialDone = std::function<void(const std::string& answer, const std::string& error)>;
  virtual void serial_transact(const std::string& line, SerialDone done) = 0;

  BoardResets resets;
  ProgrammingObserver* programming_observer = nullptr;
  // Each runs on the thread where it happened. The board's own threads may
  // call them at any time: set them and clear them under listeners_lock(),
  // which the board holds around each call, so that once
  // clear_listeners() returns none runs or will run.
  std::unique_lock<std::recursive_mutex> listeners_lock() const {
    return std::unique_lock(listeners_mutex_);
  }
  void clear_listeners();
  std::function<void()> connection_listener;
  // The board declared itself anew: another sensor came back on the link,
  // or what it is was first told late. declaration() holds the new one.
  std::function<void()> declaration_listener;
  std::function<void(const std::string& name)> register_listener;  // a value was written
  std::function<void()> stream_listener;                           // the stream started or stopped
  std::function<void(const std::string&)> stream_failure;          // the stream broke off
  // Something sent without waiting was refused or lost: its sentence.
  std::function<void(const std::string&)> failure_listener;

 protected:
  friend class BoardResets;
  // Calls `listener`, when set, under the listeners' lock.
  template <typename Listener, typename... Args>
  void tell(const Listener& listener, Args&&... args) const {
    std::lock_guard lock(listeners_mutex_);
    if (listener) listener(std::forward<Args>(args)...);
  }
  // Puts the chip in a mode the board declares.
  virtual void change_mode(SensorMode mode) = 0;
  // Throws Refused when the board has no serial port.
  void require_serial_port() const;
  // Carries out one reset ("reset_device", ...); `done` gets "" or the sentence
  // of why it failed. Throws NoBoard when there is no board.
  virtual void reset(const std::string& name, std::function<void(const std::string&)> done) = 0;

 private:
  mutable std::recursive_mutex listeners_mutex_;
};

}  // namespace Zelvar_Core::bench
