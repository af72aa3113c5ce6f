#include "bench/remote/check/board_check.h"

#include <fmt/format.h>
#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "bench/board/bitstream.h"
#include "bench/board/board_declaration.h"
#include "bench/remote/protocol/remote_call.h"
#include "zelvar/board/v1/board.grpc.pb.h"

namespace Zelvar_Core::bench::remote {

namespace {

using grpc::Status;
using grpc::StatusCode;
using Outcome = CheckResult::Outcome;
using namespace std::chrono_literals;

const char* code_name(StatusCode code) {
  switch (code) {
    case StatusCode::OK:
      return "OK";
    case StatusCode::CANCELLED:
      return "CANCELLED";
    case StatusCode::UNKNOWN:
      return "UNKNOWN";
    case StatusCode::INVALID_ARGUMENT:
      return "INVALID_ARGUMENT";
    case StatusCode::DEADLINE_EXCEEDED:
      return "DEADLINE_EXCEEDED";
    case StatusCode::NOT_FOUND:
      return "NOT_FOUND";
    case StatusCode::ALREADY_EXISTS:
      return "ALREADY_EXISTS";
    case StatusCode::PERMISSION_DENIED:
      return "PERMISSION_DENIED";
    case StatusCode::RESOURCE_EXHAUSTED:
      return "RESOURCE_EXHAUSTED";
    case StatusCode::FAILED_PRECONDITION:
      return "FAILED_PRECONDITION";
    case StatusCode::ABORTED:
      return "ABORTED";
    case StatusCode::OUT_OF_RANGE:
      return "OUT_OF_RANGE";
    case StatusCode::UNIMPLEMENTED:
      return "UNIMPLEMENTED";
    case StatusCode::INTERNAL:
      return "INTERNAL";
    case StatusCode::UNAVAILABLE:
      return "UNAVAILABLE";
    case StatusCode::DATA_LOSS:
      return "DATA_LOSS";
    case StatusCode::UNAUTHENTICATED:
      return "UNAUTHENTICATED";
    default:
      return "an unknown code";
  }
}

// "OK", or "OUT_OF_RANGE \"VTH_ON: 5000 is out of range 0..4095\"".
std::string told(const Status& status) {
  if (status.ok()) return "OK";
  return fmt::format("{} \"{}\"", code_name(status.error_code()), status.error_message());
}

std::string joined(const std::vector<std::string>& parts) {
  return fmt::format("{}", fmt::join(parts, "; "));
}

std::string mode_name(v1::Mode mode) {
  switch (mode) {
    case v1::MODE_EVENT_STREAM:
      return "event stream";
    case v1::MODE_TEST_PATTERN:
      return "test pattern";
    case v1::MODE_STANDBY:
      return "standby";
    default:
      return fmt::format("mode {}", static_cast<int>(mode));
  }
}

std::string reset_name(v1::ResetKind kind) {
  switch (kind) {
    case v1::RESET_DEVICE:
      return "device";
    case v1::RESET_FIFO:
      return "FIFO";
    case v1::RESET_RAM:
      return "RAM";
    case v1::RESET_AER:
      return "AER";
    case v1::RESET_CHIP:
      return "chip";
    default:
      return fmt::format("reset {}", static_cast<int>(kind));
  }
}

const v1::Mode kEveryMode[] = {v1::MODE_EVENT_STREAM, v1::MODE_TEST_PATTERN, v1::MODE_STANDBY};
const v1::ResetKind kEveryReset[] = {v1::RESET_DEVICE, v1::RESET_FIFO, v1::RESET_RAM, v1::RESET_AER,
                                     v1::RESET_CHIP};
const v1::Bank kEveryBank[] = {v1::BANK_DEVICE, v1::BANK_DAC, v1::BANK_CHIP};

// What the board declared, or what the bench takes for a board that does
// not declare itself (the AER-640).
struct Declared {
  bool described = false;
  std::uint32_t width = 0, height = 0;
  std::vector<v1::Mode> modes;
  std::vector<v1::ResetKind> resets;
  std::vector<v1::AdcChannelInfo> adc;
  bool has_serial_port = true;
  std::uint64_t largest_design_bytes = 0;
  std::uint64_t largest_batch_bytes = 0;

  bool has(v1::Mode mode) const { return std::count(modes.begin(), modes.end(), mode) > 0; }
  bool has(v1::ResetKind kind) const { return std::count(resets.begin(), resets.end(), kind) > 0; }
};

Declared aer640_defaults() {
  const BoardDeclaration d = declaration_of(SimulatedSensor::Aer640);
  Declared declared;
  declared.width = d.geometry.width;
  declared.height = d.geometry.height;
  for (const SensorMode mode : d.modes) declared.modes.push_back(wire_mode(mode));
  for (const auto& reset : d.resets) declared.resets.push_back(wire_reset(reset));
  for (const auto& channel : d.adc_channels) {
    v1::AdcChannelInfo info;
    info.set_name(channel.name);
    info.set_unit(channel.unit);
    info.set_normal_min(channel.normal_min);
    info.set_normal_max(channel.normal_max);
    declared.adc.push_back(info);
  }
  declared.has_serial_port = d.has_serial_port;
  declared.largest_design_bytes = d.largest_design_bytes;
  declared.largest_batch_bytes = d.largest_batch_bytes;
  return declared;
}

std::shared_ptr<grpc::Channel> own_channel(const std::string& address, const std::string& tls_ca) {
  // A connection of its own, so that the server sees a second client at
  // another port, never the first one's connection shared.
  grpc::ChannelArguments arguments;
  arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
  return grpc::CreateCustomChannel(address, board_credentials(tls_ca), arguments);
}

// One run of the checks.
class Checker {
 public:
  Checker(const CheckOptions& options, std::function<void(const CheckResult&)> report)
      : o_(options),
        report_(std::move(report)),
        channel_(own_channel(options.address, options.tls_ca)),
        board_(v1::Board::NewStub(channel_)),
        simulator_(v1::BoardSimulator::NewStub(channel_)),
        other_channel_(own_channel(options.address, options.tls_ca)),
        other_(v1::Board::NewStub(other_channel_)) {}

  std::vector<CheckResult> run();

 private:
  // A call's context: the token, the session when `session`, a deadline.
  std::unique_ptr<grpc::ClientContext> context(bool session = true, double seconds = 0) const {
    return call_context(o_.token, session ? session_ : "", seconds > 0 ? seconds : o_.call_seconds);
  }
  // The status, noted for the messages' check.
  Status seen(const std::string& call, Status status) {
    // UNIMPLEMENTED is the library's own answer for a call the server lacks.
    if (!status.ok() && status.error_code() != StatusCode::UNIMPLEMENTED &&
        (status.error_message().empty() || status.error_message().find('\n') != std::string::npos))
      bad_messages_.push_back(
          fmt::format("{} answered {} with {}", call, code_name(status.error_code()),
                      status.error_message().empty() ? "no message" : "several lines"));
    return status;
  }
  void result(const std::string& name, Outcome outcome, std::string why) {
    results_.push_back({name, outcome, std::move(why)});
    if (report_) report_(results_.back());
  }
  void pass(const std::string& name, std::string why) { result(name, Outcome::Pass, why); }
  void fail(const std::string& name, std::string why) { result(name, Outcome::Fail, why); }
  void skip(const std::string& name, std::string why) { result(name, Outcome::Skip, why); }
  // Runs one check; what it throws fails it.
  template <class Check>
  void check(const std::string& name, Check&& body) {
    const std::size_t before = results_.size();
    try {
      body();
    } catch (const std::exception& e) {
      fail(name, e.what());
    }
    if (results_.size() == before) fail(name, "the check said nothing");
  }

  // Calls used by several checks.
  Status identity(v1::Identity& out) {
    return seen("GetIdentity",
                board_->GetIdentity(context(false).get(), v1::GetIdentityRequest(), &out));
  }
  Status list(v1::Bank bank, std::vector<v1::Register>& out) {
    v1::ListRegistersRequest request;
    request.set_bank(bank);
    v1::ListRegistersReply reply;
    Status status =
        seen("ListRegisters", board_->ListRegisters(context(false).get(), request, &reply));
    out.assign(reply.registers().begin(), reply.registers().end());
    return status;
  }
  // Every register by name, in every bank; false with why when a bank cannot be read.
  bool all_registers(std::map<std::string, v1::Register>& out, std::string& why) {
    out.clear();
    for (const v1::Bank bank : kEveryBank) {
      std::vector<v1::Register> registers;
      const Status status = list(bank, registers);
      if (!status.ok()) {
        why = fmt::format("ListRegisters({}) answered {}", v1::Bank_Name(bank), told(status));
        return false;
      }
      for (const auto& r : registers) out[r.name()] = r;
    }
    return true;
  }
  Status write(const std::string& name, std::int64_t value, v1::WriteRegisterReply* reply = nullptr,
               v1::Board::Stub* stub = nullptr, bool session = true) {
    v1::WriteRegisterRequest request;
    request.set_name(name);
    request.set_value(value);
    v1::WriteRegisterReply ignored;
    return seen("WriteRegister",
                (stub ? stub : board_.get())
                    ->WriteRegister(context(session).get(), request, reply ? reply : &ignored));
  }
  Status claim(v1::Board::Stub& stub, const std::string& client, std::string& session) {
    v1::ClaimRequest request;
    request.set_client(client);
    v1::ClaimReply reply;
    Status status = seen("Claim", stub.Claim(context(false).get(), request, &reply));
    session = reply.session();
    return status;
  }
  Status release(v1::Board::Stub& stub, const std::string& session) {
    auto c = call_context(o_.token, session, o_.call_seconds);
    v1::ReleaseReply reply;
    return seen("Release", stub.Release(c.get(), v1::ReleaseRequest(), &reply));
  }
  Status set_mode(v1::Mode mode) {
    v1::SetModeRequest request;
    request.set_mode(mode);
    v1::SetModeReply reply;
    return seen("SetMode", board_->SetMode(context().get(), request, &reply));
  }
  Status reset(v1::ResetKind kind) {
    v1::ResetRequest request;
    request.set_kind(kind);
    v1::ResetReply reply;
    return seen("Reset", board_->Reset(context().get(), request, &reply));
  }
  Status start() {
    v1::StartAcquisitionReply reply;
    return seen("StartAcquisition",
                board_->StartAcquisition(context().get(), v1::StartAcquisitionRequest(), &reply));
  }
  Status stop() {
    v1::StopAcquisitionReply reply;
    return seen("StopAcquisition",
                board_->StopAcquisition(context().get(), v1::StopAcquisitionRequest(), &reply));
  }
  // The board's state as its watch first tells it.
  Status state(v1::BoardState& out) {
    auto c = context(false);
    auto watch = board_->WatchBoard(c.get(), v1::WatchBoardRequest());
    const bool read = watch->Read(&out);
    c->TryCancel();
    Status status = watch->Finish();
    if (read) return Status::OK;
    return seen("WatchBoard",
                status.ok() ? Status(StatusCode::UNKNOWN, "the watch sent nothing") : status);
  }
  // Sends `bytes` announced as `total`; the progress messages seen, and the
  // status. `cancel_part_way`: cancels once some bytes are written.
  struct Programmed {
    Status status;
    std::vector<v1::ProgramProgress> progress;
    bool cancelled = false;
  };
  Programmed program(const std::string& file_name, std::uint64_t total, const std::string& bytes,
                     bool cancel_part_way = false, std::size_t chunk_bytes = 1 << 20) {
    Programmed out;
    auto c = context(true, o_.stream_seconds);
    auto stream = board_->Program(c.get());
    v1::ProgramChunk chunk;
    chunk.mutable_header()->set_file_name(file_name);
    chunk.mutable_header()->set_total_bytes(total);
    bool open = stream->Write(chunk);
    for (std::size_t at = 0; open && at < bytes.size(); at += chunk_bytes) {
      chunk.set_data(bytes.substr(at, chunk_bytes));
      open = stream->Write(chunk);
    }
    stream->WritesDone();
    v1::ProgramProgress progress;
    while (stream->Read(&progress)) {
      out.progress.push_back(progress);
      if (cancel_part_way && !out.cancelled && !progress.done() && progress.bytes_done() > 0) {
        c->TryCancel();
        out.cancelled = true;
      }
    }
    out.status = stream->Finish();
    if (!out.cancelled) seen("Program", out.status);
    return out;
  }
  // Waits up to the call deadline for the board's design to be `wanted`.
  bool design_becomes(const std::string& wanted, std::string& design) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(o_.call_seconds);
    for (;;) {
      v1::Identity id;
      if (identity(id).ok()) design = id.design();
      if (design == wanted || std::chrono::steady_clock::now() > end) return design == wanted;
      std::this_thread::sleep_for(20ms);
    }
  }

  bool check_identity();
  void check_describe();
  void check_token();
  bool check_claim();
  void check_registers();
  void check_batch_write();
  void check_errors();
  void check_programming();
  void check_stream();
  void check_adc();
  void check_serial();
  void check_resets();
  void check_modes();
  void check_unplug();
  void put_back();
  void check_release();
  void check_lease();

  CheckOptions o_;
  std::function<void(const CheckResult&)> report_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<v1::Board::Stub> board_;
  std::unique_ptr<v1::BoardSimulator::Stub> simulator_;
  std::shared_ptr<grpc::Channel> other_channel_;
  std::unique_ptr<v1::Board::Stub> other_;
  std::vector<CheckResult> results_;
  std::vector<std::string> bad_messages_;

  v1::Identity identity_;
  Declared declared_;
  std::string session_;
  std::map<std::string, v1::Register> registers_before_;
  bool have_registers_ = false;
  bool have_mode_ = false;
  v1::Mode mode_before_ = v1::MODE_UNSPECIFIED;
  bool acquiring_ = false;
};

bool Checker::check_identity() {
  const Status status = identity(identity_);
  if (status.error_code() == StatusCode::UNAUTHENTICATED) {
    fail("identity",
         fmt::format("the server wants a token{}: {}",
                     o_.token.empty() ? " (give --token-file F)" : " other than the one given",
                     told(status)));
    return false;
  }
  if (no_server_answers(status)) {
    fail("identity",
         o_.tls_ca.empty()
             ? fmt::format("nothing that speaks the board protocol answers at {}: {}", o_.address,
                           told(status))
             : fmt::format("{}: {}", no_answer_sentence(status, o_.address, true), told(status)));
    return false;
  }
  if (!status.ok()) {
    fail("identity", "GetIdentity answered " + told(status));
    return false;
  }
  std::vector<std::string> missing;
  if (identity_.vendor().empty()) missing.push_back("vendor");
  if (identity_.product().empty()) missing.push_back("product");
  if (identity_.serial_number().empty()) missing.push_back("serial number");
  if (identity_.version().empty()) missing.push_back("version");
  if (identity_.sensor_width() == 0 || identity_.sensor_height() == 0)
    missing.push_back("sensor size");
  if (!missing.empty()) {
    fail("identity", "the identity has no " + fmt::format("{}", fmt::join(missing, ", no ")));
  } else if (identity_.protocol_version() != 1) {
    fail("identity", fmt::format("protocol version {}, not 1", identity_.protocol_version()));
  } else {
    pass("identity",
         fmt::format("{}, {} {} {}, {}×{}, protocol 1, design \"{}\"", identity_.vendor(),
                     identity_.product(), identity_.serial_number(), identity_.version(),
                     identity_.sensor_width(), identity_.sensor_height(), identity_.design()));
  }
  return true;
}

void Checker::check_describe() {
  declared_ = aer640_defaults();
  v1::BoardDescription d;
  const Status status = seen(
      "DescribeBoard", board_->DescribeBoard(context(false).get(), v1::DescribeBoardRequest(), &d));
  if (status.error_code() == StatusCode::UNIMPLEMENTED) {
    skip("describe",
         "the server does not offer DescribeBoard: the bench takes the board for an AER-640 "
         "(640×480, three modes, five resets, four ADC channels, a serial port), and so does "
         "this check");
    return;
  }
  if (!status.ok()) {
    fail("describe", "DescribeBoard answered " + told(status) + "; the AER-640 is assumed");
    return;
  }
  std::vector<std::string> faults;
  if (d.sensor_width() == 0 || d.sensor_height() == 0) faults.push_back("no sensor size");
  if (d.sensor_width() != identity_.sensor_width() ||
      d.sensor_height() != identity_.sensor_height())
    faults.push_back(fmt::format("{}×{}, but the identity says {}×{}", d.sensor_width(),
                                 d.sensor_height(), identity_.sensor_width(),
                                 identity_.sensor_height()));
  if (d.modes().empty()) faults.push_back("no mode");
  for (const int mode : d.modes())
    if (std::find(std::begin(kEveryMode), std::end(kEveryMode), mode) == std::end(kEveryMode))
      faults.push_back(fmt::format("a mode {} the protocol does not have", mode));
  for (const int kind : d.resets())
    if (std::find(std::begin(kEveryReset), std::end(kEveryReset), kind) == std::end(kEveryReset))
      faults.push_back(fmt::format("a reset {} the protocol does not have", kind));
  for (const auto& channel : d.adc_channels()) {
    if (channel.name().empty()) faults.push_back("an ADC channel without a name");
    if (!(channel.normal_min() <= channel.normal_max()))
      faults.push_back("ADC channel " + channel.name() + "'s normal range is upside down");
  }
  if (d.largest_design_bytes() == 0) faults.push_back("no largest design");
  if (d.largest_batch_bytes() == 0) faults.push_back("no largest batch");
  if (std::find(d.event_formats().begin(), d.event_formats().end(), "EVT 2.0") ==
      d.event_formats().end())
    faults.push_back("no \"EVT 2.0\" among its event formats");
  if (!faults.empty()) {
    fail("describe", fmt::format("the description has {}", fmt::join(faults, "; ")));
    return;
  }
  declared_.described = true;
  declared_.width = d.sensor_width();
  declared_.height = d.sensor_height();
  declared_.modes.clear();
  for (const int mode : d.modes()) declared_.modes.push_back(static_cast<v1::Mode>(mode));
  declared_.resets.clear();
  for (const int kind : d.resets()) declared_.resets.push_back(static_cast<v1::ResetKind>(kind));
  declared_.adc.assign(d.adc_channels().begin(), d.adc_channels().end());
  declared_.has_serial_port = d.has_serial_port();
  declared_.largest_design_bytes = d.largest_design_bytes();
  declared_.largest_batch_bytes = d.largest_batch_bytes();
  std::vector<std::string> modes, resets, channels;
  for (const auto mode : declared_.modes) modes.push_back(mode_name(mode));
  for (const auto kind : declared_.resets) resets.push_back(reset_name(kind));
  for (const auto& channel : declared_.adc)
    channels.push_back(channel.unit().empty() ? channel.name()
                                              : channel.name() + " (" + channel.unit() + ")");
  pass("describe",
       fmt::format("{} {}×{}; modes {}; resets {}; ADC {}; {}; designs up to {} bytes, batches "
                   "up to {} bytes",
                   d.sensor_name().empty() ? "a sensor" : d.sensor_name(), d.sensor_width(),
                   d.sensor_height(), fmt::join(modes, ", "), fmt::join(resets, ", "),
                   fmt::join(channels, ", "),
                   d.has_serial_port() ? "a serial port" : "no serial port",
                   d.largest_design_bytes(), d.largest_batch_bytes()));
}

void Checker::check_token() {
  if (o_.token.empty()) {
    skip("token", "no token given: calls without one are not checked");
    return;
  }
  const std::string expected = "The board refuses the call: wrong or missing token";
  for (const std::string& wrong : {std::string(), o_.token + "x"}) {
    auto c = call_context(wrong, "", o_.call_seconds);
    v1::Identity ignored;
    const Status status = board_->GetIdentity(c.get(), v1::GetIdentityRequest(), &ignored);
    const char* which = wrong.empty() ? "without a token" : "with a wrong token";
    if (status.error_code() != StatusCode::UNAUTHENTICATED || status.error_message() != expected) {
      fail("token", fmt::format("GetIdentity {} answered {}; UNAUTHENTICATED \"{}\" expected",
                                which, told(status), expected));
      return;
    }
  }
  pass("token", "calls without the token or with a wrong one are refused: UNAUTHENTICATED \"" +
                    expected + "\"");
}

bool Checker::check_claim() {
  const std::string me = "pravel-board-check on " + this_host();
  Status status = claim(*board_, me, session_);
  if (!status.ok() || session_.empty()) {
    fail("claim", status.ok() ? "Claim answered OK without a session"
                              : "Claim answered " + told(status) +
                                    ": the checks that change the board are not run");
    return false;
  }
  std::string again;
  status = claim(*board_, me, again);
  if (!status.ok() || again != session_)
    fail("claim", "claimed again by its holder, the board answered " + told(status) +
                      (status.ok() ? " with another session" : "") +
                      "; the holder's own session expected");
  else
    pass("claim", "the board gives a session, and the same again to its holder");

  // A second client, on a connection of its own.
  std::string theirs;
  status = claim(*other_, "a second client of pravel-board-check", theirs);
  // Its write of a register as it stands, without the holder's session.
  v1::Register any;
  for (const v1::Bank bank : kEveryBank) {
    std::vector<v1::Register> registers;
    if (any.name().empty() && list(bank, registers).ok() && !registers.empty()) any = registers[0];
  }
  const Status theirs_write = write(any.name(), any.value(), nullptr, other_.get(), false);
  if (status.ok()) {
    fail("claim.exclusive", "a second client's Claim was granted while the first held the board");
    release(*other_, theirs);
    claim(*board_, me, session_);
  } else if (status.error_code() != StatusCode::FAILED_PRECONDITION ||
             status.error_message().find("The board is in use by " + me) != 0) {
    fail("claim.exclusive",
         fmt::format("a second client's Claim answered {}; FAILED_PRECONDITION \"The board is in "
                     "use by {} at …\" expected",
                     told(status), me));
  } else if (theirs_write.error_code() != StatusCode::FAILED_PRECONDITION) {
    fail("claim.exclusive", "a write without the holder's session answered " + told(theirs_write) +
                                "; FAILED_PRECONDITION expected");
  } else {
    pass("claim.exclusive", "a second client is refused the claim and the writes: " + told(status));
  }
  return true;
}

void Checker::check_registers() {
  std::string why;
  if (!all_registers(registers_before_, why)) {
    fail("registers", why);
    return;
  }
  have_registers_ = true;
  std::vector<std::string> faults;
  std::size_t count = 0, read_only = 0;
  std::map<std::string, int> names;
  for (const v1::Bank bank : kEveryBank) {
    std::vector<v1::Register> registers;
    list(bank, registers);
    for (const auto& r : registers) {
      ++count;
      if (r.read_only()) ++read_only;
      if (++names[r.name()] == 2) faults.push_back(r.name() + " is listed twice");
      if (r.name().empty()) faults.push_back("a register has no name");
      if (r.min() > r.max())
        faults.push_back(
            fmt::format("{}'s range {}..{} is upside down", r.name(), r.min(), r.max()));
      else if (r.value() < r.min() || r.value() > r.max())
        faults.push_back(fmt::format("{} reads {}, outside its range {}..{}", r.name(), r.value(),
                                     r.min(), r.max()));
      else if (declared_.described && (r.default_value() < r.min() || r.default_value() > r.max()))
        faults.push_back(fmt::format("{}'s default {} is outside its range {}..{}", r.name(),
                                     r.default_value(), r.min(), r.max()));
    }
  }
  if (count == 0) faults.push_back("no register in any bank");
  if (!faults.empty())
    fail("registers", joined(faults));
  else
    pass("registers",
         fmt::format("{} registers in three banks, each inside its range, {} read-only", count,
                     read_only));

  // A writable register with room to move.
  const v1::Register* target = nullptr;
  for (const auto& [name, r] : registers_before_)
    if (!r.read_only() && r.max() > r.min() && (!target || r.name() < target->name())) target = &r;
  if (!target) {
    skip("write", "no writable register with more than one value");
  } else {
    const v1::Register r = *target;
    const std::int64_t value = r.value() < r.max() ? r.value() + 1 : r.value() - 1;
    v1::WriteRegisterReply reply;
    Status status = write(r.name(), value, &reply);
    std::map<std::string, v1::Register> after;
    all_registers(after, why);
    const std::int64_t reads = after.count(r.name()) ? after[r.name()].value() : r.value();
    if (!status.ok())
      fail("write", fmt::format("{} = {} answered {}", r.name(), value, told(status)));
    else if (reply.old_value() != r.value() || reply.new_value() != value)
      fail("write", fmt::format("{} = {}: the reply says {} → {}; {} → {} expected", r.name(),
                                value, reply.old_value(), reply.new_value(), r.value(), value));
    else if (reads != value)
      fail("write", fmt::format("{} = {} answered OK, but the register reads {} after it", r.name(),
                                value, reads));
    else
      pass("write",
           fmt::format("{} {} → {}: the reply and the list agree", r.name(), r.value(), value));
    // Out of range, both ends: refused and nothing written.
    std::vector<std::string> faults_out;
    std::string refusal;
    for (const bool high : {true, false}) {
      if (high ? r.max() == INT64_MAX : r.min() == INT64_MIN) continue;
      const std::int64_t outside = high ? r.max() + 1 : r.min() - 1;
      all_registers(after, why);
      const std::int64_t was = after.count(r.name()) ? after[r.name()].value() : value;
      status = write(r.name(), outside);
      all_registers(after, why);
      const std::int64_t now = after.count(r.name()) ? after[r.name()].value() : was;
      if (status.error_code() != StatusCode::OUT_OF_RANGE)
        faults_out.push_back(fmt::format("{} = {} answered {}; OUT_OF_RANGE expected", r.name(),
                                         outside, told(status)));
      else if (status.error_message().find(r.name()) == std::string::npos)
        faults_out.push_back(fmt::format("{} = {}: the refusal \"{}\" does not name the register",
                                         r.name(), outside, status.error_message()));
      else if (now != was)
        faults_out.push_back(
            fmt::format("{} = {} was refused but the register changed from {} to {}", r.name(),
                        outside, was, now));
      else
        refusal = told(status);
    }
    if (!faults_out.empty())
      fail("write.out-of-range", joined(faults_out));
    else
      pass("write.out-of-range", "refused below and above the range, nothing written: " + refusal);
    write(r.name(), r.value());
  }

  const std::string unknown = "PRAVEL_CHECK_NO_SUCH_REGISTER";
  Status status = write(unknown, 0);
  if (status.error_code() != StatusCode::NOT_FOUND ||
      status.error_message().find(unknown) == std::string::npos)
    fail("write.not-found",
         fmt::format("{} = 0 answered {}; NOT_FOUND naming the register expected", unknown,
                     told(status)));
  else
    pass("write.not-found", told(status));

  const v1::Register* fixed = nullptr;
  for (const auto& [name, r] : registers_before_)
    if (r.read_only()) fixed = &r;
  if (!fixed) {
    skip("write.read-only", "no register is read-only");
    return;
  }
  const std::int64_t value = fixed->value() < fixed->max() ? fixed->value() + 1 : fixed->min();
  status = write(fixed->name(), value);
  std::map<std::string, v1::Register> after;
  all_registers(after, why);
  const std::int64_t reads = after.count(fixed->name()) ? after[fixed->name()].value() : value;
  if (status.error_code() != StatusCode::FAILED_PRECONDITION)
    fail("write.read-only", fmt::format("{} (read-only) = {} answered {}; FAILED_PRECONDITION "
                                        "expected",
                                        fixed->name(), value, told(status)));
  else if (reads != fixed->value())
    fail("write.read-only", fmt::format("{} was refused but changed from {} to {}", fixed->name(),
                                        fixed->value(), reads));
  else
    pass("write.read-only", fixed->name() + ": " + told(status));
}

// Two registers written in one call, then the same call with the second out
// of range: all or none. A server without the call is skipped.
void Checker::check_batch_write() {
  std::vector<v1::Register> targets;
  for (const auto& [name, r] : registers_before_)
    if (!r.read_only() && r.max() > r.min() && r.max() < INT64_MAX && targets.size() < 2)
      targets.push_back(r);
  if (targets.size() < 2) {
    skip("write.batch", "fewer than two writable registers with more than one value");
    return;
  }
  const auto moved = [](const v1::Register& r) {
    return r.value() < r.max() ? r.value() + 1 : r.value() - 1;
  };
  const auto batch = [&](const std::vector<std::pair<std::string, std::int64_t>>& writes,
                         v1::WriteRegistersReply& reply) {
    v1::WriteRegistersRequest request;
    for (const auto& [name, value] : writes) {
      auto* w = request.add_writes();
      w->set_name(name);
      w->set_value(value);
    }
    return seen("WriteRegisters", board_->WriteRegisters(context().get(), request, &reply));
  };
  const v1::Register &a = targets[0], &b = targets[1];
  v1::WriteRegistersReply reply;
  Status status = batch({{a.name(), moved(a)}, {b.name(), moved(b)}}, reply);
  if (status.error_code() == StatusCode::UNIMPLEMENTED) {
    skip("write.batch", "the server has no WriteRegisters: clients write one register per call");
    return;
  }
  std::string why;
  std::map<std::string, v1::Register> after;
  all_registers(after, why);
  const auto reads = [&](const v1::Register& r) {
    return after.count(r.name()) ? after[r.name()].value() : r.value();
  };
  if (!status.ok())
    fail("write.batch", fmt::format("{} = {} and {} = {} answered {}", a.name(), moved(a), b.name(),
                                    moved(b), told(status)));
  else if (reply.written_size() != 2 || reply.written(0).old_value() != a.value() ||
           reply.written(0).new_value() != moved(a) || reply.written(1).old_value() != b.value() ||
           reply.written(1).new_value() != moved(b))
    fail("write.batch",
         fmt::format("{} = {} and {} = {}: the reply gives {} old and new values, not {} → {} "
                     "and {} → {} in that order",
                     a.name(), moved(a), b.name(), moved(b), reply.written_size(), a.value(),
                     moved(a), b.value(), moved(b)));
  else if (reads(a) != moved(a) || reads(b) != moved(b))
    fail("write.batch", fmt::format("answered OK, but {} reads {} and {} reads {} after it",
                                    a.name(), reads(a), b.name(), reads(b)));
  else
    pass("write.batch",
         fmt::format("{} and {} in one call: the reply and the list agree", a.name(), b.name()));
  // The first write good, the second beyond its range: neither is made.
  v1::WriteRegistersReply refused_reply;
  all_registers(after, why);
  const std::int64_t a_was = reads(a), b_was = reads(b);
  status = batch({{a.name(), a.value()}, {b.name(), b.max() + 1}}, refused_reply);
  all_registers(after, why);
  if (status.error_code() != StatusCode::OUT_OF_RANGE ||
      status.error_message().find(b.name()) == std::string::npos)
    fail("write.batch.all-or-none",
         fmt::format("{} = {} and {} = {} answered {}; OUT_OF_RANGE naming {} expected", a.name(),
                     a.value(), b.name(), b.max() + 1, told(status), b.name()));
  else if (reads(a) != a_was || reads(b) != b_was)
    fail("write.batch.all-or-none",
         fmt::format("refused, but {} changed from {} to {} and {} from {} to {}", a.name(), a_was,
                     reads(a), b.name(), b_was, reads(b)));
  else
    pass("write.batch.all-or-none",
         "a call with one write out of range wrote nothing: " + told(status));
  // Put back as they were written: in one call.
  v1::WriteRegistersReply put_back;
  if (!batch({{a.name(), a.value()}, {b.name(), b.value()}}, put_back).ok()) {
    write(a.name(), a.value());
    write(b.name(), b.value());
  }
}

void Checker::check_errors() {
  std::vector<std::string> faults;
  const auto expect_invalid = [&](const std::string& what, const Status& status) {
    if (status.error_code() != StatusCode::INVALID_ARGUMENT)
      faults.push_back(fmt::format("{} answered {}", what, told(status)));
  };
  std::vector<v1::Register> ignored;
  expect_invalid("ListRegisters without a bank", list(v1::BANK_UNSPECIFIED, ignored));
  expect_invalid("Reset without a kind", reset(v1::RESET_UNSPECIFIED));
  expect_invalid("SetMode without a mode", set_mode(v1::MODE_UNSPECIFIED));
  if (!faults.empty())
    fail("errors", fmt::format("{}; INVALID_ARGUMENT expected", fmt::join(faults, "; ")));
  else
    pass("errors", "a call that names no bank, reset or mode is refused with INVALID_ARGUMENT");
}

void Checker::check_programming() {
  // Too large: the header alone says so.
  const std::uint64_t too_large = declared_.largest_design_bytes + 1;
  Programmed run = program("pravel_board_check_too_large.bit", too_large, "");
  if (run.status.error_code() != StatusCode::INVALID_ARGUMENT)
    fail("program.too-large",
         fmt::format("a design of {} bytes (the board holds {}) answered {}; INVALID_ARGUMENT "
                     "expected",
                     too_large, declared_.largest_design_bytes, told(run.status)));
  else
    pass("program.too-large", told(run.status));

  // Short: the stream ends before the announced size.
  run = program("pravel_board_check_short.bit", 1000, std::string(500, '\x5a'));
  if (run.status.error_code() != StatusCode::INVALID_ARGUMENT)
    fail("program.short", "500 of 1000 announced bytes answered " + told(run.status) +
                              "; INVALID_ARGUMENT expected");
  else
    pass("program.short", told(run.status));

  // Cancelled part way: the board then holds no design.
  const std::size_t cancel_bytes =
      static_cast<std::size_t>(std::min<std::uint64_t>(declared_.largest_design_bytes, 4u << 20));
  const std::string long_design =
      make_bitstream("pravel_board_check_cancelled",
                     std::string(cancel_bytes > 4096 ? cancel_bytes - 4096 : cancel_bytes, '\x5a'));
  run =
      program("pravel_board_check_cancelled.bit", long_design.size(), long_design, true, 64 * 1024);
  std::string design;
  if (!run.cancelled) {
    if (run.status.ok())
      skip("program.cancel",
           "the board wrote the whole design before any progress message "
           "could be answered with a cancel");
    else
      fail("program.cancel",
           "programming ended with " + told(run.status) + " before it could be cancelled");
  } else if (!design_becomes("", design)) {
    fail("program.cancel",
         fmt::format("cancelled after {} of {} bytes, the board still holds the design \"{}\"",
                     run.progress.back().bytes_done(), long_design.size(), design));
  } else {
    pass("program.cancel", fmt::format("cancelled after {} of {} bytes; the board holds no design",
                                       run.progress.back().bytes_done(), long_design.size()));
    const Status status = start();
    if (status.error_code() != StatusCode::FAILED_PRECONDITION) {
      fail("acquisition.no-design", "StartAcquisition without a design answered " + told(status) +
                                        "; FAILED_PRECONDITION expected");
      if (status.ok()) stop();
    } else {
      pass("acquisition.no-design", told(status));
    }
  }

  // The design, with its progress.
  // The file's name is not its design's: the board names the design from the header.
  std::string bytes, name = "check_upload.bit";
  if (!o_.bitstream.empty()) {
    bytes = read_bitstream_file(o_.bitstream);
    name = o_.bitstream.substr(o_.bitstream.find_last_of('/') + 1);
  } else {
    bytes = make_bitstream("pravel_board_check", std::string(256 * 1024, '\x3c'));
  }
  // A cancelled run may still be ending on the board: a busy board (ABORTED
  // before any progress) is asked again until the deadline.
  const auto end =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(o_.stream_seconds);
  for (;;) {
    run = program(name, bytes.size(), bytes);
    if (run.status.error_code() != StatusCode::ABORTED || !run.progress.empty() ||
        std::chrono::steady_clock::now() > end)
      break;
    std::this_thread::sleep_for(50ms);
  }
  std::vector<std::string> faults;
  if (!run.status.ok()) faults.push_back("programming answered " + told(run.status));
  std::size_t before_done = 0;
  for (std::size_t i = 0; i < run.progress.size(); ++i) {
    const auto& p = run.progress[i];
    if (p.bytes_total() != bytes.size())
      faults.push_back(fmt::format("a progress message says {} bytes in all, not {}",
                                   p.bytes_total(), bytes.size()));
    if (i > 0 && p.bytes_done() < run.progress[i - 1].bytes_done())
      faults.push_back(fmt::format("the progress went back from {} to {} bytes",
                                   run.progress[i - 1].bytes_done(), p.bytes_done()));
    if (p.done() && i + 1 != run.progress.size())
      faults.push_back("a message came after the one with done set");
    if (!p.done()) ++before_done;
  }
  const bool done = !run.progress.empty() && run.progress.back().done();
  if (run.status.ok() && !done) faults.push_back("no message with done set came");
  if (done && run.progress.back().bytes_done() != bytes.size())
    faults.push_back(
        fmt::format("done at {} of {} bytes", run.progress.back().bytes_done(), bytes.size()));
  if (run.status.ok() && before_done == 0) faults.push_back("no progress came before done");
  if (faults.empty()) {
    v1::Identity id;
    identity(id);
    if (run.progress.back().design().empty())
      faults.push_back("the progress names no design");
    else if (id.design() != run.progress.back().design())
      faults.push_back(fmt::format("the identity says the design \"{}\", the progress said \"{}\"",
                                   id.design(), run.progress.back().design()));
    std::optional<BitstreamHeader> header;
    try {
      header = parse_bitstream_header(bytes);
    } catch (const std::invalid_argument&) {
      // A damaged header of the user's own file: the board says what it makes of it.
    }
    if (header && !header->design.empty() && run.progress.back().design() != header->design)
      faults.push_back(
          fmt::format("the board holds \"{}\", not the design the bitstream's "
                      "header names (\"{}\")",
                      run.progress.back().design(), header->design));
  }
  if (!faults.empty())
    fail("program", joined(faults));
  else
    pass("program", fmt::format("{} bytes of {} in {} progress message{}, then done; the board "
                                "holds \"{}\"",
                                bytes.size(), name, before_done, before_done == 1 ? "" : "s",
                                run.progress.back().design()));
}

std::string describe_faults(const std::vector<std::string>& faults, std::size_t batches) {
  return fmt::format("{} (of {} batches read)", fmt::join(faults, "; "), batches);
}

void Checker::check_stream() {
  v1::BoardState now;
  if (state(now).ok()) {
    have_mode_ = true;
    mode_before_ = now.mode();
  }
  if (declared_.has(v1::MODE_EVENT_STREAM) &&
      (!have_mode_ || mode_before_ != v1::MODE_EVENT_STREAM))
    set_mode(v1::MODE_EVENT_STREAM);

  auto c = context(false, o_.stream_seconds);
  auto reader = board_->StreamEvents(c.get(), v1::StreamEventsRequest());
  const Status started = start();
  if (!started.ok()) {
    c->TryCancel();
    reader->Finish();
    fail("stream.batches", "StartAcquisition answered " + told(started));
    skip("stream.clock", "no stream");
    return;
  }
  acquiring_ = true;
  constexpr std::size_t kBatches = 20;
  std::size_t batches = 0;
  std::uint64_t events = 0;
  std::vector<std::string> faults, clock_faults;
  std::int64_t last_time = INT64_MIN;
  v1::EventBatch batch;
  while (batches < kBatches && reader->Read(&batch)) {
    ++batches;
    events += batch.events();
    const std::string fault =
        batch_fault(batch.evt2_words(), batch.events(), batch.board_time_us(), declared_.width,
                    declared_.height, declared_.largest_batch_bytes);
    if (!fault.empty() && faults.size() < 3)
      faults.push_back(fmt::format("batch {}: {}", batches, fault));
    if (batch.board_time_us() < last_time && clock_faults.size() < 3)
      clock_faults.push_back(fmt::format("batch {} is at {} µs, after a batch at {} µs", batches,
                                         batch.board_time_us(), last_time));
    last_time = std::max(last_time, batch.board_time_us());
  }
  c->TryCancel();
  const Status ended = reader->Finish();
  if (batches < kBatches)
    faults.push_back(
        fmt::format("the stream gave {} batches and ended with {}", batches, told(ended)));
  if (!faults.empty())
    fail("stream.batches", describe_faults(faults, batches));
  else
    pass("stream.batches",
         fmt::format(
             "{} batches, {} events, each batch whole 32-bit words starting with a time-high "
             "word, its events counted right and inside {}×{}",
             batches, events, declared_.width, declared_.height));
  if (batches < 2)
    skip("stream.clock", "fewer than two batches came");
  else if (!clock_faults.empty())
    fail("stream.clock",
         "the board's clock went back: " + fmt::format("{}", fmt::join(clock_faults, "; ")));
  else
    pass("stream.clock",
         fmt::format("the board's clock never went back over {} batches, up to {} µs", batches,
                     last_time));
  const Status stopped = stop();
  v1::BoardState after;
  if (!stopped.ok()) {
    fail("stream.stop", "StopAcquisition answered " + told(stopped));
  } else if (state(after).ok() && after.acquiring()) {
    fail("stream.stop", "StopAcquisition answered OK, but the board's watch says it acquires");
  } else {
    acquiring_ = false;
    pass("stream.stop", "the stream stops, and the board's watch says so");
  }
}

void Checker::check_adc() {
  v1::AdcReadingReply reply;
  const Status status =
      seen("ReadAdc", board_->ReadAdc(context(false).get(), v1::ReadAdcRequest(), &reply));
  if (!status.ok()) {
    fail("adc", "ReadAdc answered " + told(status));
    return;
  }
  std::vector<std::string> faults, read;
  if (static_cast<std::size_t>(reply.channels_size()) != declared_.adc.size())
    faults.push_back(
        fmt::format("{} channels came, {} declared", reply.channels_size(), declared_.adc.size()));
  for (int i = 0; i < reply.channels_size(); ++i) {
    const auto& channel = reply.channels(i);
    if (static_cast<std::size_t>(i) < declared_.adc.size() &&
        (channel.name() != declared_.adc[i].name() || channel.unit() != declared_.adc[i].unit()))
      faults.push_back(fmt::format("channel {} is {} in \"{}\", declared {} in \"{}\"", i + 1,
                                   channel.name(), channel.unit(), declared_.adc[i].name(),
                                   declared_.adc[i].unit()));
    if (!std::isfinite(channel.value()))
      faults.push_back(fmt::format("{} reads {}", channel.name(), channel.value()));
    read.push_back(fmt::format("{} {:.3g} {}", channel.name(), channel.value(), channel.unit()));
  }
  if (!faults.empty())
    fail("adc", joined(faults));
  else
    pass("adc", fmt::format("the channels as declared, in order: {}", fmt::join(read, ", ")));
}

// A refusal of something the board does not have: the board saying no, not
// a board, server or token gone missing, nor a server that broke (UNKNOWN,
// INTERNAL).
bool refused_as_absent(const Status& status) {
  switch (status.error_code()) {
    case StatusCode::OK:
    case StatusCode::UNAVAILABLE:
    case StatusCode::DEADLINE_EXCEEDED:
    case StatusCode::UNAUTHENTICATED:
    case StatusCode::UNKNOWN:
    case StatusCode::INTERNAL:
      return false;
    default:
      return true;
  }
}

void Checker::check_serial() {
  v1::SerialRequest request;
  request.set_line("ID?");
  v1::SerialReply reply;
  const Status status =
      seen("SerialTransact", board_->SerialTransact(context().get(), request, &reply));
  if (declared_.has_serial_port) {
    if (!status.ok())
      fail("serial", "\"ID?\" answered " + told(status));
    else if (reply.answer().empty())
      fail("serial", "\"ID?\" was answered with nothing");
    else
      pass("serial", "\"ID?\" answered \"" + reply.answer() + "\"");
  } else if (!refused_as_absent(status)) {
    fail("serial", "the board declares no serial port, but \"ID?\" was answered " +
                       (status.ok() ? "\"" + reply.answer() + "\"" : told(status)));
  } else {
    pass("serial", "no serial port declared, and a line to it is refused: " + told(status));
  }
}

void Checker::check_resets() {
  std::vector<std::string> faults, done, refused;
  for (const v1::ResetKind kind : kEveryReset) {
    const Status status = reset(kind);
    if (declared_.has(kind)) {
      if (!status.ok())
        faults.push_back(fmt::format("the {} reset answered {}", reset_name(kind), told(status)));
      else
        done.push_back(reset_name(kind));
    } else if (!refused_as_absent(status)) {
      faults.push_back(
          fmt::format("the {} reset, not declared, answered {}", reset_name(kind), told(status)));
    } else {
      refused.push_back(reset_name(kind) + " " + told(status));
    }
  }
  if (!faults.empty())
    fail("resets", joined(faults));
  else
    pass("resets", fmt::format("{} done{}", fmt::join(done, ", "),
                               refused.empty() ? std::string()
                                               : fmt::format("; undeclared refused: {}",
                                                             fmt::join(refused, ", "))));
}

void Checker::check_modes() {
  std::vector<std::string> faults, done, refused;
  for (const v1::Mode mode : kEveryMode) {
    v1::BoardState before;
    const bool known = state(before).ok();
    const Status status = set_mode(mode);
    v1::BoardState after;
    const bool told_after = state(after).ok();
    if (declared_.has(mode)) {
      if (!status.ok())
        faults.push_back(fmt::format("{} answered {}", mode_name(mode), told(status)));
      else if (told_after && after.mode() != mode)
        faults.push_back(fmt::format("{} answered OK, but the watch says {}", mode_name(mode),
                                     mode_name(after.mode())));
      else
        done.push_back(mode_name(mode));
    } else if (!refused_as_absent(status)) {
      faults.push_back(fmt::format("{}, not declared, answered {}", mode_name(mode), told(status)));
    } else if (known && told_after && after.mode() != before.mode()) {
      faults.push_back(fmt::format("{}, not declared, was refused but the mode changed to {}",
                                   mode_name(mode), mode_name(after.mode())));
    } else {
      refused.push_back(mode_name(mode) + " " + told(status));
    }
  }
  if (!faults.empty())
    fail("modes", joined(faults));
  else
    pass("modes", fmt::format("{} set, as the watch says{}", fmt::join(done, ", "),
                              refused.empty() ? std::string()
                                              : fmt::format("; undeclared refused: {}",
                                                            fmt::join(refused, ", "))));
}

void Checker::check_unplug() {
  v1::SetConnectedRequest request;
  request.set_connected(false);
  v1::SimulatorReply reply;
  Status status = simulator_->SetConnected(context(false).get(), request, &reply);
  if (status.error_code() == StatusCode::UNIMPLEMENTED) {
    skip("unplug", "no simulator service: a real board is unplugged by hand");
    return;
  }
  if (!status.ok()) {
    fail("unplug", "SetConnected(false) answered " + told(status));
    return;
  }
  std::vector<std::string> faults;
  v1::Identity id;
  const Status unplugged = identity(id);
  if (unplugged.error_code() != StatusCode::UNAVAILABLE ||
      unplugged.error_message().rfind("No board is connected: ", 0) != 0)
    faults.push_back("GetIdentity answered " + told(unplugged));
  v1::AdcReadingReply adc;
  const Status read_adc =
      seen("ReadAdc", board_->ReadAdc(context(false).get(), v1::ReadAdcRequest(), &adc));
  if (read_adc.error_code() != StatusCode::UNAVAILABLE)
    faults.push_back("ReadAdc answered " + told(read_adc));
  request.set_connected(true);
  status = simulator_->SetConnected(context(false).get(), request, &reply);
  const Status back = identity(id);
  if (!status.ok()) faults.push_back("SetConnected(true) answered " + told(status));
  if (!back.ok()) faults.push_back("plugged back, GetIdentity answered " + told(back));
  if (!faults.empty())
    fail("unplug", fmt::format("unplugged through the simulator, {}; UNAVAILABLE \"No board is "
                               "connected: …\" while unplugged expected",
                               fmt::join(faults, "; ")));
  else
    pass("unplug", "unplugged, calls are refused with " + told(unplugged) +
                       "; plugged back, the board answers");
}

void Checker::put_back() {
  std::vector<std::string> faults, put;
  if (acquiring_) stop();
  if (have_registers_) {
    std::map<std::string, v1::Register> now;
    std::string why;
    if (!all_registers(now, why)) {
      faults.push_back(why);
    } else {
      for (const auto& [name, before] : registers_before_) {
        const auto found = now.find(name);
        if (found == now.end() || found->second.value() == before.value()) continue;
        const Status status = write(name, before.value());
        if (status.ok())
          put.push_back(fmt::format("{} {}", name, before.value()));
        else
          faults.push_back(fmt::format("{} could not be put back to {}: {}", name, before.value(),
                                       told(status)));
      }
      if (all_registers(now, why))
        for (const auto& [name, before] : registers_before_)
          if (now.count(name) && now[name].value() != before.value())
            faults.push_back(fmt::format("{} reads {}, {} before the checks", name,
                                         now[name].value(), before.value()));
    }
  }
  v1::BoardState state_now;
  if (have_mode_ && state(state_now).ok() && state_now.mode() != mode_before_) {
    const Status status = set_mode(mode_before_);
    if (!status.ok())
      faults.push_back("the mode could not be put back to " + mode_name(mode_before_) + ": " +
                       told(status));
    else
      put.push_back("the mode " + mode_name(mode_before_));
  }
  if (!faults.empty())
    fail("restore", joined(faults));
  else
    pass("restore", fmt::format("every register reads as before the checks{}{}",
                                put.empty() ? "" : "; put back: ", fmt::join(put, ", ")));
}

void Checker::check_release() {
  const std::string old = session_;
  Status status = release(*board_, session_);
  std::vector<std::string> faults;
  if (!status.ok()) faults.push_back("Release answered " + told(status));
  const Status stale = release(*board_, old);
  if (stale.error_code() != StatusCode::FAILED_PRECONDITION)
    faults.push_back("a second Release with the same session answered " + told(stale) +
                     "; FAILED_PRECONDITION expected");
  std::string theirs;
  status = claim(*other_, "a second client of pravel-board-check", theirs);
  if (!status.ok())
    faults.push_back("once released, another client's Claim answered " + told(status));
  else
    release(*other_, theirs);
  session_.clear();
  if (!faults.empty())
    fail("release", joined(faults));
  else
    pass("release", "released, the board goes to the next client; a stale session is refused");
}

void Checker::check_lease() {
  if (!o_.lease) {
    skip("lease", "not waited for (--quick)");
    return;
  }
  std::string theirs, mine;
  Status status = claim(*other_, "a second client of pravel-board-check", theirs);
  if (!status.ok()) {
    fail("lease", "Claim answered " + told(status));
    return;
  }
  std::this_thread::sleep_for(10500ms);  // the holder says nothing for longer than its lease
  status = claim(*board_, "pravel-board-check on " + this_host(), mine);
  if (!status.ok()) {
    fail("lease", "10.5 s after its holder's last call the board was still held: Claim answered " +
                      told(status));
    release(*other_, theirs);
    return;
  }
  release(*board_, mine);
  pass("lease", "a holder silent for 10 s loses the board to the next client");
}

std::vector<CheckResult> Checker::run() {
  if (!check_identity()) return results_;
  check("describe", [&] { check_describe(); });
  check("token", [&] { check_token(); });
  bool held = false;
  check("claim", [&] { held = check_claim(); });
  if (held) {
    check("registers", [&] { check_registers(); });
    check("write.batch", [&] { check_batch_write(); });
    check("errors", [&] { check_errors(); });
    check("program", [&] { check_programming(); });
    check("stream.batches", [&] { check_stream(); });
    check("adc", [&] { check_adc(); });
    check("serial", [&] { check_serial(); });
    check("resets", [&] { check_resets(); });
    check("modes", [&] { check_modes(); });
    check("unplug", [&] { check_unplug(); });
    check("restore", [&] { put_back(); });
    check("release", [&] { check_release(); });
    check("lease", [&] { check_lease(); });
  }
  if (!bad_messages_.empty())
    fail("messages",
         fmt::format("a refusal must say why in one line: {}", fmt::join(bad_messages_, "; ")));
  else
    pass("messages", "every refusal said why in one line");
  return results_;
}

}  // namespace

std::string result_line(const CheckResult& result) {
  const char* word = result.outcome == Outcome::Pass   ? "PASS"
                     : result.outcome == Outcome::Fail ? "FAIL"
                                                       : "SKIP";
  return fmt::format("{}  {}: {}", word, result.name, result.why);
}

std::string batch_fault(const std::string& bytes, std::uint32_t events, std::int64_t board_time_us,
                        std::uint32_t width, std::uint32_t height,
                        std::uint64_t largest_batch_bytes) {
  if (bytes.empty()) return "no words";
  if (bytes.size() % 4 != 0)
    return fmt::format("{} bytes, not a whole number of 32-bit words", bytes.size());
  if (largest_batch_bytes > 0 && bytes.size() > largest_batch_bytes)
    return fmt::format("{} bytes, longer than the board's largest batch of {}", bytes.size(),
                       largest_batch_bytes);
  std::vector<std::uint32_t> words(bytes.size() / 4);
  std::memcpy(words.data(), bytes.data(), bytes.size());
  // Words are little-endian on the wire, as on this computer.
  if (words[0] >> 28 != 0x8)
    return fmt::format("it starts with a word of type {:#x}, not a time-high word", words[0] >> 28);
  std::uint64_t counted = 0;
  std::uint32_t high = 0;
  std::int64_t latest = -1;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::uint32_t w = words[i], type = w >> 28;
    if (type == 0x8) {
      const std::uint32_t next = w & 0x0fffffff;
      if (i > 0 && next < high)
        return fmt::format("word {}: the time high goes back from {} to {}", i, high, next);
      high = next;
    } else if (type == 0x0 || type == 0x1) {
      ++counted;
      const std::uint32_t x = (w >> 11) & 0x7ff, y = w & 0x7ff;
      if (x >= width || y >= height)
        return fmt::format("word {}: an event at ({}, {}), outside the sensor's {}×{}", i, x, y,
                           width, height);
      latest =
          std::max<std::int64_t>(latest, static_cast<std::int64_t>(high) << 6 | (w >> 22 & 0x3f));
    } else if (type != 0xA && type != 0xE && type != 0xF) {
      return fmt::format("word {}: type {:#x}, which EVT 2.0 does not have", i, type);
    }
  }
  if (counted != events) return fmt::format("`events` says {}, the words hold {}", events, counted);
  constexpr std::int64_t kWrap = std::int64_t{1} << 34;
  if (board_time_us >= 0 && board_time_us < kWrap && latest > board_time_us)
    return fmt::format("an event at {} µs, after the batch's board time {} µs", latest,
                       board_time_us);
  return "";
}

std::vector<CheckResult> check_board(const CheckOptions& options,
                                     const std::function<void(const CheckResult&)>& report) {
  return Checker(options, report).run();
}

}  // namespace Zelvar_Core::bench::remote
