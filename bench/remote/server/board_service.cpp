#include "bench/remote/server/board_service.h"

#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "bench/board/adc.h"
#include "bench/board/errors.h"
#include "bench/events/evt2.h"
#include "bench/remote/protocol/remote_call.h"
#include "bench/remote/server/names.h"

namespace Zelvar_Core::bench::remote {

namespace {

using grpc::Status;
using grpc::StatusCode;
using namespace std::chrono_literals;

std::optional<std::string> metadata(const grpc::ServerContextBase* context, const char* key) {
  const auto& all = context->client_metadata();
  const auto found = all.find(key);
  if (found == all.end()) return std::nullopt;
  return std::string(found->second.data(), found->second.size());
}

// One of the calls of a kind open at once (streams, watches), or none when
// `cap` are open already and the caller does not hold the board.
class OpenCall {
 public:
  OpenCall(std::atomic<unsigned>& open, unsigned cap, bool holder) : open_(open) {
    taken_ = open_.fetch_add(1) < cap || holder;
    if (!taken_) open_.fetch_sub(1);
  }
  ~OpenCall() {
    if (taken_) open_.fetch_sub(1);
  }
  OpenCall(const OpenCall&) = delete;
  OpenCall& operator=(const OpenCall&) = delete;
  explicit operator bool() const { return taken_; }

 private:
  std::atomic<unsigned>& open_;
  bool taken_;
};

// Whether the call carries the session of the board's holder (renewing it).
bool from_holder(ServedBoard& s, grpc::ServerContextBase* context) {
  const auto session = metadata(context, "zelvar-session");
  return session && s.access.check_holder(session).ok();
}

// An error as the caller gets it: the status code and sentence, and the
// reason code in the trailing metadata, which is what a client decides by.
Status refusal(grpc::ServerContextBase* context, StatusCode code, const std::string& message,
               v1::Reason reason) {
  context->AddTrailingMetadata("zelvar-reason", v1::Reason_Name(reason));
  return {code, message};
}

// A bitstream larger than the board holds, apart from other bad bitstreams.
class TooLarge : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The board's outcome as a status: what the board refused, and why, in its
// own words. `refused` is the reason of what the board does not have or
// allow for this call (a read-only register, a mode it lacks, no serial port).
template <class Call>
Status on_board(grpc::ServerContextBase* context, Call&& call,
                v1::Reason refused = v1::NO_SUCH_MODE) {
  try {
    call();
    return Status::OK;
  } catch (const NoBoard& e) {
    return refusal(context, StatusCode::UNAVAILABLE, e.what(), v1::BOARD_UNPLUGGED);
  } catch (const Cancelled& e) {
    return refusal(context, StatusCode::CANCELLED, e.what(), v1::CANCELLED);
  } catch (const Refused& e) {
    // What the board does not have or allow: the caller must ask otherwise.
    return refusal(context, StatusCode::FAILED_PRECONDITION, e.what(), refused);
  } catch (const RangeError& e) {
    return refusal(context, StatusCode::OUT_OF_RANGE, e.what(), v1::OUT_OF_RANGE);
  } catch (const std::out_of_range& e) {
    return refusal(context, StatusCode::NOT_FOUND, e.what(), v1::NOT_FOUND);
  } catch (const TooLarge& e) {
    return refusal(context, StatusCode::INVALID_ARGUMENT, e.what(), v1::DESIGN_TOO_LARGE);
  } catch (const std::invalid_argument& e) {
    return refusal(context, StatusCode::INVALID_ARGUMENT, e.what(), v1::BAD_REQUEST);
  } catch (const BadBitstream& e) {
    // ABORTED as servers have always answered it; the reason tells it apart.
    return refusal(context, StatusCode::ABORTED, e.what(), v1::BAD_BITSTREAM);
  } catch (const std::exception& e) {
    return refusal(context, StatusCode::ABORTED, e.what(), v1::BOARD_FAILED);
  }
}

// Events to one stream call, in three stages on three threads, so that
// neither the simulation nor the encoding waits on the call: the board's
// thread only copies each batch into a bounded queue; the producer's own
// thread encodes it into a message whose words decode on their own; the
// call's thread only writes the messages that are ready. What does not fit
// in either queue is counted as lost, as the board's FIFO would count it.
class StreamProducer : public EventListener {
 public:
  static constexpr std::size_t kMaxQueuedEvents = std::size_t{1} << 22;  // not yet encoded
  static constexpr std::size_t kMaxBatches = 1024;                       // encoded, not yet sent

  StreamProducer() : thread_([this] { run(); }) {}
  ~StreamProducer() override {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    events_ready_.notify_all();
    thread_.join();
  }
  StreamProducer(const StreamProducer&) = delete;
  StreamProducer& operator=(const StreamProducer&) = delete;

  void on_events(const Event* events, std::size_t count) override {
    if (count == 0) return;
    std::unique_lock lock(mutex_);
    if (queued_events_ + count > kMaxQueuedEvents) {
      dropped_ += count;
      return;
    }
    std::vector<Event> batch;
    if (!spare_.empty()) {
      batch = std::move(spare_.back());
      spare_.pop_back();
    }
    batch.assign(events, events + count);
    queued_events_ += count;
    events_.push_back(std::move(batch));
    lock.unlock();
    events_ready_.notify_one();
  }
  bool pop(v1::EventBatch& message, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (!messages_ready_.wait_for(lock, wait, [this] { return !messages_.empty(); })) return false;
    message.Swap(&messages_.front());
    messages_.pop_front();
    return true;
  }
  std::uint64_t dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
  }

 private:
  void run() {
    evt2::Encoder encoder;
    std::vector<std::uint32_t> words;
    for (;;) {
      std::vector<Event> batch;
      {
        std::unique_lock lock(mutex_);
        events_ready_.wait(lock, [this] { return !events_.empty() || closing_; });
        if (closing_) return;
        batch = std::move(events_.front());
        events_.pop_front();
        queued_events_ -= batch.size();
      }
      words.clear();
      encoder.reset();  // every message starts with its own time-high word
      encoder.encode(batch.data(), batch.size(), words);
      v1::EventBatch message;
      message.set_evt2_words(words.data(), words.size() * sizeof(std::uint32_t));
      message.set_events(static_cast<std::uint32_t>(batch.size()));
      message.set_board_time_us(batch.back().t);
      {
        std::lock_guard lock(mutex_);
        if (messages_.size() >= kMaxBatches)
          dropped_ += batch.size();
        else
          messages_.push_back(std::move(message));
        if (spare_.size() < 16) spare_.push_back(std::move(batch));
      }
      messages_ready_.notify_one();
    }
  }

  mutable std::mutex mutex_;
  std::condition_variable events_ready_, messages_ready_;
  std::deque<std::vector<Event>> events_;
  std::vector<std::vector<Event>> spare_;
  std::size_t queued_events_ = 0;
  std::deque<v1::EventBatch> messages_;
  std::uint64_t dropped_ = 0;
  bool closing_ = false;
  std::thread thread_;  // last: started once the rest is made
};

// A programming run told to the caller as it goes; the caller's cancel ends it.
class StreamedProgress : public ProgrammingObserver {
 public:
  // `still_held` runs with each progress sent: the caller is busy with the
  // board, and its session lasts as long as the run does.
  StreamedProgress(grpc::ServerContext* context,
                   grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream,
                   std::function<void()> still_held)
      : context_(context), stream_(stream), still_held_(std::move(still_held)) {}
  void begin(const std::string& design, std::size_t bytes) override {
    progress_.set_design(log_safe(design));  // the sender's bytes, told as one printable line
    progress_.set_bytes_total(bytes);
    still_held_();
    stream_->Write(progress_);
  }
  bool advance(std::size_t done) override {
    written_ = done;
    if (context_->IsCancelled()) return false;
    // A message a percent, not one per block.
    if (done * 100 / std::max<std::size_t>(1, progress_.bytes_total()) !=
        progress_.bytes_done() * 100 / std::max<std::size_t>(1, progress_.bytes_total())) {
      progress_.set_bytes_done(done);
      still_held_();
      stream_->Write(progress_);
    }
    return true;
  }
  void end() override {}
  v1::ProgramProgress& last() { return progress_; }
  // The bytes written to the board so far.
  std::size_t written() const { return written_; }

 private:
  grpc::ServerContext* context_;
  grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream_;
  std::function<void()> still_held_;
  v1::ProgramProgress progress_;
  std::size_t written_ = 0;
};

// The bitstream as it arrives, kept under its sender's file name in a folder
// of the server's own until the board has been written (a file without a
// header is named by its file, as on the board itself); removed whatever
// happens.
class ArrivingBitstream {
 public:
  ArrivingBitstream() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pravel-board-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("The board server cannot keep the bitstream it receives");
    folder_ = pattern;
  }
  ~ArrivingBitstream() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  // Reads the header and every chunk; refuses a stream that is short or long.
  void receive(grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream) {
    v1::ProgramChunk chunk;
    if (!stream->Read(&chunk) || !chunk.has_header())
      throw std::invalid_argument("The bitstream's header message did not come first");
    const std::uint64_t total = chunk.header().total_bytes();
    // Only the sender's file name, never a path of theirs.
    name_ = std::filesystem::path(chunk.header().file_name()).filename().string();
    if (name_.empty() || name_ == "." || name_ == "..") name_ = "sent.bit";
    path_ = (std::filesystem::path(folder_) / name_).string();
    if (total == 0) throw std::invalid_argument("The bitstream " + name_ + " is empty");
    if (total > SimulatedDevice::kMaxDesignBytes)
      throw TooLarge("The bitstream is larger than any design the board can hold");
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    std::uint64_t received = 0;
    while (stream->Read(&chunk)) {
      if (!chunk.has_data()) throw std::invalid_argument("A second header came in the bitstream");
      received += chunk.data().size();
      if (received > total)
        throw std::invalid_argument("More of the bitstream came than its header announced");
      out.write(chunk.data().data(), static_cast<std::streamsize>(chunk.data().size()));
    }
    out.close();
    if (!out) throw std::runtime_error("The board server could not keep the bitstream it received");
    if (received != total)
      throw std::invalid_argument("The bitstream ended after " + std::to_string(received) + " of " +
                                  std::to_string(total) + " bytes");
  }
  const std::string& path() const { return path_; }
  // The board's sentence about the file, naming it as its sender did
  // rather than by the server's own copy.
  std::string as_sent(std::string message) const {
    for (auto at = message.find(path_); at != std::string::npos; at = message.find(path_))
      message.replace(at, path_.size(), name_);
    return message;
  }

 private:
  std::string folder_, path_, name_;
};

// A mode change or reset done on the board, logged with its outcome: what
// reached the board, and what it refused.
template <class Call>
Status logged(ServedBoard& s, grpc::ServerContext* context, const std::string& what, Call&& call) {
  Status status = on_board(context, std::forward<Call>(call));
  if (status.ok())
    s.logger->info("{}: done", what);
  else
    s.logger->info("{}: refused: {}", what, status.error_message());
  return status;
}

v1::BoardState state_of(ServedBoard& s) {
  v1::BoardState state;
  state.set_plugged(s.board.connected());
  state.set_design(log_safe(s.board.design()));
  state.set_acquiring(s.board.acquiring());
  state.set_held_by(s.access.holder());
  state.set_mode(wire_mode(s.board.mode()));
  return state;
}

}  // namespace

ServedBoard::ServedBoard(SimulatedDevice& board_, const std::string& token,
                         std::shared_ptr<spdlog::logger> logger_, BoardAccess::Clock clock,
                         std::chrono::milliseconds lease)
    : board(board_), access(token, std::move(clock), lease), logger(std::move(logger_)) {
  board.stream_failure = [this](const std::string& why) {
    std::lock_guard lock(failure_mutex);
    stream_failure = why;
    ++stream_failures;
  };
}

Status ServedBoard::admit(grpc::ServerContextBase* context, bool changes) {
  for (const std::string& line : refusals.due()) logger->warn("{}", line);
  const std::string peer = context->peer();
  // A host that keeps sending wrong tokens is not listened to for a while:
  // guessing the token takes ages, and its calls cost next to nothing.
  if (refusals.barred(peer)) {
    Status barred{StatusCode::RESOURCE_EXHAUSTED, "The board refuses calls from " +
                                                      log_safe(Refusals::host_of_peer(peer)) +
                                                      " for now: too many wrong tokens"};
    for (const std::string& line : refusals.refused(peer, barred.error_message(), false))
      logger->warn("{}", line);
    return refusal(context, barred.error_code(), barred.error_message(), v1::WRONG_TOKEN);
  }
  Status status = access.authenticate(metadata(context, "authorization"));
  if (!status.ok()) {
    for (const std::string& line : refusals.refused(peer, status.error_message()))
      logger->warn("{}", line);
    return refusal(context, status.error_code(), status.error_message(), v1::WRONG_TOKEN);
  }
  const std::optional<std::string> session = metadata(context, "zelvar-session");
  // A change whose caller gave up before it arrived (the server was frozen,
  // the link slow) is not made: the caller told its user it was not done.
  if (changes &&
      (context->IsCancelled() || context->deadline() <= std::chrono::system_clock::now()))
    return Status(StatusCode::DEADLINE_EXCEEDED,
                  "The call came after its caller had given up: nothing was done");
  if (changes) return held_refusal(context, access.check_holder(session));
  if (session) access.renew(*session);
  return status;
}

Status ServedBoard::held_refusal(grpc::ServerContextBase* context, const Status& status) {
  if (status.ok() || status.error_code() != StatusCode::FAILED_PRECONDITION) return status;
  return refusal(context, status.error_code(), status.error_message(),
                 access.holder().empty() ? v1::NOT_CLAIMED : v1::HELD_BY_OTHER);
}

Status BoardService::GetIdentity(grpc::ServerContext* context, const v1::GetIdentityRequest*,
                                 v1::Identity* identity) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return on_board(context, [&] {
    const DeviceInfo info = s_.board.read_identity();
    identity->set_vendor(info.vendor);
    identity->set_product(info.product_name);
    identity->set_serial_number(info.serial_number);
    identity->set_version(info.dev_version);
    identity->set_design(log_safe(s_.board.design()));
    identity->set_sensor_width(s_.board.declaration().geometry.width);
    identity->set_sensor_height(s_.board.declaration().geometry.height);
    identity->set_protocol_version(1);
  });
}

Status BoardService::DescribeBoard(grpc::ServerContext* context, const v1::DescribeBoardRequest*,
                                   v1::BoardDescription* description) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  // What the board is does not change while it is unplugged: told either way.
  const BoardDeclaration& board = s_.board.declaration();
  description->set_sensor_name(board.sensor_name);
  description->set_sensor_width(board.geometry.width);
  description->set_sensor_height(board.geometry.height);
  for (SensorMode mode : board.modes) description->add_modes(wire_mode(mode));
  for (const std::string& reset : board.resets) description->add_resets(wire_reset(reset));
  for (const AdcChannelDeclaration& channel : board.adc_channels) {
    auto* out = description->add_adc_channels();
    out->set_name(channel.name);
    out->set_unit(channel.unit);
    out->set_normal_min(channel.normal_min);
    out->set_normal_max(channel.normal_max);
  }
  description->set_has_serial_port(board.has_serial_port);
  description->set_largest_design_bytes(board.largest_design_bytes);
  for (const std::string& format : board.event_formats) description->add_event_formats(format);
  description->set_largest_batch_bytes(board.largest_batch_bytes);
  return Status::OK;
}

Status BoardService::Claim(grpc::ServerContext* context, const v1::ClaimRequest* request,
                           v1::ClaimReply* reply) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  if (request->client().size() > kLongestName)
    return refusal(context, StatusCode::INVALID_ARGUMENT,
                   fmt::format("A client's name is at most {} bytes; this one has {}", kLongestName,
                               request->client().size()),
                   v1::BAD_REQUEST);
  // Kept, told to others and logged as one printable line.
  const std::string client = log_safe(request->client());
  std::string session;
  const unsigned long long made = s_.access.sessions_made();
  Status status = s_.access.claim(client, log_safe(context->peer()), session,
                                  metadata(context, "zelvar-session"));
  if (status.ok()) {
    reply->set_session(session);
    reply->set_lease_ms(static_cast<std::uint32_t>(s_.access.lease().count()));
    // A holder renewing its claim is not news.
    if (s_.access.sessions_made() != made)
      s_.logger->info("The board is held by {} at {}", client, log_safe(context->peer()));
  }
  return s_.held_refusal(context, status);
}

Status BoardService::Release(grpc::ServerContext* context, const v1::ReleaseRequest*,
                             v1::ReleaseReply*) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return s_.held_refusal(context, s_.access.release(metadata(context, "zelvar-session")));
}

Status BoardService::ListRegisters(grpc::ServerContext* context,
                                   const v1::ListRegistersRequest* request,
                                   v1::ListRegistersReply* reply) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return on_board(context, [&] {
    for (const auto& r : s_.board.read_bank(bank_of(request->bank()))) {
      auto* out = reply->add_registers();
      out->set_name(r.name);
      out->set_value(r.value);
      out->set_min(r.min);
      out->set_max(r.max);
      out->set_unit(r.unit);
      out->set_description(r.description);
      out->set_read_only(r.read_only);
      out->set_default_value(r.default_value);
    }
  });
}

// Both answered at once: a write does not wait on anything but the board.
grpc::ServerUnaryReactor* BoardService::WriteRegister(grpc::CallbackServerContext* context,
                                                      const v1::WriteRegisterRequest* request,
                                                      v1::WriteRegisterReply* reply) {
  grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
  reactor->Finish(write_register(context, request, reply));
  return reactor;
}

grpc::ServerUnaryReactor* BoardService::WriteRegisters(grpc::CallbackServerContext* context,
                                                       const v1::WriteRegistersRequest* request,
                                                       v1::WriteRegistersReply* reply) {
  grpc::ServerUnaryReactor* reactor = context->DefaultReactor();
  reactor->Finish(write_registers(context, request, reply));
  return reactor;
}

Status BoardService::write_register(grpc::ServerContextBase* context,
                                    const v1::WriteRegisterRequest* request,
                                    v1::WriteRegisterReply* reply) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return on_board(
      context,
      [&] {
        const std::int64_t before = s_.board.read_register(request->name());
        s_.board.write_register(request->name(), request->value());
        reply->set_old_value(before);
        reply->set_new_value(s_.board.read_register(request->name()));
        s_.logger->info("Written to the board: {} {} → {}", log_safe(request->name()), before,
                        reply->new_value());
      },
      v1::READ_ONLY);
}

Status BoardService::write_registers(grpc::ServerContextBase* context,
                                     const v1::WriteRegistersRequest* request,
                                     v1::WriteRegistersReply* reply) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  if (request->writes().empty())
    return refusal(context, StatusCode::INVALID_ARGUMENT,
                   "No register to write: nothing was written", v1::BAD_REQUEST);
  if (request->writes_size() > kMostWritesAtOnce)
    return refusal(context, StatusCode::INVALID_ARGUMENT,
                   fmt::format("{} writes in one call are more than the {} a call may hold: "
                               "nothing was written",
                               request->writes_size(), kMostWritesAtOnce),
                   v1::BAD_REQUEST);
  std::vector<RegisterWrite> writes;
  writes.reserve(static_cast<std::size_t>(request->writes_size()));
  for (const auto& w : request->writes()) writes.push_back({w.name(), w.value()});
  return on_board(
      context,
      [&] {
        std::vector<std::int64_t> before;
        before.reserve(writes.size());
        // An unknown name is the board's to refuse, with the others, below.
        for (const auto& w : writes)
          before.push_back(s_.board.registers().has(w.name) ? s_.board.registers().read(w.name)
                                                            : 0);
        s_.board.write_registers(writes);
        for (std::size_t i = 0; i < writes.size(); ++i) {
          auto* written = reply->add_written();
          written->set_old_value(before[i]);
          written->set_new_value(s_.board.registers().read(writes[i].name));
        }
        // Each write named, the first eight of a long batch.
        std::vector<std::string> told;
        for (std::size_t i = 0; i < writes.size() && i < 8; ++i)
          told.push_back(fmt::format("{} {} → {}", log_safe(writes[i].name), before[i],
                                     reply->written(static_cast<int>(i)).new_value()));
        s_.logger->info("Written to the board in one call: {} register{} ({}{})", writes.size(),
                        writes.size() == 1 ? "" : "s", fmt::join(told, ", "),
                        writes.size() > 8 ? ", ..." : "");
      },
      v1::READ_ONLY);
}

Status BoardService::Program(
    grpc::ServerContext* context,
    grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  // A run longer than the lease keeps its caller's session: no other client
  // claims the board half way through its programming.
  const std::optional<std::string> session = metadata(context, "zelvar-session");
  return on_board(context, [&] {
    ArrivingBitstream bitstream;
    bitstream.receive(stream);
    StreamedProgress progress(context, stream, [&] { s_.access.renew(*session); });
    try {
      s_.board.program(bitstream.path(), &progress);
    } catch (const NoBoard&) {
      throw;
    } catch (const Cancelled&) {
      // Whoever asks the server what became of a run reads it here.
      s_.logger->info("Programming of {} cancelled by its caller after {} of {} bytes",
                      progress.last().design(), progress.written(), progress.last().bytes_total());
      throw;
    } catch (const std::exception& e) {
      throw std::runtime_error(bitstream.as_sent(e.what()));
    }
    progress.last().set_bytes_done(progress.last().bytes_total());
    progress.last().set_done(true);
    stream->Write(progress.last());
    s_.logger->info("Programmed {}: {} bytes written", progress.last().design(),
                    progress.written());
  });
}

Status BoardService::Reset(grpc::ServerContext* context, const v1::ResetRequest* request,
                           v1::ResetReply*) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return logged(s_, context, "Reset " + v1::ResetKind_Name(request->kind()), [&] {
    auto& actions = s_.board.resets;
    switch (request->kind()) {
      case v1::RESET_DEVICE:
        return actions.reset_device();
      case v1::RESET_FIFO:
        return actions.reset_fifo();
      case v1::RESET_RAM:
        return actions.reset_ram();
      case v1::RESET_AER:
        return actions.reset_aer();
      case v1::RESET_CHIP:
        return actions.reset_chip();
      default:
        throw std::invalid_argument("Name a reset: device, FIFO, RAM, AER or chip");
    }
  });
}

Status BoardService::SetMode(grpc::ServerContext* context, const v1::SetModeRequest* request,
                             v1::SetModeReply*) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return logged(s_, context, "Mode " + v1::Mode_Name(request->mode()),
                [&] { s_.board.set_mode(mode_of(request->mode())); });
}

Status BoardService::StartAcquisition(grpc::ServerContext* context,
                                      const v1::StartAcquisitionRequest*,
                                      v1::StartAcquisitionReply*) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  if (s_.board.connected() && s_.board.design().empty())
    // Starting without a design is a state the caller must change first.
    return refusal(context, StatusCode::FAILED_PRECONDITION,
                   "No design on the board: program a bitstream before starting the acquisition",
                   v1::NO_DESIGN);
  return on_board(context, [&] { s_.board.start_acquisition(); });
}

Status BoardService::StopAcquisition(grpc::ServerContext* context,
                                     const v1::StopAcquisitionRequest*, v1::StopAcquisitionReply*) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return on_board(context, [&] { s_.board.stop_acquisition(); });
}

Status BoardService::StreamEvents(grpc::ServerContext* context, const v1::StreamEventsRequest*,
                                  grpc::ServerWriter<v1::EventBatch>* writer) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  const OpenCall open(s_.streams, ServedBoard::kMaxStreams, from_holder(s_, context));
  if (!open)
    return refusal(
        context, StatusCode::RESOURCE_EXHAUSTED,
        fmt::format("The board already streams its events to {} clients: close one first",
                    ServedBoard::kMaxStreams),
        v1::BUSY);
  if (!s_.board.connected())
    return refusal(context, StatusCode::UNAVAILABLE, NoBoard("no events sent").what(),
                   v1::BOARD_UNPLUGGED);
  // Each stream has its own producer, thread and queues: a caller that does
  // not read loses its own events only, never the board's or another's.
  StreamProducer producer;
  Subscription subscription(s_.board.events(), producer);
  const unsigned failures = s_.stream_failures;
  v1::EventBatch out;
  std::uint64_t sequence = 0;  // each batch numbered, so that a gap shows
  while (!context->IsCancelled()) {
    if (producer.pop(out, 100ms)) {
      out.set_lost_by_board(s_.board.acquisition().estimated_lost());
      out.set_dropped_by_server(producer.dropped());
      out.set_sequence(++sequence);
      if (!writer->Write(out)) break;  // the client went away
      continue;
    }
    if (!s_.board.connected())
      return refusal(context, StatusCode::UNAVAILABLE, NoBoard("the event stream ended").what(),
                     v1::BOARD_UNPLUGGED);
    if (s_.stream_failures != failures) {
      std::lock_guard lock(s_.failure_mutex);
      return refusal(context, StatusCode::UNAVAILABLE,
                     "The event stream broke off: " + s_.stream_failure, v1::STREAM_BROKEN);
    }
  }
  return Status::OK;
}

Status BoardService::ReadAdc(grpc::ServerContext* context, const v1::ReadAdcRequest*,
                             v1::AdcReadingReply* reply) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return on_board(context, [&] {
    if (!s_.board.connected()) throw NoBoard("ADC not read");
    static const auto started = std::chrono::steady_clock::now();
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::vector<double> values = s_.board.adc().read(t);
    const auto& channels = s_.board.declaration().adc_channels;  // in the ADC's order
    for (std::size_t i = 0; i < values.size() && i < channels.size(); ++i) {
      auto* channel = reply->add_channels();
      channel->set_name(channels[i].name);
      channel->set_unit(channels[i].unit);
      channel->set_value(values[i]);
    }
  });
}

Status BoardService::SerialTransact(grpc::ServerContext* context, const v1::SerialRequest* request,
                                    v1::SerialReply* reply) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  Status status = on_board(
      context, [&] { reply->set_answer(s_.board.serial_transact(request->line())); },
      v1::NO_SERIAL_PORT);
  if (status.error_code() == StatusCode::FAILED_PRECONDITION)
    s_.logger->info("Serial line refused: {}", status.error_message());
  return status;
}

Status BoardService::WatchBoard(grpc::ServerContext* context, const v1::WatchBoardRequest*,
                                grpc::ServerWriter<v1::BoardState>* writer) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  const OpenCall open(s_.watches, ServedBoard::kMaxWatches, from_holder(s_, context));
  if (!open)
    return refusal(context, StatusCode::RESOURCE_EXHAUSTED,
                   fmt::format("The board is already watched by {} clients: close one first",
                               ServedBoard::kMaxWatches),
                   v1::BUSY);
  // A watch renews the holder's lease when it opens (admit), not while it
  // runs: a holder that was stopped or frozen keeps its watch open and
  // reads nothing, and must lose the board all the same.
  std::string last;
  while (!context->IsCancelled()) {
    const v1::BoardState state = state_of(s_);
    std::string now = state.SerializeAsString();
    if (now != last) {
      if (!writer->Write(state)) break;
      last = std::move(now);
    }
    std::this_thread::sleep_for(50ms);
  }
  return Status::OK;
}

Status SimulatorService::SetConnected(grpc::ServerContext* context,
                                      const v1::SetConnectedRequest* request, v1::SimulatorReply*) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  s_.board.set_connected(request->connected());
  s_.logger->info("Board {}", request->connected() ? "plugged in" : "unplugged");
  return Status::OK;
}

Status SimulatorService::FailNextProgramming(grpc::ServerContext* context,
                                             const v1::SimulatorRequest*, v1::SimulatorReply*) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  s_.board.fail_next_program = true;
  return Status::OK;
}

Status SimulatorService::FailNextRegisterRead(grpc::ServerContext* context,
                                              const v1::SimulatorRequest*, v1::SimulatorReply*) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  s_.board.fail_next_register_read = true;
  return Status::OK;
}

Status SimulatorService::BreakStream(grpc::ServerContext* context, const v1::SimulatorRequest*,
                                     v1::SimulatorReply*) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  s_.board.acquisition().fail_next_read();
  return Status::OK;
}

}  // namespace Zelvar_Core::bench::remote
