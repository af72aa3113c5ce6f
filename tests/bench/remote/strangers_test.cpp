// Strangers at the board server: wrong tokens by the thousand, streams and
// watches that never read, names made to forge log lines. What they may
// cost the board's holder and the server's log is bounded.
#include <grpcpp/generic/generic_stub.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <vector>

#include "bench/board/bitstream.h"
#include "bench/remote/client/remote_board.h"
#include "bench/remote/protocol/remote_call.h"
#include "bench/remote/server/names.h"
#include "tests/bench/remote/board_server_fixture.h"
#include "tests/support/test_certificates.h"

namespace Zelvar_Core::bench::remote {
namespace {

using namespace std::chrono_literals;

std::size_t lines_starting(const std::vector<std::string>& log, const std::string& start) {
  return static_cast<std::size_t>(std::count_if(
      log.begin(), log.end(), [&](const std::string& line) { return line.rfind(start, 0) == 0; }));
}

TEST(Refusals, AHostThatKeepsGuessingIsBarredAndItsRefusalsAreLoggedOncePerIntervalWithACount) {
  auto now = std::chrono::steady_clock::time_point{} + 1h;
  Refusals refusals([&now] { return now; });
  const std::string peer = "ipv4:10.0.0.7:40001", why = "wrong token";
  std::vector<std::string> log;
  auto refuse = [&](const std::string& from) {
    for (auto& line : refusals.refused(from, why)) log.push_back(line);
  };
  for (unsigned i = 0; i < Refusals::kBurst; ++i) {
    EXPECT_FALSE(refusals.barred(peer)) << "after " << i << " wrong tokens";
    refuse(peer);
  }
  // Another port of the same host is the same guesser; another host is not.
  EXPECT_TRUE(refusals.barred("ipv4:10.0.0.7:40002"));
  EXPECT_FALSE(refusals.barred("ipv4:10.0.0.8:40001"));
  for (int i = 0; i < 990; ++i) refuse(peer);
  EXPECT_EQ(log, std::vector<std::string>{"Refused a call from ipv4:10.0.0.7:40001: wrong token"});
  // One more guess a second.
  now += Refusals::kRefill;
  EXPECT_FALSE(refusals.barred(peer));
  refuse(peer);
  EXPECT_TRUE(refusals.barred(peer));
  // The interval's count is told when it ends, whether or not the host calls again.
  now += Refusals::kLogInterval;
  for (auto& line : refusals.due()) log.push_back(line);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "Refused 1000 more calls from ipv4:10.0.0.7 in the last 10 s");
  EXPECT_TRUE(refusals.due().empty());
  refuse(peer);
  EXPECT_EQ(log.size(), 3u) << "a new interval starts with the refusal in full";
  EXPECT_EQ(Refusals::host_of_peer("ipv6:[::1]:5"), "ipv6:[::1]");
  EXPECT_EQ(Refusals::host_of_peer("unix:/run/board"), "unix:/run/board");
}

TEST_F(BoardServerTest, AThousandWrongTokensLeaveAFewLogLinesAndTheRightTokenGetsInAgain) {
  serve("s3cret");
  Client stranger(server->address(), "stranger", "guess");
  v1::Identity identity;
  std::size_t unauthenticated = 0, barred = 0;
  for (int i = 0; i < 1000; ++i) {
    const grpc::Status status = stranger.identity(&identity);
    if (status.error_code() == grpc::StatusCode::UNAUTHENTICATED) {
      ++unauthenticated;
    } else {
      ASSERT_EQ(status.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED) << i;
      EXPECT_EQ(status.error_message(),
                "The board refuses calls from ipv4:127.0.0.1 for now: too many wrong tokens");
      ++barred;
    }
  }
  EXPECT_GE(unauthenticated, Refusals::kBurst);
  EXPECT_GT(barred, 0u);
  // The first refusal in full, then at most a count per interval.
  EXPECT_LE(lines_starting(server_log(), "Refused "), 3u);
  EXPECT_EQ(lines_starting(server_log(), "Refused a call from ipv4:127.0.0.1:"), 1u);
  // The host is listened to again once it waits.
  Client friendly(server->address(), "friend", "s3cret");
  EXPECT_TRUE(testing_support::eventually([&] { return friendly.identity(&identity).ok(); }));
}

// A call that stays open without a deadline and is never read.
struct OpenStream {
  grpc::ClientContext context;
  std::unique_ptr<grpc::ClientReader<v1::EventBatch>> reader;
  ~OpenStream() { context.TryCancel(); }
};

TEST_F(BoardServerTest, StreamsBeyondTheCapAreRefusedAndNonReadingOnesCostTheHolderNothing) {
  serve();
  Client holder(server->address(), "holder");
  ASSERT_TRUE(holder.claim().ok());
  ASSERT_TRUE(holder.start().ok());
  Client stranger(server->address(), "stranger");
  std::vector<std::unique_ptr<OpenStream>> open;
  std::size_t admitted = 0;
  for (int i = 0; i < 60; ++i) {
    auto stream = std::make_unique<OpenStream>();
    stream->reader = stranger.board->StreamEvents(&stream->context, v1::StreamEventsRequest());
    v1::EventBatch first;
    // One batch read tells the stream was taken; it is not read again.
    if (stream->reader->Read(&first)) {
      ++admitted;
      open.push_back(std::move(stream));
      continue;
    }
    const grpc::Status status = stream->reader->Finish();
    EXPECT_EQ(status.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
    EXPECT_EQ(status.error_message(),
              "The board already streams its events to 8 clients: close one first");
  }
  EXPECT_EQ(admitted, ServedBoard::kMaxStreams);
  // The holder's own stream is served beyond the cap, and loses nothing
  // while the others' queues fill.
  auto context = holder.context();
  context->set_deadline(std::chrono::system_clock::now() + testing_support::scaled(60s));
  auto reader = holder.board->StreamEvents(context.get(), v1::StreamEventsRequest());
  v1::EventBatch batch;
  ASSERT_TRUE(reader->Read(&batch));
  const std::uint64_t lost_at_first = batch.lost_by_board();
  std::uint64_t events = 0;
  for (int i = 0; i < 500 && reader->Read(&batch); ++i) events += batch.events();
  EXPECT_GT(events, 0u);
  EXPECT_EQ(batch.lost_by_board(), lost_at_first);
  context->TryCancel();
  reader->Finish();
}

TEST_F(BoardServerTest, WatchesBeyondTheCapAreRefusedButTheHoldersIsServed) {
  serve();
  Client holder(server->address(), "holder"), stranger(server->address(), "stranger");
  ASSERT_TRUE(holder.claim().ok());
  struct OpenWatch {
    grpc::ClientContext context;
    std::unique_ptr<grpc::ClientReader<v1::BoardState>> reader;
    ~OpenWatch() { context.TryCancel(); }
  };
  std::vector<std::unique_ptr<OpenWatch>> watches;
  std::size_t admitted = 0;
  v1::BoardState state;
  for (unsigned i = 0; i < ServedBoard::kMaxWatches + 3; ++i) {
    auto watch = std::make_unique<OpenWatch>();
    watch->reader = stranger.board->WatchBoard(&watch->context, v1::WatchBoardRequest());
    if (watch->reader->Read(&state)) {
      ++admitted;
      watches.push_back(std::move(watch));
      continue;
    }
    const grpc::Status status = watch->reader->Finish();
    EXPECT_EQ(status.error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);
    EXPECT_EQ(status.error_message(),
              "The board is already watched by 16 clients: close one first");
  }
  EXPECT_EQ(admitted, ServedBoard::kMaxWatches);
  OpenWatch own;
  if (!holder.token.empty()) own.context.AddMetadata("authorization", "Bearer " + holder.token);
  own.context.AddMetadata("zelvar-session", holder.session);
  own.reader = holder.board->WatchBoard(&own.context, v1::WatchBoardRequest());
  ASSERT_TRUE(own.reader->Read(&state));
  EXPECT_EQ(state.held_by(), "holder");
}

TEST(Names, ControlCharactersAndBytesThatAreNotUtf8AreEscapedAndTheLengthIsBounded) {
  EXPECT_EQ(log_safe("pravel on lab-pc-3"), "pravel on lab-pc-3");
  EXPECT_EQ(log_safe("caf\xc3\xa9 \xe2\x9c\x93"), "caf\xc3\xa9 \xe2\x9c\x93") << "UTF-8 kept";
  EXPECT_EQ(log_safe("a\nb\r\tc\\d\x1b[31m"), "a\\nb\\r\\tc\\\\d\\x1b[31m");
  EXPECT_EQ(log_safe("Latin-1 \xe9t\xe9"), "Latin-1 \\xe9t\\xe9");
  EXPECT_EQ(log_safe("C1 \xc2\x85 and LS \xe2\x80\xa8"), "C1 \\xc2\\x85 and LS \\xe2\\x80\\xa8");
  EXPECT_EQ(log_safe("overlong \xc0\xaf, cut \xe2\x9c"), "overlong \\xc0\\xaf, cut \\xe2\\x9c");
  EXPECT_EQ(log_safe(std::string(300, 'x')), std::string(256, 'x') + "...");
  // A character is never cut in half.
  EXPECT_EQ(log_safe(std::string(255, 'x') + "\xc3\xa9"), std::string(255, 'x') + "...");
}

TEST_F(BoardServerTest, AClientsNameForgesNoLogLineAndALongOneIsRefused) {
  serve();
  Client forger(server->address(), "pravel\n[info] The board is held by admin\x1b[0m");
  ASSERT_TRUE(forger.claim().ok());
  const std::string shown = "pravel\\n[info] The board is held by admin\\x1b[0m";
  const auto log = server_log();
  EXPECT_EQ(lines_starting(log, "The board is held by " + shown + " at ipv4:127.0.0.1:"), 1u);
  for (const auto& line : log) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  // Told to others as it was logged.
  Client other(server->address(), "other");
  const grpc::Status refused = other.claim();
  EXPECT_EQ(refused.error_message().rfind("The board is in use by " + shown + " at ", 0), 0u)
      << refused.error_message();
  Client huge(server->address(), std::string(1 << 20, 'n'));
  const grpc::Status status = huge.claim();
  EXPECT_EQ(status.error_code(), grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(status.error_message(), "A client's name is at most 256 bytes; this one has 1048576");
}

TEST_F(BoardServerTest, ADesignNameThatIsNotUtf8IsRefusedAndEveryoneCanStillConnect) {
  serve();
  Client client(server->address(), "test");
  ASSERT_TRUE(client.claim().ok());
  board.bytes_per_second = 50e6;  // a quick board
  const std::string before = board.design();
  std::vector<v1::ProgramProgress> seen;
  const grpc::Status status =
      program(client, make_bitstream("caf\xe9_design", std::string(1000, 'x')), seen);
  EXPECT_EQ(status.error_code(), grpc::StatusCode::ABORTED);
  EXPECT_EQ(status.error_message(),
            "The bitstream sample.bit is damaged: its design name holds a byte that is not UTF-8 "
            "(0xE9)");
  EXPECT_EQ(board.design(), before);
  // A new client reads what the board is, and a watch its state.
  Client newcomer(server->address(), "newcomer");
  v1::Identity identity;
  ASSERT_TRUE(newcomer.identity(&identity).ok());
  EXPECT_EQ(identity.design(), before);
  auto context = newcomer.context();
  auto watch = newcomer.board->WatchBoard(context.get(), v1::WatchBoardRequest());
  v1::BoardState state;
  ASSERT_TRUE(watch->Read(&state));
  EXPECT_EQ(state.design(), before);
  context->TryCancel();
  watch->Finish();
}

TEST_F(BoardServerTest, OverTlsOnlyAClientWithTheCaThatSignedTheServersCertificateIsServed) {
  const testing_support::TestCertificates tls(std::filesystem::absolute("tls"));
  ServerOptions options;
  options.listen = "127.0.0.1:0";
  options.tls_certificate = tls.certificate();
  options.tls_key = tls.key();
  serve(options);
  v1::Identity identity;
  Client trusting(server->address(), "trusting", "", board_credentials(tls.ca()));
  EXPECT_TRUE(trusting.identity(&identity).ok());
  EXPECT_EQ(identity.product(), "AER-640 sensor board (simulated)");
  Client in_clear(server->address(), "in clear");
  EXPECT_EQ(in_clear.identity(&identity).error_code(), grpc::StatusCode::UNAVAILABLE);
  Client other(server->address(), "other", "", board_credentials(tls.other_ca()));
  EXPECT_EQ(other.identity(&identity).error_code(), grpc::StatusCode::UNAVAILABLE);
  // The bench's client: over TLS with the CA, refused in one sentence without it.
  const std::string address = server->address();
  EXPECT_TRUE(RemoteBoard(address, "", "tls test", tls.ca()).connected());
  const std::pair<std::string, std::string> refused[] = {
      {"", "No board server answers at " + address},
      {tls.other_ca(), "The board server at " + address +
                           " is refused: its TLS certificate is not signed by the CA given with "
                           "--tls-ca"}};
  for (const auto& [ca, why] : refused) {
    try {
      RemoteBoard(address, "", "tls test", ca);
      ADD_FAILURE() << "connected with " << (ca.empty() ? "no CA" : "another CA");
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), why);
    }
  }
}

TEST(ServerOptions, BeyondTheLoopbackATokenIsRequiredAndOneInClearIsWarnedOf) {
  ServerOptions options;
  for (const char* loopback : {"127.0.0.1:0", "[::1]:0", "localhost:0"}) {
    options.listen = loopback;
    EXPECT_EQ(exposure_warning(options), "") << loopback;
  }
  options.listen = "0.0.0.0:50551";
  try {
    exposure_warning(options);
    ADD_FAILURE() << "a server open to the network without a token";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "A server on 0.0.0.0:50551 is reached from beyond this machine: give it a token "
                 "with --token-file F");
  }
  SimulatedDevice board;
  EXPECT_THROW(BoardServer(board, options, spdlog::default_logger()), std::runtime_error)
      << "refused before it listens";
  options.token = "s3cret";
  EXPECT_EQ(exposure_warning(options),
            "The token travels in clear to 0.0.0.0:50551: anyone on the network can read it (give "
            "--tls-cert and --tls-key)");
  options.tls_certificate = "certificate";
  options.tls_key = "key";
  EXPECT_EQ(exposure_warning(options), "");
}

// The bytes of a call made by the method's full name, as the field's
// generic tools make it, without the service's generated code.
std::string bytes_of(const grpc::ByteBuffer& buffer) {
  std::vector<grpc::Slice> slices;
  std::string bytes;
  if (buffer.Dump(&slices).ok())
    for (const auto& slice : slices)
      bytes.append(reinterpret_cast<const char*>(slice.begin()), slice.size());
  return bytes;
}
grpc::ByteBuffer buffer_of(const std::string& bytes) {
  grpc::Slice slice(bytes);
  return grpc::ByteBuffer(&slice, 1);
}

TEST_F(BoardServerTest, TheStandardHealthServiceSaysServingAndReflectionListsTheServices) {
  serve();
  auto channel = grpc::CreateChannel(server->address(), grpc::InsecureChannelCredentials());
  grpc::GenericStub stub(channel);
  {
    // grpc.health.v1.Health/Check of the server as a whole: status SERVING (1).
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + testing_support::scaled(5s));
    const grpc::ByteBuffer request = buffer_of("");
    grpc::ByteBuffer response;
    std::promise<grpc::Status> done;
    stub.UnaryCall(&context, "/grpc.health.v1.Health/Check", grpc::StubOptions(), &request,
                   &response, [&](grpc::Status status) { done.set_value(status); });
    const grpc::Status status = done.get_future().get();
    ASSERT_TRUE(status.ok()) << status.error_message();
    EXPECT_EQ(bytes_of(response), std::string("\x08\x01", 2));
  }
  {
    // grpc.reflection.v1alpha: list_services (field 7, an empty string).
    grpc::CompletionQueue queue;
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + testing_support::scaled(5s));
    auto call = stub.PrepareCall(
        &context, "/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo", &queue);
    const auto step = [&](auto&& start) {
      start(reinterpret_cast<void*>(1));
      void* tag = nullptr;
      bool ok = false;
      return queue.Next(&tag, &ok) && ok;
    };
    ASSERT_TRUE(step([&](void* tag) { call->StartCall(tag); }));
    const grpc::ByteBuffer list_services = buffer_of(std::string("\x3a\x00", 2));
    ASSERT_TRUE(step([&](void* tag) { call->Write(list_services, tag); }));
    grpc::ByteBuffer response;
    ASSERT_TRUE(step([&](void* tag) { call->Read(&response, tag); }));
    const std::string listed = bytes_of(response);
    for (const char* service :
         {"zelvar.board.v1.Board", "zelvar.board.v1.BoardSimulator", "grpc.health.v1.Health"})
      EXPECT_NE(listed.find(service), std::string::npos) << service;
    step([&](void* tag) { call->WritesDone(tag); });
    grpc::Status status;
    step([&](void* tag) { call->Finish(&status, tag); });
    queue.Shutdown();
    void* tag = nullptr;
    bool ok = false;
    while (queue.Next(&tag, &ok)) {
    }
  }
}

}  // namespace
}  // namespace Zelvar_Core::bench::remote
