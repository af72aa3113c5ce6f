#include "bench/remote/protocol/remote_call.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "bench/board/board.h"
#include "bench/board/text.h"

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

std::shared_ptr<grpc::ChannelCredentials> board_credentials(const std::string& tls_ca) {
  if (tls_ca.empty()) return grpc::InsecureChannelCredentials();
  grpc::SslCredentialsOptions options;
  options.pem_root_certs = tls_ca;
  return grpc::SslCredentials(options);
}

std::string no_answer_sentence(const grpc::Status& status, const std::string& address, bool tls) {
  // The library tells a failed handshake only in its words; the user is
  // told what to do about it.
  const std::string& message = status.error_message();
  if (tls && (message.find("andshake") != std::string::npos ||
              message.find("CERTIFICATE_VERIFY_FAILED") != std::string::npos))
    return "The board server at " + address +
           " is refused: its TLS certificate is not signed by the CA given with --tls-ca";
  if (tls) return "No board server answers at " + address + " over TLS";
  return "No board server answers at " + address;
}

std::shared_ptr<grpc::Channel> board_channel(const std::string& address, const std::string& tls_ca,
                                             std::size_t largest_message) {
  grpc::ChannelArguments arguments;
  if (largest_message > 0)
    arguments.SetMaxReceiveMessageSize(
        static_cast<int>(std::min<std::size_t>(largest_message, std::numeric_limits<int>::max())));
  // The library's own backoff grows to minutes; a bench waits for a
  // restarted server for about a second at most.
  arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 100);
  arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 500);
  // The least time one connection attempt is given, handshake included: a
  // distant server, a TLS handshake or a busy machine take more than the
  // pause between attempts (an attempt cut at 100 ms never got through).
  arguments.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, static_cast<int>(kConnectAttempt.count()));
  // A server that froze or was cut off answers no ping: its calls fail
  // within kKeepalive + kPingTimeout (3 s) instead of waiting on a dead
  // connection, whether or not a call is under way.
  arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, static_cast<int>(kKeepalive.count()));
  arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, static_cast<int>(kPingTimeout.count()));
  arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  arguments.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
  return grpc::CreateCustomChannel(address, board_credentials(tls_ca), arguments);
}

std::string this_host() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
  return name;
}

v1::Reason reason_of(const grpc::ClientContext& context) {
  const auto& trailing = context.GetServerTrailingMetadata();
  const auto found = trailing.find("zelvar-reason");
  if (found == trailing.end()) return v1::REASON_UNSPECIFIED;
  v1::Reason reason = v1::REASON_UNSPECIFIED;
  if (!v1::Reason_Parse(std::string(found->second.data(), found->second.size()), &reason))
    return v1::REASON_UNSPECIFIED;
  return reason;
}

std::string server_sentence(const std::string& message) {
  std::string shown;
  for (std::size_t at = 0; at < message.size() && shown.size() < kLongestSentence;) {
    // One character at a time: its UTF-8 bytes, or a "?" for what is not printable.
    std::size_t length = 1;
    const auto lead = static_cast<unsigned char>(message[at]);
    if (lead >= 0xf0)
      length = 4;
    else if (lead >= 0xe0)
      length = 3;
    else if (lead >= 0xc0)
      length = 2;
    const std::string one = message.substr(at, length);
    shown += text_fault(one).empty() ? one : "?";
    at += text_fault(one).empty() ? one.size() : 1;
  }
  if (shown.size() < message.size() && shown.size() >= kLongestSentence) shown += "...";
  return shown;
}

bool no_server_answers(const grpc::Status& status, v1::Reason reason) {
  if (reason != v1::REASON_UNSPECIFIED) return false;  // a board server answered, and why
  switch (status.error_code()) {
    case grpc::StatusCode::DEADLINE_EXCEEDED:
    case grpc::StatusCode::UNIMPLEMENTED:
    case grpc::StatusCode::INTERNAL:
    case grpc::StatusCode::UNAVAILABLE:
      return true;
    default:
      return false;
  }
}

void throw_unless_ok(const grpc::Status& status, v1::Reason reason, const std::string& address,
                     const std::string& what) {
  if (status.ok()) return;
  const std::string message = server_sentence(status.error_message());
  switch (reason) {
    case v1::OUT_OF_RANGE:
      throw RangeError(message);
    case v1::NOT_FOUND:
      throw std::out_of_range(message);
    case v1::CANCELLED:
      throw Cancelled(message.empty() ? "Cancelled" : message);
    case v1::REASON_UNSPECIFIED:
      break;  // decided by the status code below
    default:
      throw std::runtime_error(message);  // a board server answered, in its words
  }
  switch (status.error_code()) {
    case grpc::StatusCode::OUT_OF_RANGE:
      throw RangeError(message);
    case grpc::StatusCode::NOT_FOUND:
      throw std::out_of_range(message);
    case grpc::StatusCode::CANCELLED:
      throw Cancelled(message.empty() ? "Cancelled" : message);
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::DEADLINE_EXCEEDED:
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
