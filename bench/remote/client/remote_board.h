// A board reached over the board protocol (pravel --board HOST:PORT), behind
// the same interface as the board in this process.
//
// A link thread keeps the connection: it reads the board's identity and its
// description (what it is: checked, and refused in one sentence when it
// cannot be so), claims the board, reads its registers, watches its state
// and reads its events into events(). A server that does not describe its
// board is taken for the AER-640, said once in the log. When
// the server goes away the board is unplugged for the host; the link tries
// again with a growing pause (0.1 s to 1 s) and the board is back once the
// server answers. A server that stops answering (frozen, or cut off) is
// found by the channel's keepalive pings within seconds and lost as one that
// went away; a lost link gives its session back when it still can. While
// linked, the session's lease is renewed within a third of what the server
// states; one that lapsed all the same is claimed again through a new link.
// What the host reads (registers, design, mode, acquiring)
// is what the board last told. Calls from the interactive thread are checked
// against that and sent by a thread of their own, so that the GUI never waits
// on the network; calls from other threads wait for the board's answer.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "bench/board/board.h"
#include "bench/remote/protocol/remote_call.h"

namespace Zelvar_Core::bench::remote {

// A value this side set on the board, until the board's watch confirms it:
// a state the watch sent before the change may still be on its way, and must
// not undo it. After `kPatience` the watch's word holds whatever it says.
template <typename T>
class Awaited {
 public:
  static constexpr std::chrono::milliseconds kPatience{1000};
  void expect(const T& value) {
    value_ = value;
    until_ = std::chrono::steady_clock::now() + kPatience;
  }
  // Whether the watch's `seen` may be taken; a confirmation ends the wait.
  bool admits(const T& seen) {
    if (!value_) return true;
    if (seen == *value_ || std::chrono::steady_clock::now() > until_) {
      value_.reset();
      return true;
    }
    return false;
  }

 private:
  std::optional<T> value_;
  std::chrono::steady_clock::time_point until_;
};

class RemoteBoard : public Board {
 public:
  // Connects, claims the board and reads it; throws std::runtime_error with
  // one sentence ("No board server answers at HOST:PORT", a refused token, a
  // board in use) when it cannot. `client` names this side to other clients.
  // Over TLS when `tls_ca` holds the PEM of the CA that signed the server's
  // certificate.
  RemoteBoard(std::string address, std::string token, std::string client, std::string tls_ca = "");
  ~RemoteBoard() override;
  RemoteBoard(const RemoteBoard&) = delete;
  RemoteBoard& operator=(const RemoteBoard&) = delete;

  // Calls from this thread never wait on the board.
  void set_interactive_thread(std::thread::id id) { interactive_ = id; }

  std::string address() const override { return address_; }
  // What the board said it is when the link was made. A board that says
  // otherwise after a new link gets a new declaration; the one handed out
  // before stays valid as long as this object.
  const BoardDeclaration& declaration() const override;
  // A server that went away is told as such; an unplugged board as any board.
  std::string absence(const std::string& consequence) const override;
  bool connected() const override;
  DeviceInfo read_identity() const override;
  std::string design() const override;

  using Board::program;
  void program(const std::string& path, ProgrammingObserver* observer) override;

  std::vector<Register> read_bank(Bank bank) override;
  std::int64_t read_register(const std::string& name) const override;
  void write_register(const std::string& name, std::int64_t value) override;
  // In one call to a server that has WriteRegisters (4,096 writes at most to
  // a call); one by one to a server without it, said once in the log.
  void write_registers(const std::vector<RegisterWrite>& writes) override;
  const RegisterFile& registers() const override { return registers_; }

  SensorMode mode() const override;

  void start_acquisition() override;
  void stop_acquisition() override;
  bool acquiring() const override;
  bool stream_confirmed() const override;
  EventHub& events() override { return hub_; }
  std::uint64_t lost_by_board() const override { return lost_; }
  std::uint64_t dropped_by_server() const override { return dropped_by_server_; }
  std::uint64_t batches_lost_in_transit() const override { return lost_in_transit_; }

  std::vector<double> read_adc(double t) const override;
  void serial_transact(const std::string& line, SerialDone done) override;

  // The time a programming's progress is measured by (a stalled one fails);
  // a test drives its own.
  std::function<std::chrono::steady_clock::time_point()> programming_clock =
      std::chrono::steady_clock::now;

  // How many times the link was made (1 after the constructor); for tests.
  int links_made() const { return links_made_; }

 protected:
  void change_mode(SensorMode mode) override;
  void reset(const std::string& name, std::function<void(const std::string&)> done) override;

 private:
  struct Link;  // one connection to the server, from its claim to its loss
  using Command = std::function<void(Link&)>;

  bool interactive() const { return std::this_thread::get_id() == interactive_; }
  // Makes the link: identity, claim, registers, state. Throws the sentence.
  std::shared_ptr<Link> connect();
  void keep_linked();                            // the link thread
  void watch(Link& link);                        // until the link is lost
  void read_events(std::shared_ptr<Link> link);  // the stream thread of one link
  void renew(std::shared_ptr<Link> link);        // the lease's thread of one link
  // Starts a new link's stream and renewal; the link is ended and its
  // threads joined when one cannot start.
  void start_link_threads(const std::shared_ptr<Link>& link);
  void link_lost();
  // Gives the link's session back, with a short deadline of its own.
  void release(const Link& link) const;
  std::vector<Register> read_bank_from_board(Bank bank);
  // Writes on the board; returns how many of `writes`, from the first, it
  // made, and the last call's status and reason code.
  std::size_t write_on_board(Link& link, const std::vector<RegisterWrite>& writes,
                             grpc::Status& status, v1::Reason& reason);
  // Makes `board` the declaration, with the registers as last read, unless
  // it is the one already held.
  void adopt(BoardDeclaration board);
  void apply_state(const v1::BoardState& state);
  // Runs `command` on the current link: at once and waiting from a worker
  // thread, queued from the interactive one (its failure told to failure_listener).
  void send(Command command, const std::string& consequence);
  void run_commands();
  // A write of `name` (the `number`th asked) answered: `value` when the board
  // took it, none when it did not.
  void written(const std::string& name, std::uint64_t number, std::optional<std::int64_t> value);
  std::shared_ptr<Link> current_link() const;
  // A call's context on `link`, ending after `seconds`, or sooner when the
  // board is being let go (one deadline for everything still sent then).
  std::unique_ptr<grpc::ClientContext> context(const Link& link, double seconds = 5) const;
  std::unique_ptr<grpc::ClientContext> context(const std::string& session, double seconds) const;
  // How long the destructor gives the server, in all, to hear what was asked;
  // the session's release has a second of its own after that.
  static constexpr std::chrono::seconds kShutdown{2};
  // The sentence a failed call is told with; "" when it succeeded.
  std::string failure_of(const grpc::Status& status, v1::Reason reason,
                         const std::string& consequence) const;
  // The sentence of a stream call that ended (not cancelled by this side).
  std::string stream_end_text(const grpc::Status& status, v1::Reason reason,
                              std::uint32_t largest) const;

  const std::string address_, token_, client_, tls_ca_;
  std::thread::id interactive_;
  RegisterFile registers_;  // the board's registers as it last told them
  EventHub hub_;
  std::atomic<std::uint64_t> lost_{0};
  std::atomic<std::uint64_t> dropped_by_server_{0};  // by the server, for this stream call
  std::atomic<std::uint64_t> lost_in_transit_{0};    // batches, since the link was made
  std::atomic<bool> clock_restarts_{false};          // a device reset was asked
  std::atomic<int> links_made_{0};
  std::atomic<bool> told_undescribed_{false};  // the log has said so once
  std::atomic<bool> one_by_one_{false};        // the server has no WriteRegisters
  // When the destructor stops waiting on the server (system clock), 0 before.
  std::atomic<std::chrono::system_clock::rep> end_by_{0};

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  std::shared_ptr<Link> link_;
  const BoardDeclaration* declaration_;
  std::vector<std::unique_ptr<const BoardDeclaration>> declarations_;  // every one handed out
  DeviceInfo identity_;
  std::string design_;
  bool plugged_ = false;
  bool acquiring_ = false;         // as asked, or as the board told
  bool stream_confirmed_ = false;  // the board itself said its stream runs
  SensorMode mode_ = SensorMode::EventStream;
  mutable std::vector<double> last_adc_;
  std::deque<std::pair<Command, std::string>> commands_;
  std::string last_session_;  // the session last held, presented to claim it again
  // A register's writes on their way: the latest one's number, and the value
  // the board holds as far as its answers said; a failed write puts that
  // back only when no later write of the register was asked.
  struct PendingWrites {
    std::uint64_t latest = 0;
    std::int64_t on_board = 0;
  };
  std::map<std::string, PendingWrites> pending_writes_;
  std::uint64_t writes_asked_ = 0;
  Awaited<std::string> awaited_design_;
  Awaited<bool> awaited_acquiring_;
  Awaited<SensorMode> awaited_mode_;
  bool stopping_ = false;

  std::thread link_thread_, command_thread_;
};

}  // namespace Zelvar_Core::bench::remote
