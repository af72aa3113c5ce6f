#include "bench/remote/remote_board.h"

#include <algorithm>
#include <cstring>

#include "Zelvar_Core/Host/logging.h"
#include "bench/events/evt2.h"
#include "bench/remote/board_description.h"
#include "bench/remote/remote_link.h"

namespace Zelvar_Core::bench::remote {

using namespace std::chrono_literals;

namespace {

bool unplugged(const grpc::Status& status) {
  return status.error_message().rfind("No board is connected", 0) == 0;
}

bool same_registers(const std::vector<Register>& a, const std::vector<Register>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.name == y.name && x.min == y.min && x.max == y.max && x.unit == y.unit &&
           x.description == y.description && x.read_only == y.read_only &&
           x.default_value == y.default_value;
  });
}

// The same board: everything it declares alike (its registers' values aside).
bool same_board(const BoardDeclaration& a, const BoardDeclaration& b) {
  auto same_channels = [](const auto& x, const auto& y) {
    return x.name == y.name && x.unit == y.unit && x.normal_min == y.normal_min &&
           x.normal_max == y.normal_max;
  };
  return a.sensor_name == b.sensor_name && a.geometry == b.geometry && a.modes == b.modes &&
         a.resets == b.resets &&
         std::equal(a.adc_channels.begin(), a.adc_channels.end(), b.adc_channels.begin(),
                    b.adc_channels.end(), same_channels) &&
         a.has_serial_port == b.has_serial_port &&
         a.largest_design_bytes == b.largest_design_bytes && a.event_formats == b.event_formats &&
         a.largest_batch_bytes == b.largest_batch_bytes &&
         same_registers(a.device_registers, b.device_registers) &&
         same_registers(a.dac_registers, b.dac_registers) &&
         same_registers(a.chip_registers, b.chip_registers);
}

std::vector<Register> registers_in(const v1::ListRegistersReply& reply) {
  std::vector<Register> list;
  list.reserve(static_cast<std::size_t>(reply.registers_size()));
  for (const auto& r : reply.registers()) list.push_back(register_of(r));
  return list;
}

}  // namespace

RemoteBoard::RemoteBoard(std::string address, std::string token, std::string client)
    : address_(std::move(address)), token_(std::move(token)), client_(std::move(client)) {
  declarations_.push_back(
      std::make_unique<const BoardDeclaration>(declaration_of(SimulatedSensor::Aer640)));
  declaration_ = declarations_.back().get();
  link_ = connect();
  link_->stream = std::thread([this, link = link_] { read_events(link); });
  is_connected = connected();
  info = device_info_of(*this);
  link_thread_ = std::thread([this] { keep_linked(); });
  command_thread_ = std::thread([this] { run_commands(); });
}

RemoteBoard::~RemoteBoard() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  command_thread_.join();  // what was asked before the end is still sent
  if (auto link = current_link()) {
    v1::ReleaseReply released;
    link->stub->Release(context(*link, 1).get(), v1::ReleaseRequest(), &released);
    link->end();
  }
  link_thread_.join();
}

std::unique_ptr<grpc::ClientContext> RemoteBoard::context(const Link& link, double seconds) const {
  return call_context(token_, link.session, seconds);
}

std::shared_ptr<RemoteBoard::Link> RemoteBoard::current_link() const {
  std::lock_guard lock(mutex_);
  return link_;
}

// ---- the link ------------------------------------------------------------------

std::shared_ptr<RemoteBoard::Link> RemoteBoard::connect() {
  auto link = std::make_shared<Link>();
  link->channel = board_channel(address_);
  link->stub = v1::Board::NewStub(link->channel);
  v1::Identity identity;
  grpc::Status status =
      link->stub->GetIdentity(context(*link, 3).get(), v1::GetIdentityRequest(), &identity);
  if (no_server_answers(status)) throw std::runtime_error("No board server answers at " + address_);
  if (!status.ok() && !unplugged(status))
    throw std::runtime_error("The board at " + address_ + ": " + status.error_message());
  // What the board is, before anything is taken from it.
  std::optional<v1::BoardDescription> description(std::in_place);
  status =
      link->stub->DescribeBoard(context(*link, 3).get(), v1::DescribeBoardRequest(), &*description);
  if (status.error_code() == grpc::StatusCode::UNIMPLEMENTED) {
    description.reset();
  } else if (no_server_answers(status)) {
    throw std::runtime_error("No board server answers at " + address_);
  } else if (!status.ok()) {
    throw std::runtime_error("The board at " + address_ + ": " + status.error_message());
  }
  auto wrongly = [this](const std::exception& e) {
    return std::runtime_error("The board at " + address_ +
                              " describes itself wrongly: " + e.what());
  };
  BoardDeclaration declared;
  try {
    declared = declaration_from(identity, description);
  } catch (const std::invalid_argument& e) {
    throw wrongly(e);
  }
  if (!description && !told_undescribed_.exchange(true))
    get_logger("pravel")->warn(
        "The board at {} does not describe itself: taken for an AER-640 board, {}\u00d7{}, four "
        "ADC channels",
        address_, declared.geometry.width, declared.geometry.height);
  v1::ClaimRequest claim;
  claim.set_client(client_);
  v1::ClaimReply claimed;
  status = link->stub->Claim(context(*link, 3).get(), claim, &claimed);
  if (!status.ok())
    throw std::runtime_error("The board at " + address_ + ": " + status.error_message());
  link->session = claimed.session();
  // The watch lasts as long as the link: no deadline, the token and session on it.
  if (!token_.empty()) link->watch.AddMetadata("authorization", "Bearer " + token_);
  link->watch.AddMetadata("zelvar-session", link->session);
  // The registers and the ADC as they stand; a board that is unplugged is read when it is back.
  std::vector<std::string> names;
  bool listed = true;
  for (Bank bank : {Bank::Device, Bank::Dac, Bank::Chip}) {
    v1::ListRegistersRequest request;
    request.set_bank(wire_bank(bank));
    v1::ListRegistersReply reply;
    if (!link->stub->ListRegisters(context(*link, 3).get(), request, &reply).ok()) {
      listed = false;
      break;
    }
    declared.bank(bank) = registers_in(reply);
    try {
      check_registers(declared.bank(bank), names);
    } catch (const std::invalid_argument& e) {
      // Nothing of a board that lies is used: it is let go at once.
      v1::ReleaseReply released;
      link->stub->Release(context(*link, 1).get(), v1::ReleaseRequest(), &released);
      throw wrongly(e);
    }
  }
  if (listed)
    for (Bank bank : {Bank::Device, Bank::Dac, Bank::Chip})
      registers_.replace(bank, declared.bank(bank));
  const std::vector<AdcChannelDeclaration> channels = declared.adc_channels;
  adopt(std::move(declared));
  v1::AdcReadingReply adc;
  const bool adc_read =
      link->stub->ReadAdc(context(*link, 3).get(), v1::ReadAdcRequest(), &adc).ok();
  {
    std::lock_guard lock(mutex_);
    if (!identity.vendor().empty())
      identity_ = {identity.vendor(), identity.product(), identity.serial_number(),
                   identity.version()};
    design_ = identity.design();
    if (adc_read) last_adc_ = adc_values(adc, channels);
  }
  // The state now: read once here, then watched by the link thread.
  auto call = context(*link, 3);
  auto watch = link->stub->WatchBoard(call.get(), v1::WatchBoardRequest());
  v1::BoardState state;
  if (watch->Read(&state)) {
    std::lock_guard lock(mutex_);
    plugged_ = state.plugged();
    design_ = state.design();
    acquiring_ = state.acquiring();
    stream_confirmed_ = acquiring_;
    try {
      mode_ = mode_of(state.mode());
    } catch (const std::invalid_argument&) {
    }
  }
  call->TryCancel();
  watch->Finish();
  ++links_made_;
  return link;
}

void RemoteBoard::keep_linked() {
  auto pause = 100ms;
  std::string last_refusal;
  for (;;) {
    if (auto link = current_link()) {
      watch(*link);
      link_lost();
      pause = 100ms;
    }
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, pause, [this] { return stopping_; })) return;
    lock.unlock();
    try {
      auto link = connect();
      {
        std::lock_guard relock(mutex_);
        if (stopping_) return;
        link_ = link;
        link->stream = std::thread([this, link] { read_events(link); });
      }
      last_refusal.clear();
      // "Board connected" once the board itself is there (else when the watch says so).
      if (connected() && connection_listener) connection_listener();
      if (stream_listener) stream_listener();
    } catch (const std::exception& e) {
      // A server that is back but refuses (a token, another holder) is told once.
      if (e.what() != last_refusal && std::strncmp(e.what(), "No board server", 15) != 0 &&
          failure_listener)
        failure_listener(e.what());
      last_refusal = e.what();
      pause = std::min<std::chrono::milliseconds>(pause * 2, 1000ms);
    }
  }
}

void RemoteBoard::watch(Link& link) {
  auto reader = link.stub->WatchBoard(&link.watch, v1::WatchBoardRequest());
  v1::BoardState state;
  while (reader->Read(&state)) apply_state(state);
  reader->Finish();
}

void RemoteBoard::apply_state(const v1::BoardState& state) {
  bool plugged_changed, stream_changed;
  {
    std::lock_guard lock(mutex_);
    plugged_changed = plugged_ != state.plugged();
    plugged_ = state.plugged();
    stream_changed = false;
    if (awaited_design_.admits(state.design())) {
      stream_changed = design_ != state.design();
      design_ = state.design();
    }
    if (awaited_acquiring_.admits(state.acquiring())) {
      stream_changed = stream_changed || acquiring_ != state.acquiring() ||
                       stream_confirmed_ != state.acquiring();
      acquiring_ = state.acquiring();
      stream_confirmed_ = acquiring_;
    }
    try {
      const SensorMode mode = mode_of(state.mode());
      if (awaited_mode_.admits(mode)) mode_ = mode;
    } catch (const std::invalid_argument&) {
      // a mode this bench does not know: the last known one stays
    }
  }
  if (plugged_changed && state.plugged()) {
    // Back from an unplug: its registers and identity as they are now.
    try {
      for (Bank bank : {Bank::Device, Bank::Dac, Bank::Chip}) read_bank_from_board(bank);
    } catch (const std::exception&) {
    }
  }
  if (stream_changed && stream_listener) stream_listener();
  if (plugged_changed && connection_listener) connection_listener();
}

void RemoteBoard::link_lost() {
  std::shared_ptr<Link> link;
  bool was_connected, was_acquiring;
  {
    std::lock_guard lock(mutex_);
    link = std::move(link_);
    link_ = nullptr;
    was_connected = plugged_;
    was_acquiring = acquiring_;
    plugged_ = false;
    acquiring_ = false;
    stream_confirmed_ = false;
    design_.clear();  // as an unplugged board: no design until it tells its own
    awaited_design_ = {};
    awaited_acquiring_ = {};
    awaited_mode_ = {};
  }
  if (!link) return;
  link->end();
  if (link->stream.joinable()) link->stream.join();
  // As an unplugged board: the stream stops first, then the board goes.
  if (was_acquiring && stream_listener) stream_listener();
  if (was_connected && connection_listener) connection_listener();
}

void RemoteBoard::read_events(std::shared_ptr<Link> link) {
  v1::EventBatch batch;
  std::vector<std::uint32_t> words;
  std::vector<Event> events;
  for (;;) {
    grpc::ClientContext call;
    if (!token_.empty()) call.AddMetadata("authorization", "Bearer " + token_);
    {
      std::lock_guard lock(link->mutex);
      if (link->lost) return;
      link->events = &call;
    }
    auto reader = link->stub->StreamEvents(&call, v1::StreamEventsRequest());
    evt2::Decoder decoder;  // each call's batches start with their own time-high word
    while (reader->Read(&batch)) {
      words.resize(batch.evt2_words().size() / sizeof(std::uint32_t));
      std::memcpy(words.data(), batch.evt2_words().data(), words.size() * sizeof(std::uint32_t));
      events.clear();
      decoder.decode(words.data(), words.size(), events);
      lost_ = batch.lost_by_board();
      hub_.publish(events.data(), events.size());
    }
    const grpc::Status status = reader->Finish();
    std::unique_lock lock(link->mutex);
    link->events = nullptr;
    if (link->lost) return;
    lock.unlock();
    // The board's stream broke off (the board says why); an unplugged board's
    // stream opens again once it is back.
    if (status.error_message().rfind("The event stream", 0) == 0 && stream_failure)
      stream_failure(status.error_message());
    lock.lock();
    if (link->wake.wait_for(lock, 100ms, [&] { return link->lost; })) return;
  }
}

// ---- what the host asks -------------------------------------------------------------

std::string RemoteBoard::failure_of(const grpc::Status& status,
                                    const std::string& consequence) const {
  try {
    throw_unless_ok(status, address_, consequence);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::string RemoteBoard::absence(const std::string& consequence) const {
  std::lock_guard lock(mutex_);
  if (!link_) return "the board server at " + address_ + " stopped answering";
  return NoBoard(consequence).what();
}

bool RemoteBoard::connected() const {
  std::lock_guard lock(mutex_);
  return link_ && plugged_;
}

DeviceInfo RemoteBoard::read_identity() const {
  std::lock_guard lock(mutex_);
  if (!link_ || !plugged_) throw NoBoard("identity not read");
  return identity_;
}

std::string RemoteBoard::design() const {
  std::lock_guard lock(mutex_);
  return design_;
}

SensorMode RemoteBoard::mode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

bool RemoteBoard::stream_confirmed() const {
  std::lock_guard lock(mutex_);
  return stream_confirmed_;
}

bool RemoteBoard::acquiring() const {
  std::lock_guard lock(mutex_);
  return acquiring_;
}

void RemoteBoard::send(Command command, const std::string& consequence) {
  if (!interactive()) {
    const auto link = current_link();
    if (!link) throw NoBoard(consequence);
    command(*link);
    return;
  }
  std::lock_guard lock(mutex_);
  commands_.emplace_back(std::move(command), consequence);
  wake_.notify_all();
}

void RemoteBoard::run_commands() {
  for (;;) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || !commands_.empty(); });
    if (commands_.empty()) return;  // stopping, and everything asked was sent
    auto [command, consequence] = std::move(commands_.front());
    commands_.pop_front();
    const auto link = link_;
    lock.unlock();
    std::string failure;
    try {
      if (!link) throw NoBoard(consequence);
      command(*link);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (!failure.empty() && failure_listener) failure_listener(failure);
  }
}

std::vector<Register> RemoteBoard::read_bank(Bank bank) {
  if (!connected()) throw NoBoard("registers not read");
  if (interactive()) return registers_.bank(bank);
  return read_bank_from_board(bank);
}

std::vector<Register> RemoteBoard::read_bank_from_board(Bank bank) {
  const auto link = current_link();
  if (!link) throw NoBoard("registers not read");
  v1::ListRegistersRequest request;
  request.set_bank(wire_bank(bank));
  v1::ListRegistersReply reply;
  throw_unless_ok(link->stub->ListRegisters(context(*link).get(), request, &reply), address_,
                  "registers not read");
  std::vector<Register> list = registers_in(reply);
  std::vector<std::string> names;
  try {
    check_registers(list, names);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error("The board at " + address_ + " describes itself wrongly: " + e.what());
  }
  registers_.replace(bank, list);
  // The declaration changes only when the board says other things of its registers.
  if (!same_registers(declaration().bank(bank), list)) {
    BoardDeclaration board = declaration();
    board.bank(bank) = list;
    adopt(std::move(board));
  }
  return list;
}

const BoardDeclaration& RemoteBoard::declaration() const {
  std::lock_guard lock(mutex_);
  return *declaration_;
}

void RemoteBoard::adopt(BoardDeclaration board) {
  const SensorGeometry geometry = board.geometry;
  {
    std::lock_guard lock(mutex_);
    if (same_board(*declaration_, board)) return;
    declarations_.push_back(std::make_unique<const BoardDeclaration>(std::move(board)));
    declaration_ = declarations_.back().get();
  }
  hub_.set_geometry(geometry);  // the frame gathered is the board's size
  if (declaration_listener) declaration_listener();
}

std::int64_t RemoteBoard::read_register(const std::string& name) const {
  if (!connected()) throw NoBoard(name + " not read");
  return registers_.read(name);
}

void RemoteBoard::write_register(const std::string& name, std::int64_t value) {
  if (!connected()) throw NoBoard(name + " not written");
  // std::out_of_range for no such register
  if (registers_.find(name).read_only) throw Refused(name + " is read-only: nothing was written");
  const std::int64_t old = registers_.read(name);
  registers_.write(name, value);  // the board's range, checked here first
  send(
      [this, name, value, old](Link& link) {
        v1::WriteRegisterRequest request;
        request.set_name(name);
        request.set_value(value);
        v1::WriteRegisterReply reply;
        const grpc::Status status = link.stub->WriteRegister(context(link).get(), request, &reply);
        if (!status.ok()) registers_.write(name, old);  // the board keeps its value
        throw_unless_ok(status, address_, name + " not written");
      },
      name + " not written");
  if (register_listener) register_listener(name);
}

void RemoteBoard::change_mode(SensorMode mode) {
  if (!connected()) throw NoBoard("mode not changed");
  {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    awaited_mode_.expect(mode);
  }
  send(
      [this, mode](Link& link) {
        v1::SetModeRequest request;
        request.set_mode(wire_mode(mode));
        v1::SetModeReply reply;
        throw_unless_ok(link.stub->SetMode(context(link).get(), request, &reply), address_,
                        "mode not changed");
      },
      "mode not changed");
}

void RemoteBoard::start_acquisition() {
  {
    std::lock_guard lock(mutex_);
    if (!link_ || !plugged_) throw NoBoard("acquisition not started");
    if (design_.empty())
      throw std::runtime_error(
          "No design on the board: program a bitstream before starting the acquisition");
    if (acquiring_) return;
    acquiring_ = true;
    stream_confirmed_ = false;
    awaited_acquiring_.expect(true);
    lost_ = 0;  // the board counts what it loses from its stream's start
  }
  send(
      [this](Link& link) {
        v1::StartAcquisitionReply reply;
        const grpc::Status status =
            link.stub->StartAcquisition(context(link).get(), v1::StartAcquisitionRequest(), &reply);
        {
          std::lock_guard lock(mutex_);
          stream_confirmed_ = status.ok() && acquiring_;
          if (!status.ok()) {
            acquiring_ = false;
            awaited_acquiring_.expect(false);
          }
        }
        if (stream_listener) stream_listener();  // the board's own word on its stream
        if (status.ok()) return;
        if (stream_listener) stream_listener();
        throw_unless_ok(status, address_, "acquisition not started");
      },
      "acquisition not started");
  if (stream_listener) stream_listener();
}

void RemoteBoard::stop_acquisition() {
  {
    std::lock_guard lock(mutex_);
    if (!acquiring_) return;
    acquiring_ = false;
    stream_confirmed_ = false;
    awaited_acquiring_.expect(false);
  }
  try {
    send(
        [this](Link& link) {
          v1::StopAcquisitionReply reply;
          throw_unless_ok(
              link.stub->StopAcquisition(context(link).get(), v1::StopAcquisitionRequest(), &reply),
              address_, "acquisition not stopped");
        },
        "acquisition not stopped");
  } catch (const NoBoard&) {
    // Nothing streams without a board.
  }
  if (stream_listener) stream_listener();
}

std::vector<double> RemoteBoard::read_adc(double) const {
  if (!connected()) throw NoBoard("ADC not read");
  const auto link = current_link();
  if (interactive() || !link) {
    std::lock_guard lock(mutex_);
    if (last_adc_.empty()) throw NoBoard("ADC not read");
    return last_adc_;
  }
  v1::AdcReadingReply reply;
  throw_unless_ok(link->stub->ReadAdc(context(*link, 2).get(), v1::ReadAdcRequest(), &reply),
                  address_, "ADC not read");
  auto values = adc_values(reply, declaration().adc_channels);
  std::lock_guard lock(mutex_);
  last_adc_ = values;
  return values;
}

void RemoteBoard::serial_transact(const std::string& line, SerialDone done) {
  if (!connected()) throw NoBoard("nothing sent");
  require_serial_port();
  send(
      [this, line, done](Link& link) {
        v1::SerialRequest request;
        request.set_line(line);
        v1::SerialReply reply;
        const std::string failure = failure_of(
            link.stub->SerialTransact(context(link).get(), request, &reply), "nothing sent");
        done(failure.empty() ? reply.answer() : "", failure);
      },
      "nothing sent");
}

void RemoteBoard::reset(const std::string& name, std::function<void(const std::string&)> done) {
  if (!connected()) throw NoBoard("reset not sent");
  const v1::ResetKind kind = wire_reset(name);
  send(
      [this, kind, done](Link& link) {
        v1::ResetRequest request;
        request.set_kind(kind);
        v1::ResetReply reply;
        done(failure_of(link.stub->Reset(context(link).get(), request, &reply), "reset not sent"));
      },
      "reset not sent");
}

}  // namespace Zelvar_Core::bench::remote
