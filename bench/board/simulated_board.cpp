#include "bench/board/simulated_board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "bench/board/bitstream.h"

namespace Zelvar_Core::bench {

SimulatedDevice::SimulatedDevice(SimulatedSensor sensor)
    : SimulatedDevice(sensor, declaration_of(sensor)) {}

SimulatedDevice::SimulatedDevice(SimulatedSensor sensor, BoardDeclaration declaration)
    : sensor_(sensor),
      declaration_(std::move(declaration)),
      registers_(declaration_),
      adc_(registers_, declaration_.adc_channels),
      acquisition_(
          hub_, clock_, [this] { return settings(); },
          [this](const std::string& what) { tell(stream_failure, what); }, declaration_.geometry) {
  is_connected = true;
  info = identity();
  design_ = flash_design();
  hub_.set_geometry(declaration_.geometry);
  if (sensor_ == SimulatedSensor::Aer320) adc_.vdd = 1.2;  // a 1.2 V core
}

DeviceInfo SimulatedDevice::identity() const {
  if (sensor_ == SimulatedSensor::Aer320)
    return {"Zelvar Labs", "AER-320 sensor board (simulated)", "SIM-0320", "1.0.3"};
  return {"Zelvar Labs", "AER-640 sensor board (simulated)", "SIM-0001", "1.4.2"};
}

std::string SimulatedDevice::flash_design() const {
  return sensor_ == SimulatedSensor::Aer320 ? "aer320_stream (flash)" : kFlashDesign;
}

SimulatedDevice::~SimulatedDevice() { acquisition_.stop(); }

void SimulatedDevice::set_connected(bool connected) {
  if (!connected) stop_acquisition();
  connected_ = connected;
  is_connected = connected;
  adc_.powered = connected;
  // Powered up, the board loads the design kept in its flash; unplugged, it
  // has none and no identity.
  set_design(connected ? flash_design() : "");
  info = connected ? identity() : DeviceInfo{};
  tell(connection_listener);
}

std::string SimulatedDevice::serial_transact(const std::string& line) const {
  if (!connected_) throw NoBoard("nothing sent");
  require_serial_port();
  const DeviceInfo info = identity();
  if (line == "ID?") return info.product_name + " " + info.serial_number;
  if (line == "VER?") return info.dev_version;
  if (line.empty()) return "ERR empty command";
  return "ACK " + line;
}

DeviceInfo SimulatedDevice::read_identity() const {
  if (!connected_) throw NoBoard("identity not read");
  return identity();
}

std::string SimulatedDevice::design() const {
  std::lock_guard lock(design_mutex_);
  return design_;
}

void SimulatedDevice::set_design(const std::string& design) {
  std::lock_guard lock(design_mutex_);
  design_ = design;
}

void SimulatedDevice::serial_transact(const std::string& line, SerialDone done) {
  done(serial_transact(line), "");
}

void SimulatedDevice::reset(const std::string& name, std::function<void(const std::string&)> done) {
  if (!connected_) throw NoBoard("reset not sent");
  // A device reset restarts the board's clock with the rest of its logic.
  if (name == "reset_device") clock_.reset();
  done("");
}

// ---- programming ---------------------------------------------------------------

namespace {

std::string file_name(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An open file descriptor, closed however programming ends.
class OpenFile {
 public:
  explicit OpenFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Ends the observer's run however programming ends.
class ObservedRun {
 public:
  ObservedRun(ProgrammingObserver* observer, const std::string& design, std::size_t bytes)
      : observer_(observer) {
    if (observer_) observer_->begin(design, bytes);
  }
  ~ObservedRun() {
    if (observer_) observer_->end();
  }
  bool advance(std::size_t done) { return observer_ == nullptr || observer_->advance(done); }

 private:
  ProgrammingObserver* observer_;
};

// Reads up to `want` bytes at the file's position; fewer only at its end.
std::string read_some(int fd, std::size_t want, const std::string& path) {
  std::string bytes(want, '\0');
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(fd, bytes.data() + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw std::runtime_error("Cannot read the bitstream " + path + ": " + std::strerror(errno));
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace

void SimulatedDevice::program(const std::string& path, ProgrammingObserver* observer) {
  if (!connected_) throw NoBoard("bitstream not written");
  std::unique_lock busy(programming_, std::try_to_lock);
  if (!busy.owns_lock())
    throw std::runtime_error("The board is busy: another programming run is under way");
  // Non-blocking, so that a named pipe cannot hold the program; only a
  // regular file is read.
  OpenFile file(path);
  if (file.fd() < 0) {
    throw std::runtime_error("Cannot open the bitstream " + path + ": " +
                             (errno == ENOENT ? "no such file" : std::strerror(errno)));
  }
  struct stat info {};
  if (::fstat(file.fd(), &info) != 0)
    throw std::runtime_error("Cannot read the bitstream " + path + ": " + std::strerror(errno));
  if (S_ISDIR(info.st_mode))
    throw std::runtime_error("Cannot read the bitstream " + path + ": it is a folder");
  if (!S_ISREG(info.st_mode))
    throw std::runtime_error("Cannot read the bitstream " + path + ": it is not a regular file");
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size == 0) throw BadBitstream("The bitstream " + path + " is empty");
  if (size > kMaxDesignBytes) {
    throw std::runtime_error("The bitstream " + path + " is " + size_text(size) +
                             ", larger than any design the board can hold (" +
                             size_text(kMaxDesignBytes) + ")");
  }
  // The header is at most four 64 KiB fields and the length.
  const std::string head = read_some(file.fd(), std::min<std::uint64_t>(size, 300 * 1024), path);
  std::optional<BitstreamHeader> header;
  try {
    header = parse_bitstream_header(head, size);
  } catch (const std::invalid_argument& e) {
    throw BadBitstream("The bitstream " + path + " is damaged: " + e.what());
  }
  const std::string design = header && !header->design.empty() ? header->design : file_name(path);
  // A design named by its file is shown and sent as any other name.
  if (const std::string fault = text_fault(design); !fault.empty())
    throw BadBitstream("The bitstream " + path + " cannot name its design: its file name holds " +
                       fault);

  stop_acquisition();
  ObservedRun run(observer, design, size);
  set_design("");  // the board drops its configuration when a new one starts
  constexpr std::size_t kChunk = 64 * 1024;
  const bool fail = fail_next_program.exchange(false);
  if (::lseek(file.fd(), 0, SEEK_SET) != 0)
    throw std::runtime_error("Cannot read the bitstream " + path + ": " + std::strerror(errno));
  for (std::uint64_t done = 0; done < size;) {
    const std::string chunk =
        read_some(file.fd(), std::min<std::uint64_t>(kChunk, size - done), path);
    if (chunk.empty())
      throw std::runtime_error("The bitstream " + path + " shrank while it was read");
    done += chunk.size();
    std::this_thread::sleep_for(std::chrono::duration<double>(chunk.size() / bytes_per_second));
    if (!connected_) throw NoBoard("programming stopped part way");
    if (fail && done * 10 >= size * 4) {
      throw std::runtime_error("Programming failed at " + std::to_string(done * 100 / size) +
                               "%: the board stopped answering");
    }
    if (!run.advance(done)) throw Cancelled("Programming cancelled");
  }
  set_design(design);
  tell(stream_listener);  // whoever shows the design hears of it
}

// ---- registers, mode and stream ------------------------------------------------

std::vector<Register> SimulatedDevice::read_bank(Bank bank) {
  if (!connected_) throw NoBoard("registers not read");
  if (fail_next_register_read.exchange(false))
    throw std::runtime_error("Register read failed: the board did not answer");
  return registers_.bank(bank);
}

std::int64_t SimulatedDevice::read_register(const std::string& name) const {
  if (!connected_) throw NoBoard(name + " not read");
  return registers_.read(name);
}

void SimulatedDevice::write_register(const std::string& name, std::int64_t value) {
  if (!connected_) throw NoBoard(name + " not written");
  if (registers_.find(name).read_only) throw Refused(name + " is read-only: nothing was written");
  registers_.write(name, value);
  tell(register_listener, name);
}

void SimulatedDevice::write_registers(const std::vector<RegisterWrite>& writes) {
  if (!connected_) throw NoBoard("registers not written");
  registers_.write_all(writes);
  if (register_listener)
    for (const auto& w : writes) register_listener(w.name);
}

BiasPoint SimulatedDevice::bias_point() const {
  auto value = [this](const char* name) { return static_cast<int>(registers_.read(name)); };
  BiasPoint bias;
  if (sensor_ == SimulatedSensor::Aer320) {
    // Its 10-bit DACs in millivolts, the thresholds set either side of a
    // fixed 500 mV reference and no bias gain: its defaults make the same
    // scene as the AER-640's.
    bias.vbias_pr = value("PR_BIAS") * 3;
    bias.vbias_ref = 500 * 4;
    bias.vth_on = value("THR_ON") * 4;
    bias.vth_off = value("THR_OFF") * 4;
  } else {
    bias.vbias_pr = value("VBIAS_PR");
    bias.vbias_ref = value("VBIAS_REF");
    bias.vth_on = value("VTH_ON");
    bias.vth_off = value("VTH_OFF");
    bias.bias_gain = value("BIAS_GAIN");
  }
  bias.aer_enabled = value("EN_AER") != 0;
  bias.out_of_reset = value("RST_N") != 0;
  return bias;
}

void SimulatedDevice::change_mode(SensorMode mode) {
  if (!connected_) throw NoBoard("mode not changed");
  mode_ = mode;
}

void SimulatedDevice::start_acquisition() {
  {
    std::lock_guard lock(stream_);
    if (!connected_) throw NoBoard("acquisition not started");
    if (design().empty())
      throw std::runtime_error(
          "No design on the board: program a bitstream before starting the acquisition");
    if (acquisition_.running()) return;
    acquisition_.start();
  }
  tell(stream_listener);
}

void SimulatedDevice::stop_acquisition() {
  bool was_running;
  {
    std::lock_guard lock(stream_);
    was_running = acquisition_.running();
    acquisition_.stop();
  }
  if (was_running) tell(stream_listener);
}

}  // namespace Zelvar_Core::bench
