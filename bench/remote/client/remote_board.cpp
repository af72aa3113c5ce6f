#include "bench/remote/client/remote_board.h"

#include <algorithm>
#include <cstring>

#include "Zelvar_Core/Host/logging.h"
#include "bench/board/text.h"
#include "bench/events/evt2.h"
#include "bench/remote/client/board_description.h"
#include "bench/remote/client/remote_link.h"
#include "bench/remote/client/reply_check.h"

namespace Zelvar_Core::bench::remote {

using namespace std::chrono_literals;

namespace {

// Nobody speaking the protocol answers at the address: told once, then tried again quietly.
class NoServer : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Room for a batch's other fields and the call's framing beyond its words.
constexpr std::size_t kBatchMargin = 64 * 1024;

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

RemoteBoard::RemoteBoard(std::string address, std::string token, std::string client,
                         std::string tls_ca)
    : address_(std::move(address)),
      token_(std::move(token)),
      client_(std::move(client)),
      tls_ca_(std::move(tls_ca)) {
  declarations_.push_back(
      std::make_unique<const BoardDeclaration>(declaration_of(SimulatedSensor::Aer640)));
  declaration_ = declarations_.back().get();
  // Everything that can refuse the board comes before any thread starts.
  link_ = connect();
  is_connected = connected();
  info = device_info_of(*this);
  try {
    start_link_threads(link_);
    link_thread_ = std::thread([this] { keep_linked(); });
    command_thread_ = std::thread([this] { run_commands(); });
  } catch (...) {
    // No thread is left behind a board that was never made.
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      wake_.notify_all();
    }
    link_->end();
    if (command_thread_.joinable()) command_thread_.join();
    if (link_thread_.joinable()) link_thread_.join();
    v1::ReleaseReply released;
    link_->stub->Release(context(*link_, 1).get(), v1::ReleaseRequest(), &released);
    throw;
  }
}

RemoteBoard::~RemoteBoard() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // From here every call has one deadline in all: a frozen server costs
    // kShutdown, not a call's wait for each command still queued.
    end_by_ = (std::chrono::system_clock::now() + kShutdown).time_since_epoch().count();
    wake_.notify_all();
  }
  command_thread_.join();  // what was asked before the end is still sent, if it can be
  // The link ends, and its lease's renewal with it, before the session is
  // given back: a renewal still on its way after the release would claim
  // the board anew for a bench that is gone, until that lease lapsed.
  const auto link = current_link();
  if (link) link->end();
  link_thread_.join();  // the link's threads are joined by link_lost()
  if (link) release(*link);
}

void RemoteBoard::release(const Link& link) const {
  // A short wait of its own, after everything else: the next bench claims
  // the board at once instead of waiting for the lease to lapse.
  v1::ReleaseReply released;
  link.stub->Release(call_context(token_, link.session, 1).get(), v1::ReleaseRequest(), &released);
}

std::unique_ptr<grpc::ClientContext> RemoteBoard::context(const Link& link, double seconds) const {
  return context(link.session, seconds);
}

std::unique_ptr<grpc::ClientContext> RemoteBoard::context(const std::string& session,
                                                          double seconds) const {
  auto call = call_context(token_, session, seconds);
  if (const auto end_by = end_by_.load(); end_by != 0) {
    const std::chrono::system_clock::time_point limit{std::chrono::system_clock::duration(end_by)};
    if (limit < call->deadline()) call->set_deadline(limit);
  }
  return call;
}

std::shared_ptr<RemoteBoard::Link> RemoteBoard::current_link() const {
  std::lock_guard lock(mutex_);
  return link_;
}

// ---- the link ------------------------------------------------------------------

std::shared_ptr<RemoteBoard::Link> RemoteBoard::connect() {
  auto link = std::make_shared<Link>();
  link->channel = board_channel(address_, tls_ca_);
  link->stub = v1::Board::NewStub(link->channel);
  auto refused = [this](const grpc::Status& status) {
    return std::runtime_error("The board at " + address_ + ": " +
                              server_sentence(status.error_message()));
  };
  // A reply that cannot be parsed (a text that is not UTF-8, say) comes as INTERNAL.
  auto unreadable = [this](const grpc::Status& status) {
    return std::runtime_error("The board at " + address_ + " sent a reply the bench cannot read: " +
                              server_sentence(status.error_message()));
  };
  v1::Identity identity;
  auto asked = context(*link, 3);
  grpc::Status status = link->stub->GetIdentity(asked.get(), v1::GetIdentityRequest(), &identity);
  v1::Reason reason = reason_of(*asked);
  if (status.error_code() == grpc::StatusCode::INTERNAL && reason == v1::REASON_UNSPECIFIED)
    throw unreadable(status);
  // Every board server has GetIdentity: a call that ends with no message is
  // a reply the library could not parse (a text that is not UTF-8, say).
  if (status.error_code() == grpc::StatusCode::UNIMPLEMENTED && reason == v1::REASON_UNSPECIFIED)
    throw std::runtime_error("The board at " + address_ +
                             " gives no identity the bench can read: its reply is not the board "
                             "protocol's, or holds a text that is not UTF-8");
  if (no_server_answers(status, reason))
    throw NoServer(no_answer_sentence(status, address_, !tls_ca_.empty()));
  if (!status.ok() && reason != v1::BOARD_UNPLUGGED) throw refused(status);
  // What the board is, before anything is taken from it.
  std::optional<v1::BoardDescription> description(std::in_place);
  asked = context(*link, 3);
  status = link->stub->DescribeBoard(asked.get(), v1::DescribeBoardRequest(), &*description);
  reason = reason_of(*asked);
  if (status.error_code() == grpc::StatusCode::UNIMPLEMENTED) {
    description.reset();
  } else if (status.error_code() == grpc::StatusCode::INTERNAL &&
             reason == v1::REASON_UNSPECIFIED) {
    throw unreadable(status);
  } else if (no_server_answers(status, reason)) {
    throw NoServer("No board server answers at " + address_);
  } else if (!status.ok()) {
    throw refused(status);
  }
  auto wrongly = [this](const std::exception& e) {
    return std::runtime_error("The board at " + address_ +
                              " describes itself wrongly: " + e.what());
  };
  BoardDeclaration declared;
  try {
    if (status.ok() || reason != v1::BOARD_UNPLUGGED) check_identity(identity);
    declared = declaration_from(identity, description);
  } catch (const std::invalid_argument& e) {
    throw wrongly(e);
  } catch (const BadReply& e) {
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
  std::string held_before;
  {
    std::lock_guard lock(mutex_);
    held_before = last_session_;
  }
  // The session this bench held before the link was lost, if it still holds
  // it: a server that froze for less than the lease gives it back.
  status = link->stub->Claim(context(held_before, 3).get(), claim, &claimed);
  if (!status.ok()) throw refused(status);
  link->session = claimed.session();
  if (claimed.lease_ms() != 0) link->lease = std::chrono::milliseconds(claimed.lease_ms());
  {
    std::lock_guard lock(mutex_);
    last_session_ = link->session;
  }
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
  try {
    if (adc_read) check_adc(adc);
  } catch (const BadReply& e) {
    throw wrongly(e);
  }
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
    try {
      check_state(state);
    } catch (const BadReply& e) {
      call->TryCancel();
      watch->Finish();
      throw wrongly(e);
    }
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
      start_link_threads(link);
      bool stopping;
      {
        std::lock_guard relock(mutex_);
        stopping = stopping_;
        if (!stopping) link_ = link;
      }
      if (stopping) {
        // Made while the board was being let go: given back at once.
        link->end();
        link->stream.join();
        link->renewal.join();
        release(*link);
        return;
      }
      last_refusal.clear();
      // "Board connected" once the board itself is there (else when the watch says so).
      if (connected()) tell(connection_listener);
      tell(stream_listener);
    } catch (const std::exception& e) {
      // A server that is back but refuses (a token, another holder) is told once.
      if (e.what() != last_refusal && !dynamic_cast<const NoServer*>(&e))
        tell(failure_listener, std::string(e.what()));
      last_refusal = e.what();
      pause = std::min<std::chrono::milliseconds>(pause * 2, 1000ms);
    }
  }
}

void RemoteBoard::start_link_threads(const std::shared_ptr<Link>& link) {
  try {
    link->stream = std::thread([this, link] { read_events(link); });
    link->renewal = std::thread([this, link] { renew(link); });
  } catch (...) {
    link->end();
    if (link->stream.joinable()) link->stream.join();
    throw;
  }
}

void RemoteBoard::renew(std::shared_ptr<Link> link) {
  // Within a third of the lease: two renewals lost on the way still leave it held.
  const auto every = std::max<std::chrono::milliseconds>(link->lease / 3, 10ms);
  v1::ClaimRequest request;
  request.set_client(client_);
  for (;;) {
    {
      std::unique_lock lock(link->mutex);
      if (link->wake.wait_for(lock, every, [&] { return link->lost; })) return;
    }
    v1::ClaimReply reply;
    const grpc::Status status = link->stub->Claim(context(*link, 2).get(), request, &reply);
    if (status.ok() && reply.session() == link->session) continue;
    // A server that stopped answering is found by the keepalive, which ends the link.
    if (no_server_answers(status)) continue;
    // The session lapsed: the board was let go in between and may have been
    // changed by another client. A new link reads it again, with the session
    // just given if any (or tells who holds it now).
    if (status.ok()) {
      std::lock_guard lock(mutex_);
      last_session_ = reply.session();
    }
    get_logger("pravel")->warn("The board at {} let this bench's claim lapse: {}", address_,
                               status.ok() ? "claimed again" : status.error_message());
    link->end();
    return;
  }
}

void RemoteBoard::watch(Link& link) {
  auto reader = link.stub->WatchBoard(&link.watch, v1::WatchBoardRequest());
  v1::BoardState state;
  std::string told;  // a state the bench does not take is told once, and left
  while (reader->Read(&state)) {
    try {
      check_state(state);
    } catch (const BadReply& e) {
      if (told != e.what() && failure_listener) failure_listener(e.what());
      told = e.what();
      continue;
    }
    told.clear();
    apply_state(state);
  }
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
  if (stream_changed) tell(stream_listener);
  if (plugged_changed) tell(connection_listener);
}

void RemoteBoard::link_lost() {
  std::shared_ptr<Link> link;
  bool was_connected, was_acquiring, stopping;
  {
    std::lock_guard lock(mutex_);
    stopping = stopping_;
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
  if (link->renewal.joinable()) link->renewal.join();
  // The session is given back when the server can still hear it (briefly:
  // it may be frozen); one that cannot lets it lapse. The destructor gives
  // it back itself.
  if (!stopping) {
    v1::ReleaseReply released;
    link->stub->Release(context(*link, 1).get(), v1::ReleaseRequest(), &released);
  }
  // As an unplugged board: the stream stops first, then the board goes.
  if (was_acquiring) tell(stream_listener);
  if (was_connected) tell(connection_listener);
}

void RemoteBoard::read_events(std::shared_ptr<Link> link) {
  v1::EventBatch batch;
  std::vector<std::uint32_t> words;
  std::vector<Event> events;
  // The stream has a channel of its own, whose receive limit is the board's
  // largest batch: a longer one is refused by the library, and told.
  const std::uint32_t largest = declaration().largest_batch_bytes;
  const auto channel = board_channel(address_, tls_ca_, largest + kBatchMargin);
  const auto stub = v1::Board::NewStub(channel);
  std::string told;  // the last failure told; the same one is not told again until events flow
  for (;;) {
    grpc::ClientContext call;
    if (!token_.empty()) call.AddMetadata("authorization", "Bearer " + token_);
    // The holder's stream is served whatever others have open.
    call.AddMetadata("zelvar-session", link->session);
    {
      std::lock_guard lock(link->mutex);
      if (link->lost) return;
      link->events = &call;
    }
    auto reader = stub->StreamEvents(&call, v1::StreamEventsRequest());
    evt2::Decoder decoder;  // each call's batches start with their own time-high word
    StreamCheck check(largest);
    std::string rejected;
    while (reader->Read(&batch)) {
      try {
        if (clock_restarts_.exchange(false)) check.clock_restarts();
        lost_in_transit_ += check.check(batch);
      } catch (const BadReply& e) {
        // Nothing of a batch that lies is used; the call is left and opened again.
        rejected = e.what();
        call.TryCancel();
        break;
      }
      words.resize(batch.evt2_words().size() / sizeof(std::uint32_t));
      std::memcpy(words.data(), batch.evt2_words().data(), words.size() * sizeof(std::uint32_t));
      events.clear();
      decoder.decode(words.data(), words.size(), events);
      lost_ = batch.lost_by_board();
      dropped_by_server_ = batch.dropped_by_server();
      hub_.publish(events.data(), events.size());
      told.clear();
    }
    const grpc::Status status = reader->Finish();
    const v1::Reason reason = reason_of(call);
    std::unique_lock lock(link->mutex);
    link->events = nullptr;
    if (link->lost) return;
    lock.unlock();
    // Every way the stream can end is told, but an unplugged board's (the
    // board itself shows that), whose stream opens again once it is back.
    // A server gone is told by the link, once its watch ends too: the stream waits for that.
    if (rejected.empty() && !status.ok() && no_server_answers(status, reason)) {
      lock.lock();
      if (link->wake.wait_for(lock, 2s, [&] { return link->lost; })) return;
      lock.unlock();
    }
    std::string failure = rejected;
    if (failure.empty() && reason != v1::BOARD_UNPLUGGED)
      failure = stream_end_text(status, reason, largest);
    if (!failure.empty() && failure != told) tell(stream_failure, failure);
    if (!failure.empty()) told = failure;
    lock.lock();
    // After a failure the server is given a second before it is asked again.
    if (link->wake.wait_for(lock, failure.empty() ? 100ms : 1000ms, [&] { return link->lost; }))
      return;
  }
}

std::string RemoteBoard::stream_end_text(const grpc::Status& status, v1::Reason reason,
                                         std::uint32_t largest) const {
  if (status.ok()) return "The board server at " + address_ + " ended the event stream";
  if (status.error_code() == grpc::StatusCode::RESOURCE_EXHAUSTED &&
      reason == v1::REASON_UNSPECIFIED)
    return "The board sent a batch of events larger than the largest it declared (" +
           count_text(largest) + " bytes): the batch was not read";
  if (reason == v1::REASON_UNSPECIFIED && no_server_answers(status))
    return "The event stream from " + address_ + " broke off: the board server does not answer";
  const std::string sentence = server_sentence(status.error_message());
  if (sentence.empty()) return "The event stream from " + address_ + " broke off";
  return sentence;
}

// ---- what the host asks -------------------------------------------------------------

std::string RemoteBoard::failure_of(const grpc::Status& status, v1::Reason reason,
                                    const std::string& consequence) const {
  try {
    throw_unless_ok(status, reason, address_, consequence);
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
    if (!failure.empty()) tell(failure_listener, failure);
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
  auto call = context(*link);
  const grpc::Status status = link->stub->ListRegisters(call.get(), request, &reply);
  throw_unless_ok(status, reason_of(*call), address_, "registers not read");
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
  tell(declaration_listener);
}

std::int64_t RemoteBoard::read_register(const std::string& name) const {
  if (!connected()) throw NoBoard(name + " not read");
  return registers_.read(name);
}

void RemoteBoard::write_register(const std::string& name, std::int64_t value) {
  if (!connected()) throw NoBoard(name + " not written");
  // std::out_of_range for no such register
  if (registers_.find(name).read_only) throw Refused(name + " is read-only: nothing was written");
  const std::int64_t before = registers_.read(name);
  registers_.write(name, value);  // the board's range, checked here first
  std::uint64_t number;
  {
    std::lock_guard lock(mutex_);
    auto [pending, first] = pending_writes_.try_emplace(name);
    if (first) pending->second.on_board = before;
    number = pending->second.latest = ++writes_asked_;
  }
  try {
    send(
        [this, name, value, number](Link& link) {
          v1::WriteRegisterRequest request;
          request.set_name(name);
          request.set_value(value);
          v1::WriteRegisterReply reply;
          auto call = context(link);
          const grpc::Status status = link.stub->WriteRegister(call.get(), request, &reply);
          written(name, number, status.ok() ? std::optional<std::int64_t>(value) : std::nullopt);
          throw_unless_ok(status, reason_of(*call), address_, name + " not written");
        },
        name + " not written");
  } catch (...) {
    written(name, number, std::nullopt);  // a write never sent: as a failed one
    throw;
  }
  tell(register_listener, name);
}

void RemoteBoard::written(const std::string& name, std::uint64_t number,
                          std::optional<std::int64_t> value) {
  std::optional<std::int64_t> restore;
  {
    std::lock_guard lock(mutex_);
    const auto pending = pending_writes_.find(name);
    if (pending == pending_writes_.end()) return;
    if (value) pending->second.on_board = *value;
    if (pending->second.latest != number) return;  // a later write decides what shows
    if (!value) restore = pending->second.on_board;
    pending_writes_.erase(pending);
  }
  if (restore) registers_.write(name, *restore);  // the board keeps its value
}

void RemoteBoard::write_registers(const std::vector<RegisterWrite>& writes) {
  if (!connected()) throw NoBoard("registers not written");
  if (writes.empty()) return;
  // All or none against the board's ranges and read-only marks, checked here first.
  const std::vector<std::int64_t> before = registers_.write_all(writes);
  send(
      [this, writes, before](Link& link) {
        grpc::Status status;
        v1::Reason reason = v1::REASON_UNSPECIFIED;
        const std::size_t made = write_on_board(link, writes, status, reason);
        if (!status.ok()) {
          // The board keeps its values where it made no write.
          std::vector<RegisterWrite> kept;
          for (std::size_t i = made; i < writes.size(); ++i)
            kept.push_back({writes[i].name, before[i]});
          registers_.write_all(kept);
        }
        throw_unless_ok(status, reason, address_, "registers not written");
      },
      "registers not written");
  if (register_listener)
    for (const auto& w : writes) register_listener(w.name);
}

std::size_t RemoteBoard::write_on_board(Link& link, const std::vector<RegisterWrite>& writes,
                                        grpc::Status& status, v1::Reason& reason) {
  std::size_t made = 0;
  while (!one_by_one_ && made < writes.size()) {
    v1::WriteRegistersRequest request;
    const std::size_t end =
        std::min(writes.size(), made + static_cast<std::size_t>(kMostWritesAtOnce));
    for (std::size_t i = made; i < end; ++i) {
      auto* w = request.add_writes();
      w->set_name(writes[i].name);
      w->set_value(writes[i].value);
    }
    v1::WriteRegistersReply reply;
    auto call = context(link);
    status = link.stub->WriteRegisters(call.get(), request, &reply);
    reason = reason_of(*call);
    if (status.error_code() != grpc::StatusCode::UNIMPLEMENTED) {
      if (!status.ok()) return made;
      made = end;
      continue;
    }
    if (!one_by_one_.exchange(true))
      get_logger("pravel")->info(
          "The board server at {} writes one register per call: registers are written one by "
          "one",
          address_);
  }
  for (; made < writes.size(); ++made) {
    v1::WriteRegisterRequest request;
    request.set_name(writes[made].name);
    request.set_value(writes[made].value);
    v1::WriteRegisterReply reply;
    auto call = context(link);
    status = link.stub->WriteRegister(call.get(), request, &reply);
    reason = reason_of(*call);
    if (!status.ok()) return made;
  }
  status = grpc::Status::OK;
  return made;
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
        auto call = context(link);
        const grpc::Status status = link.stub->SetMode(call.get(), request, &reply);
        throw_unless_ok(status, reason_of(*call), address_, "mode not changed");
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
        auto call = context(link);
        const grpc::Status status =
            link.stub->StartAcquisition(call.get(), v1::StartAcquisitionRequest(), &reply);
        {
          std::lock_guard lock(mutex_);
          stream_confirmed_ = status.ok() && acquiring_;
          if (!status.ok()) {
            acquiring_ = false;
            awaited_acquiring_.expect(false);
          }
        }
        tell(stream_listener);  // the board's own word on its stream
        if (status.ok()) return;
        tell(stream_listener);
        throw_unless_ok(status, reason_of(*call), address_, "acquisition not started");
      },
      "acquisition not started");
  tell(stream_listener);
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
          auto call = context(link);
          const grpc::Status status =
              link.stub->StopAcquisition(call.get(), v1::StopAcquisitionRequest(), &reply);
          throw_unless_ok(status, reason_of(*call), address_, "acquisition not stopped");
        },
        "acquisition not stopped");
  } catch (const NoBoard&) {
    // Nothing streams without a board.
  }
  tell(stream_listener);
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
  auto call = context(*link, 2);
  const grpc::Status status = link->stub->ReadAdc(call.get(), v1::ReadAdcRequest(), &reply);
  throw_unless_ok(status, reason_of(*call), address_, "ADC not read");
  check_adc(reply);
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
        auto call = context(link);
        const grpc::Status status = link.stub->SerialTransact(call.get(), request, &reply);
        std::string failure = failure_of(status, reason_of(*call), "nothing sent");
        std::string answer;
        try {
          if (failure.empty()) answer = checked_serial_answer(reply);
        } catch (const BadReply& e) {
          failure = e.what();
        }
        done(answer, failure);
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
        // The board's clock starts again with a device reset: its stream's clock may go back.
        if (kind == v1::RESET_DEVICE) clock_restarts_ = true;
        auto call = context(link);
        const grpc::Status status = link.stub->Reset(call.get(), request, &reply);
        done(failure_of(status, reason_of(*call), "reset not sent"));
      },
      "reset not sent");
}

}  // namespace Zelvar_Core::bench::remote
