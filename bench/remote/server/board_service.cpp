#include "bench/remote/server/board_service.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench/board/adc.h"
#include "bench/events/evt2.h"
#include "bench/remote/protocol/remote_call.h"

namespace Zelvar_Core::bench::remote {

namespace {

using grpc::Status;
using grpc::StatusCode;
using namespace std::chrono_literals;

std::optional<std::string> metadata(const grpc::ServerContext* context, const char* key) {
  const auto& all = context->client_metadata();
  const auto found = all.find(key);
  if (found == all.end()) return std::nullopt;
  return std::string(found->second.data(), found->second.size());
}

// The board's outcome as a status: what the board refused, and why, in its
// own words.
template <class Call>
Status on_board(Call&& call) {
  try {
    call();
    return Status::OK;
  } catch (const NoBoard& e) {
    return {StatusCode::UNAVAILABLE, e.what()};
  } catch (const Cancelled& e) {
    return {StatusCode::CANCELLED, e.what()};
  } catch (const Refused& e) {
    // What the board does not have or allow: the caller must ask otherwise.
    return {StatusCode::FAILED_PRECONDITION, e.what()};
  } catch (const RangeError& e) {
    return {StatusCode::OUT_OF_RANGE, e.what()};
  } catch (const std::out_of_range& e) {
    return {StatusCode::NOT_FOUND, e.what()};
  } catch (const std::invalid_argument& e) {
    return {StatusCode::INVALID_ARGUMENT, e.what()};
  } catch (const std::exception& e) {
    return {StatusCode::ABORTED, e.what()};
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
  StreamedProgress(grpc::ServerContext* context,
                   grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream)
      : context_(context), stream_(stream) {}
  void begin(const std::string& design, std::size_t bytes) override {
    progress_.set_design(design);
    progress_.set_bytes_total(bytes);
    stream_->Write(progress_);
  }
  bool advance(std::size_t done) override {
    written_ = done;
    if (context_->IsCancelled()) return false;
    // A message a percent, not one per block.
    if (done * 100 / std::max<std::size_t>(1, progress_.bytes_total()) !=
        progress_.bytes_done() * 100 / std::max<std::size_t>(1, progress_.bytes_total())) {
      progress_.set_bytes_done(done);
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
      throw std::invalid_argument("The bitstream is larger than any design the board can hold");
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
Status logged(ServedBoard& s, const std::string& what, Call&& call) {
  Status status = on_board(std::forward<Call>(call));
  if (status.ok())
    s.logger->info("{}: done", what);
  else
    s.logger->info("{}: refused: {}", what, status.error_message());
  return status;
}

v1::BoardState state_of(ServedBoard& s) {
  v1::BoardState state;
  state.set_plugged(s.board.connected());
  state.set_design(s.board.design());
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

Status ServedBoard::admit(grpc::ServerContext* context, bool changes) {
  Status status = access.authenticate(metadata(context, "authorization"));
  if (!status.ok()) {
    logger->warn("Refused a call from {}: {}", context->peer(), status.error_message());
    return status;
  }
  const std::optional<std::string> session = metadata(context, "zelvar-session");
  if (changes) return access.check_holder(session);
  if (session) access.renew(*session);
  return status;
}

Status BoardService::GetIdentity(grpc::ServerContext* context, const v1::GetIdentityRequest*,
                                 v1::Identity* identity) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return on_board([&] {
    const DeviceInfo info = s_.board.read_identity();
    identity->set_vendor(info.vendor);
    identity->set_product(info.product_name);
    identity->set_serial_number(info.serial_number);
    identity->set_version(info.dev_version);
    identity->set_design(s_.board.design());
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
  std::string session;
  const unsigned long long made = s_.access.sessions_made();
  Status status = s_.access.claim(request->client(), context->peer(), session,
                                  metadata(context, "zelvar-session"));
  if (status.ok()) {
    reply->set_session(session);
    reply->set_lease_ms(static_cast<std::uint32_t>(s_.access.lease().count()));
    // A holder renewing its claim is not news.
    if (s_.access.sessions_made() != made)
      s_.logger->info("The board is held by {} at {}", request->client(), context->peer());
  }
  return status;
}

Status BoardService::Release(grpc::ServerContext* context, const v1::ReleaseRequest*,
                             v1::ReleaseReply*) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return s_.access.release(metadata(context, "zelvar-session"));
}

Status BoardService::ListRegisters(grpc::ServerContext* context,
                                   const v1::ListRegistersRequest* request,
                                   v1::ListRegistersReply* reply) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return on_board([&] {
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

Status BoardService::WriteRegister(grpc::ServerContext* context,
                                   const v1::WriteRegisterRequest* request,
                                   v1::WriteRegisterReply* reply) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return on_board([&] {
    const std::int64_t before = s_.board.read_register(request->name());
    s_.board.write_register(request->name(), request->value());
    reply->set_old_value(before);
    reply->set_new_value(s_.board.read_register(request->name()));
    s_.logger->info("Written to the board: {} {} → {}", request->name(), before,
                    reply->new_value());
  });
}

Status BoardService::Program(
    grpc::ServerContext* context,
    grpc::ServerReaderWriter<v1::ProgramProgress, v1::ProgramChunk>* stream) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return on_board([&] {
    ArrivingBitstream bitstream;
    bitstream.receive(stream);
    StreamedProgress progress(context, stream);
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
  return logged(s_, "Reset " + v1::ResetKind_Name(request->kind()), [&] {
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
  return logged(s_, "Mode " + v1::Mode_Name(request->mode()),
                [&] { s_.board.set_mode(mode_of(request->mode())); });
}

Status BoardService::StartAcquisition(grpc::ServerContext* context,
                                      const v1::StartAcquisitionRequest*,
                                      v1::StartAcquisitionReply*) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  Status status = on_board([&] { s_.board.start_acquisition(); });
  // Starting without a design is a state the caller must change first.
  if (status.error_code() == StatusCode::ABORTED && s_.board.design().empty())
    return {StatusCode::FAILED_PRECONDITION, status.error_message()};
  return status;
}

Status BoardService::StopAcquisition(grpc::ServerContext* context,
                                     const v1::StopAcquisitionRequest*, v1::StopAcquisitionReply*) {
  if (Status admitted = s_.admit(context, true); !admitted.ok()) return admitted;
  return on_board([&] { s_.board.stop_acquisition(); });
}

Status BoardService::StreamEvents(grpc::ServerContext* context, const v1::StreamEventsRequest*,
                                  grpc::ServerWriter<v1::EventBatch>* writer) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  if (!s_.board.connected()) return {StatusCode::UNAVAILABLE, NoBoard("no events sent").what()};
  StreamProducer producer;
  Subscription subscription(s_.board.events(), producer);
  const unsigned failures = s_.stream_failures;
  v1::EventBatch out;
  while (!context->IsCancelled()) {
    if (producer.pop(out, 100ms)) {
      out.set_lost_by_board(s_.board.acquisition().estimated_lost() + producer.dropped());
      if (!writer->Write(out)) break;  // the client went away
      continue;
    }
    if (!s_.board.connected())
      return {StatusCode::UNAVAILABLE, NoBoard("the event stream ended").what()};
    if (s_.stream_failures != failures) {
      std::lock_guard lock(s_.failure_mutex);
      return {StatusCode::UNAVAILABLE, "The event stream broke off: " + s_.stream_failure};
    }
  }
  return Status::OK;
}

Status BoardService::ReadAdc(grpc::ServerContext* context, const v1::ReadAdcRequest*,
                             v1::AdcReadingReply* reply) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
  return on_board([&] {
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
  Status status = on_board([&] { reply->set_answer(s_.board.serial_transact(request->line())); });
  if (status.error_code() == StatusCode::FAILED_PRECONDITION)
    s_.logger->info("Serial line refused: {}", status.error_message());
  return status;
}

Status BoardService::WatchBoard(grpc::ServerContext* context, const v1::WatchBoardRequest*,
                                grpc::ServerWriter<v1::BoardState>* writer) {
  if (Status admitted = s_.admit(context, false); !admitted.ok()) return admitted;
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
