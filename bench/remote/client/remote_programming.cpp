// A remote board's programming: the bitstream streamed to the server in
// chunks on a thread of its own, its progress told to the observer on the
// calling thread, which a dialog there keeps alive between replies.
#include <filesystem>

#include "bench/board/bitstream.h"
#include "bench/remote/client/remote_board.h"
#include "bench/remote/client/remote_link.h"
#include "bench/remote/client/reply_check.h"

namespace Zelvar_Core::bench::remote {

using namespace std::chrono_literals;

namespace {

// The Program call's progress as it comes back, for the thread that waits on
// it; shared with the sender, which holds nothing of the caller's.
struct ProgrammingCall {
  ProgrammingCall(std::uint64_t total, ProgressCheck::Clock clock)
      : check(total, std::move(clock)) {}
  std::mutex mutex;
  std::condition_variable changed;
  ProgressCheck check;   // every reply, and the time since the last progress
  std::string rejected;  // the sentence of a reply the bench does not take
  bool finished = false;
  grpc::Status status;
  v1::Reason reason = v1::REASON_UNSPECIFIED;
};

// The sender ends with the run on every path: an observer that throws
// cancels the call and waits for the thread before the exception goes on.
struct JoinedSender {
  std::thread thread;
  std::shared_ptr<grpc::ClientContext> call;
  ~JoinedSender() {
    if (!thread.joinable()) return;
    call->TryCancel();
    thread.join();
  }
};

}  // namespace

void RemoteBoard::program(const std::string& path, ProgrammingObserver* observer) {
  if (!connected()) throw NoBoard("bitstream not written");
  // A design larger than the board says it holds is never sent.
  std::string bytes = read_bitstream_file(path, declaration().largest_design_bytes);
  std::optional<BitstreamHeader> header;
  try {
    header = parse_bitstream_header(bytes.substr(0, 300 * 1024), bytes.size());
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error("The bitstream " + path + " is damaged: " + e.what());
  }
  const std::string file = std::filesystem::path(path).filename().string();
  const std::string design = header && !header->design.empty() ? header->design : file;
  const auto link = current_link();
  if (!link) throw NoBoard("bitstream not written");

  JoinedSender sender;
  sender.call = context(*link, 600);
  const auto shared_bytes = std::make_shared<const std::string>(std::move(bytes));
  const auto progress_shared =
      std::make_shared<ProgrammingCall>(shared_bytes->size(), programming_clock);
  ProgrammingCall& progress = *progress_shared;
  sender.thread = std::thread(
      [link, call = sender.call, file, bytes = shared_bytes, progress = progress_shared] {
        auto stream = link->stub->Program(call.get());
        v1::ProgramChunk chunk;
        chunk.mutable_header()->set_file_name(file);
        chunk.mutable_header()->set_total_bytes(bytes->size());
        bool sent = stream->Write(chunk);
        for (std::size_t at = 0; sent && at < bytes->size(); at += 1 << 20) {
          chunk.set_data(bytes->substr(at, 1 << 20));
          sent = stream->Write(chunk);
        }
        stream->WritesDone();
        v1::ProgramProgress answer;
        while (stream->Read(&answer)) {
          std::lock_guard lock(progress->mutex);
          try {
            progress->check.reply(answer);
          } catch (const BadReply& e) {
            progress->rejected = e.what();
            call->TryCancel();  // the board is asked what it holds once the call has ended
            break;
          }
          progress->changed.notify_all();
        }
        const grpc::Status status = stream->Finish();
        std::lock_guard lock(progress->mutex);
        progress->status = status;
        progress->reason = reason_of(*call);
        if (status.ok() && progress->rejected.empty()) {
          try {
            progress->check.ended();
          } catch (const BadReply& e) {
            progress->rejected = e.what();
          }
        }
        progress->finished = true;
        progress->changed.notify_all();
      });
  // The observer is told on this thread; a dialog there stays alive between replies.
  if (observer) observer->begin(design, shared_bytes->size());
  bool cancelled = false;
  for (;;) {
    std::unique_lock lock(progress.mutex);
    progress.changed.wait_for(lock, 50ms, [&] { return progress.finished; });
    if (progress.finished) break;
    const std::uint64_t done = progress.check.bytes_done();
    if (const std::string stalled = progress.check.stalled();
        !stalled.empty() && progress.rejected.empty()) {
      progress.rejected = stalled;
      sender.call->TryCancel();
    }
    lock.unlock();
    if (observer && !cancelled && !observer->advance(done)) {
      cancelled = true;
      sender.call->TryCancel();
    }
  }
  sender.thread.join();
  // A run that did not end well may or may not have reached the board: ask it what it holds.
  std::string now = design;
  const bool failed = cancelled || !progress.status.ok() || !progress.rejected.empty();
  if (failed) {
    v1::Identity identity;
    now = link->stub->GetIdentity(context(*link, 2).get(), v1::GetIdentityRequest(), &identity).ok()
              ? identity.design()
              : "";
    try {
      check_identity(identity);
    } catch (const BadReply&) {
      now.clear();  // what it holds cannot be told
    }
  }
  {
    std::lock_guard lock(mutex_);
    design_ = now;
    acquiring_ = false;
    stream_confirmed_ = false;
    awaited_design_.expect(now);
    awaited_acquiring_.expect(false);
  }
  if (observer) observer->end();  // the run's end is told with the board as it now is
  tell(stream_listener);          // whoever shows the design hears of it
  if (cancelled) throw Cancelled("Programming cancelled");
  if (!progress.rejected.empty()) throw std::runtime_error(progress.rejected);
  throw_unless_ok(progress.status, progress.reason, address_, "bitstream not written");
}

}  // namespace Zelvar_Core::bench::remote
