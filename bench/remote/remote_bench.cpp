#include "bench/remote/remote_bench.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

#include "bench/board/capture.h"
#include "bench/events/evt2.h"
#include "bench/remote/remote_call.h"

namespace Zelvar_Core::bench::remote {

namespace {

using namespace std::chrono_literals;

}  // namespace

// ---- RemoteStream -------------------------------------------------------------

RemoteStream::RemoteStream(v1::Board::Stub& stub, const std::string& token, EventHub& hub)
    : stub_(stub), token_(token), hub_(hub) {
  if (!token_.empty()) context_.AddMetadata("authorization", "Bearer " + token_);
  thread_ = std::thread([this] { run(); });
}

RemoteStream::~RemoteStream() {
  context_.TryCancel();
  thread_.join();
}

std::string RemoteStream::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void RemoteStream::run() {
  auto reader = stub_.StreamEvents(&context_, v1::StreamEventsRequest());
  v1::EventBatch batch;
  evt2::Decoder decoder;  // kept across batches: the board's clock wraps over hours
  std::vector<std::uint32_t> words;
  std::vector<Event> events;
  while (reader->Read(&batch)) {
    words.resize(batch.evt2_words().size() / sizeof(std::uint32_t));
    std::memcpy(words.data(), batch.evt2_words().data(), words.size() * sizeof(std::uint32_t));
    events.clear();
    decoder.decode(words.data(), words.size(), events);
    lost_ = batch.lost_by_board();
    hub_.publish(events.data(), events.size());
  }
  const grpc::Status status = reader->Finish();
  std::lock_guard lock(mutex_);
  failure_ = status.error_code() == grpc::StatusCode::CANCELLED ? "cancelled"
             : status.ok()                                      ? "the board ended the stream"
                                                                : status.error_message();
}

// ---- RemoteBench ----------------------------------------------------------------

RemoteBench::RemoteBench(const std::string& address, const std::string& token, BenchFolders folders,
                         const std::atomic<bool>& aborted)
    : address_(address),
      token_(token),
      folders_(std::move(folders)),
      aborted_(aborted),
      channel_(board_channel(address)),
      stub_(v1::Board::NewStub(channel_)) {
  v1::Identity identity;
  grpc::Status status = stub_->GetIdentity(context(3).get(), v1::GetIdentityRequest(), &identity);
  // Nobody there, a server that never answers, or one that does not speak
  // the protocol: in each case no board server answers.
  if (no_server_answers(status)) throw std::runtime_error("No board server answers at " + address_);
  if (!status.ok())
    throw std::runtime_error("The board at " + address_ + ": " + status.error_message());
  identity_ = identity.vendor() + " " + identity.product() + " " + identity.serial_number() + " " +
              identity.version() + " at " + address_;
  v1::ClaimRequest claim;
  claim.set_client("pravel --run");
  v1::ClaimReply claimed;
  status = stub_->Claim(context().get(), claim, &claimed);
  if (!status.ok())
    throw std::runtime_error("The board at " + address_ + ": " + status.error_message());
  session_ = claimed.session();
  events_ = std::make_unique<RemoteStream>(*stub_, token_, hub_);
}

RemoteBench::~RemoteBench() {
  events_.reset();
  v1::ReleaseReply released;
  stub_->Release(context(1).get(), v1::ReleaseRequest(), &released);  // it lapses anyway
}

std::unique_ptr<grpc::ClientContext> RemoteBench::context(double seconds) const {
  return call_context(token_, session_, seconds);
}

void RemoteBench::check(const grpc::Status& status, const std::string& what) const {
  throw_unless_ok(status, address_, what);
}

void RemoteBench::program(const std::string& path) {
  const std::string bytes = read_bitstream_file(path);
  auto call = context(120);
  auto stream = stub_->Program(call.get());
  v1::ProgramChunk chunk;
  chunk.mutable_header()->set_file_name(std::filesystem::path(path).filename().string());
  chunk.mutable_header()->set_total_bytes(bytes.size());
  bool sent = stream->Write(chunk);
  for (std::size_t at = 0; sent && at < bytes.size(); at += 1 << 20) {
    chunk.set_data(bytes.substr(at, 1 << 20));
    sent = stream->Write(chunk);
  }
  stream->WritesDone();
  v1::ProgramProgress progress;
  while (stream->Read(&progress)) {
    if (aborted_) call->TryCancel();
  }
  check(stream->Finish(), "bitstream not written");
}

void RemoteBench::set(const std::string& name, std::int64_t value) {
  v1::WriteRegisterRequest request;
  request.set_name(name);
  request.set_value(value);
  v1::WriteRegisterReply reply;
  check(stub_->WriteRegister(context().get(), request, &reply), name + " not written");
}

std::vector<Register> RemoteBench::registers() {
  std::vector<Register> all;
  for (v1::Bank bank : {v1::BANK_DEVICE, v1::BANK_DAC, v1::BANK_CHIP}) {
    v1::ListRegistersRequest request;
    request.set_bank(bank);
    v1::ListRegistersReply reply;
    check(stub_->ListRegisters(context().get(), request, &reply), "registers not read");
    for (const auto& r : reply.registers()) all.push_back({r.name(), r.value(), r.min(), r.max()});
  }
  return all;
}

Register RemoteBench::register_named(const std::string& name) {
  for (auto& r : registers())
    if (r.name == name) return r;
  throw std::out_of_range("The board has no register named " + name);
}

std::int64_t RemoteBench::get(const std::string& name) { return register_named(name).value; }

v1::BoardState RemoteBench::state() {
  auto call = context(3);
  auto watch = stub_->WatchBoard(call.get(), v1::WatchBoardRequest());
  v1::BoardState state;
  const bool read = watch->Read(&state);
  call->TryCancel();
  const grpc::Status status = watch->Finish();
  if (!read)
    check(status.ok() ? grpc::Status(grpc::StatusCode::UNAVAILABLE, "") : status, "state not read");
  return state;
}

bool RemoteBench::connected() {
  try {
    return state().plugged();
  } catch (const std::exception&) {
    return false;
  }
}

void RemoteBench::wait(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(std::max(0.0, seconds)));
  while (Clock::now() < end) {
    if (aborted_) throw Aborted("aborted");
    // The stream is the board's pulse: when it ends, the board or its server has gone.
    if (const std::string failure = events_->failure(); !failure.empty()) {
      // The board's own sentence when it has one; otherwise its server went away.
      if (failure.rfind("No board is connected", 0) == 0 ||
          failure.rfind("The event stream", 0) == 0)
        throw std::runtime_error(failure);
      throw std::runtime_error("the board server at " + address_ + " stopped answering (" +
                               failure + ")");
    }
    const Clock::duration left = end - Clock::now();
    std::this_thread::sleep_for(std::min<Clock::duration>(20ms, left));
  }
  if (aborted_) throw Aborted("aborted");
}

void RemoteBench::stream() {
  if (state().acquiring()) return;
  v1::StartAcquisitionReply started;
  check(stub_->StartAcquisition(context().get(), v1::StartAcquisitionRequest(), &started),
        "acquisition not started");
  started_stream_ = true;
}

std::vector<double> RemoteBench::read_adc() {
  v1::AdcReadingReply reply;
  check(stub_->ReadAdc(context().get(), v1::ReadAdcRequest(), &reply), "ADC not read");
  return adc_values(reply);
}

Measurement RemoteBench::measure(double seconds) {
  stream();
  Settings in_force_then = in_force();
  Measurement m = measure_stream(
      hub_, seconds, [this] { return read_adc(); }, [this](double s) { wait(s); });
  m.in_force = std::move(in_force_then);
  return m;
}

RecordingStats RemoteBench::record(double seconds) {
  Recorder recorder;
  Settings header = {{"board", identity_}};
  for (auto& s : in_force()) header.push_back(std::move(s));
  start_recording(recorder, folders_.recordings, header);
  return record_stream(
      hub_, recorder, [this] { stream(); }, [this] { return events_->lost_by_board(); },
      [this, seconds] { wait(seconds); });
}

std::string RemoteBench::capture() {
  stream();
  return capture_stream(hub_, capture_min, capture_max, folders_.captures.string(),
                        [this](double s) { wait(s); });
}

Settings RemoteBench::settings() {
  Settings settings = {{"date", local_time("%Y-%m-%d %H:%M:%S")}, {"board", identity_}};
  for (auto& setting : in_force()) settings.push_back(std::move(setting));
  return settings;
}

Settings RemoteBench::in_force() {
  const v1::BoardState now = state();
  const int mode = now.mode() - v1::MODE_EVENT_STREAM;
  Settings settings = {{"design", now.design().empty() ? "none" : now.design()},
                       {"mode", mode >= 0 && mode < static_cast<int>(chip_modes().size())
                                    ? chip_modes()[static_cast<std::size_t>(mode)]
                                    : "unknown"}};
  for (const auto& r : registers()) settings.emplace_back(r.name, std::to_string(r.value));
  return settings;
}

void RemoteBench::finish() {
  if (!started_stream_) return;
  started_stream_ = false;
  v1::StopAcquisitionReply stopped;
  stub_->StopAcquisition(context().get(), v1::StopAcquisitionRequest(), &stopped);
}

}  // namespace Zelvar_Core::bench::remote
