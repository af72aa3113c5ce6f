#include "bench/remote/protocol/remote_call.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "bench/board/board.h"

namespace Zelvar_Core::bench::remote {

std::unique_ptr<grpc::ClientContext> call_context(const std::string& token,
                                                  const std::string& session, double seconds) {
  auto context = std::make_unique<grpc::ClientContext>();
  context->set_deadline(std::chrono::system_clock::now() +
                        std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::duration<double>(seconds)));
  if (!token.empty()) context->AddMetadata("authorization", "Bearer " + token);
  if (!session.empty()) context->AddMetadata("zelvar-session", session);
  return context;
}

std::shared_ptr<grpc::Channel> board_channel(const std::string& address) {
  grpc::ChannelArguments arguments;
  // The library's own backoff grows to minutes; a bench waits for a
  // restarted server for about a second at most.
  arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 100);
  arguments.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, 100);
  arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 500);
  // A server that froze or was cut off answers no ping: its calls fail
  // within kKeepalive + kPingTimeout (3 s) instead of waiting on a dead
  // connection, whether or not a call is under way.
  arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, static_cast<int>(kKeepalive.count()));
  arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, static_cast<int>(kPingTimeout.count()));
  arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  arguments.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
  return grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), arguments);
}

std::string this_host() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
  return name;
}

bool no_server_answers(const grpc::Status& status) {
  switch (status.error_code()) {
    case grpc::StatusCode::DEADLINE_EXCEEDED:
    case grpc::StatusCode::UNIMPLEMENTED:
    case grpc::StatusCode::INTERNAL:
      return true;
    case grpc::StatusCode::UNAVAILABLE:
      // A board server that answers says why in its own sentence.
      return status.error_message().rfind("No board is connected", 0) != 0;
    default:
      return false;
  }
}

void throw_unless_ok(const grpc::Status& status, const std::string& address,
                     const std::string& what) {
  const std::string& message = status.error_message();
  switch (status.error_code()) {
    case grpc::StatusCode::OK:
      return;
    case grpc::StatusCode::OUT_OF_RANGE:
      throw RangeError(message);
    case grpc::StatusCode::NOT_FOUND:
      throw std::out_of_range(message);
    case grpc::StatusCode::CANCELLED:
      throw Cancelled(message.empty() ? "Cancelled" : message);
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      if (message.rfind("No board is connected", 0) == 0) throw std::runtime_error(message);
      throw std::runtime_error("The board server at " + address + " does not answer: " + what);
    default:
      throw std::runtime_error(message);
  }
}

std::string read_bitstream_file(const std::string& path, std::uint64_t largest) {
  // Only a regular file the board can hold is read: never a FIFO or a device.
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status))
    throw std::runtime_error("Cannot read the bitstream " + path + ": no such file");
  if (std::filesystem::is_directory(status))
    throw std::runtime_error("Cannot read the bitstream " + path + ": it is a folder");
  if (!std::filesystem::is_regular_file(status))
    throw std::runtime_error("Cannot read the bitstream " + path + ": it is not a regular file");
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > largest)
    throw std::runtime_error("The bitstream " + path +
                             " is larger than any design the board can hold");
  if (size == 0) throw std::runtime_error("The bitstream " + path + " is empty");
  std::ifstream in(path, std::ios::binary);
  std::string bytes(size, '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(size)))
    throw std::runtime_error("Cannot read the bitstream " + path + ": it is shorter than it was");
  return bytes;
}

std::vector<double> adc_values(const v1::AdcReadingReply& reply,
                               const std::vector<AdcChannelDeclaration>& channels) {
  std::vector<double> values(channels.size(), std::numeric_limits<double>::quiet_NaN());
  for (const auto& channel : reply.channels())
    for (std::size_t i = 0; i < values.size(); ++i)
      if (channel.name() == channels[i].name) values[i] = channel.value();
  return values;
}

Bank bank_of(v1::Bank bank) {
  switch (bank) {
    case v1::BANK_DEVICE:
      return Bank::Device;
    case v1::BANK_DAC:
      return Bank::Dac;
    case v1::BANK_CHIP:
      return Bank::Chip;
    default:
      throw std::invalid_argument("Name a bank of registers: device, DAC or chip");
  }
}

v1::Bank wire_bank(Bank bank) {
  switch (bank) {
    case Bank::Device:
      return v1::BANK_DEVICE;
    case Bank::Dac:
      return v1::BANK_DAC;
    case Bank::Chip:
      return v1::BANK_CHIP;
  }
  return v1::BANK_UNSPECIFIED;
}

SensorMode mode_of(v1::Mode mode) {
  if (mode < v1::MODE_EVENT_STREAM || mode > v1::MODE_STANDBY)
    throw std::invalid_argument("Name a mode: event stream, test pattern or standby");
  return static_cast<SensorMode>(mode - v1::MODE_EVENT_STREAM);
}

v1::Mode wire_mode(SensorMode mode) {
  return static_cast<v1::Mode>(static_cast<int>(mode) + v1::MODE_EVENT_STREAM);
}

v1::ResetKind wire_reset(const std::string& name) {
  if (name == "reset_device") return v1::RESET_DEVICE;
  if (name == "reset_fifo") return v1::RESET_FIFO;
  if (name == "reset_ram") return v1::RESET_RAM;
  if (name == "reset_aer") return v1::RESET_AER;
  if (name == "reset_chip") return v1::RESET_CHIP;
  throw std::invalid_argument("Name a reset: device, FIFO, RAM, AER or chip");
}

}  // namespace Zelvar_Core::bench::remote
