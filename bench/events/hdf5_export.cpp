#include "bench/events/hdf5_export.h"

#include <hdf5.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/board/errors.h"
#include "bench/events/recording_file.h"

namespace Zelvar_Core::bench {

namespace {

constexpr hsize_t kChunk = 1u << 15;  // elements per chunk: small chunks pack fastest

// Closes an HDF5 handle however the export ends.
class Handle {
 public:
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() {
    if (id_ >= 0) close_(id_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator hid_t() const { return id_; }
  bool ok() const { return id_ >= 0; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

// One growing, chunked, compressed one-dimensional dataset. The filter is
// HDF5's own scale-offset for integers, lossless: each chunk keeps its
// values less its minimum in as few bits as they need (times over a chunk
// span milliseconds: about 16 bits instead of 64). It packs at several
// times the speed of deflate, and every HDF5 reader has it.
class Column {
 public:
  Column(hid_t group, const char* name, hid_t type) : type_(type) {
    const hsize_t zero = 0, unlimited = H5S_UNLIMITED;
    Handle space(H5Screate_simple(1, &zero, &unlimited), H5Sclose);
    Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    H5Pset_chunk(properties, 1, &kChunk);
    H5Pset_scaleoffset(properties, H5Z_SO_INT, H5Z_SO_INT_MINBITS_DEFAULT);
    id_ = H5Dcreate2(group, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
    if (id_ < 0) throw std::runtime_error(std::string("cannot make the dataset ") + name);
  }
  ~Column() {
    if (id_ >= 0) H5Dclose(id_);
  }
  void append(const void* data, hsize_t count) {
    if (count == 0) return;
    const hsize_t grown = size_ + count;
    H5Dset_extent(id_, &grown);
    Handle file_space(H5Dget_space(id_), H5Sclose);
    H5Sselect_hyperslab(file_space, H5S_SELECT_SET, &size_, nullptr, &count, nullptr);
    Handle memory_space(H5Screate_simple(1, &count, nullptr), H5Sclose);
    if (H5Dwrite(id_, type_, memory_space, file_space, H5P_DEFAULT, data) < 0)
      throw std::runtime_error("cannot write the events");
    size_ = grown;
  }

 private:
  hid_t type_;
  hid_t id_ = -1;
  hsize_t size_ = 0;
};

// A UTF-8 text of any length, which Python reads as a str.
void text_attribute(hid_t object, const std::string& name, const std::string& value) {
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  H5Tset_size(type, H5T_VARIABLE);
  H5Tset_cset(type, H5T_CSET_UTF8);
  Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  Handle attribute(H5Acreate2(object, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose);
  const char* text = value.c_str();
  if (attribute.ok()) H5Awrite(attribute, type, &text);
}

}  // namespace

ExportStats export_hdf5(const std::string& recording, const std::string& out,
                        const std::function<bool(double)>& progress) {
  const auto started = std::chrono::steady_clock::now();
  RecordingReader reader(recording);            // says why when it cannot be read
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);  // the library prints nothing of its own
  Handle file(H5Fcreate(out.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
  if (!file.ok()) throw std::runtime_error("Cannot write the export " + out);
  Handle group(H5Gcreate2(file, "events", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Gclose);
  for (const auto& [key, value] : reader.header().header.fields)
    if (!key.empty()) text_attribute(group, key, value);
  text_attribute(group, "source", recording);
  ExportStats stats;
  // A reader thread decodes and splits the next chunk while this one packs
  // and writes the last: the two halves of the work run side by side.
  struct Columns {
    std::vector<std::uint16_t> x, y;
    std::vector<std::uint8_t> p;
    std::vector<std::int64_t> t;
    double done = 0;  // fraction of the file read
  };
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Columns> full;
  bool finished = false, cancel = false;
  std::string read_error;
  std::thread decoder([&] {
    try {
      std::vector<Event> events;
      while (true) {
        events.clear();
        if (!reader.next(events, kChunk)) break;
        Columns c;
        c.x.resize(events.size());
        c.y.resize(events.size());
        c.p.resize(events.size());
        c.t.resize(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
          c.x[i] = events[i].x;
          c.y[i] = events[i].y;
          c.p[i] = events[i].p;
          c.t[i] = events[i].t;
        }
        c.done = static_cast<double>(reader.offset()) / reader.file_bytes();
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return full.size() < 4 || cancel; });
        if (cancel) return;
        full.push_back(std::move(c));
        ready.notify_all();
      }
    } catch (const std::exception& e) {
      std::lock_guard lock(mutex);
      read_error = e.what();
    }
    std::lock_guard lock(mutex);
    finished = true;
    ready.notify_all();
  });
  auto stop_decoder = [&] {
    {
      std::lock_guard lock(mutex);
      cancel = true;
    }
    ready.notify_all();
    decoder.join();
  };
  try {
    Column xs(group, "x", H5T_NATIVE_UINT16), ys(group, "y", H5T_NATIVE_UINT16),
        ps(group, "p", H5T_NATIVE_UINT8), ts(group, "t", H5T_NATIVE_INT64);
    while (true) {
      Columns c;
      {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return !full.empty() || finished; });
        if (full.empty()) break;
        c = std::move(full.front());
        full.pop_front();
        ready.notify_all();
      }
      xs.append(c.x.data(), c.x.size());
      ys.append(c.y.data(), c.y.size());
      ps.append(c.p.data(), c.p.size());
      ts.append(c.t.data(), c.t.size());
      stats.events += c.t.size();
      if (progress && !progress(c.done)) throw Cancelled("Export cancelled");
    }
  } catch (const Cancelled&) {
    stop_decoder();
    throw;
  } catch (const std::exception& e) {
    stop_decoder();
    throw std::runtime_error("Cannot write the export " + out + ": " + e.what());
  }
  stop_decoder();
  if (!read_error.empty()) throw std::runtime_error(read_error);
  stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return stats;
}

}  // namespace Zelvar_Core::bench
