// Acquisition, mode, connection and reset requests.
#include "tests/Controllers/delegates_fixture.h"

namespace Zelvar_Core::testing_support {
namespace {

using spdlog::level::debug;
using spdlog::level::info;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Throw;

TEST_F(DelegatesTest, ConstructorStoresItsArgumentsAndCallsNothing) {
  EXPECT_EQ(&delegates->presenter, &presenter);
  EXPECT_EQ(&delegates->view, window);
  EXPECT_EQ(&delegates->model, &model);
  EXPECT_TRUE(logs().empty());
}

TEST_F(DelegatesTest, StartStopLogsThenTogglesEveryTime) {
  InSequence order;
  for (int i = 0; i < 2; ++i) {
    EXPECT_CALL(presenter, toggle_main_img_thread()).WillOnce(Invoke([&] {
      EXPECT_EQ(logs().back(), presenter_log(debug, "On start or stop"));
    }));
  }
  delegates->on_start_stop();
  delegates->on_start_stop();
  EXPECT_EQ(logs().size(), 2u);
}

TEST_F(DelegatesTest, CaptureLogsOnlyAfterTheCaptureReturned) {
  EXPECT_CALL(presenter, capture()).WillOnce(Invoke([&] { EXPECT_TRUE(logs().empty()); }));
  delegates->on_capture();
  EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(info, "Start capture.")}));
}

TEST_F(DelegatesTest, FailingCaptureWritesNoMessageAndPropagates) {
  EXPECT_CALL(presenter, capture()).WillOnce(Throw(std::runtime_error("no device")));
  EXPECT_THROW(delegates->on_capture(), std::runtime_error);
  EXPECT_TRUE(logs().empty());
}

TEST_F(DelegatesTest, ResetIssuesThreeActionsInOrderThenLogsDebug) {
  InSequence order;
  EXPECT_CALL(actions, reset_device());
  EXPECT_CALL(actions, reset_fifo());
  EXPECT_CALL(actions, reset_ram()).WillOnce(Invoke([&] { EXPECT_TRUE(logs().empty()); }));
  delegates->on_reset();
  EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(debug, "Reset device.")}));
}

TEST_F(DelegatesTest, FailingFifoResetKeepsDeviceResetAndSkipsTheRest) {
  InSequence order;
  EXPECT_CALL(actions, reset_device());
  EXPECT_CALL(actions, reset_fifo()).WillOnce(Throw(std::runtime_error("fifo")));
  EXPECT_THROW(delegates->on_reset(), std::runtime_error);
  EXPECT_TRUE(logs().empty());  // reset_ram is a strict-mock failure if called
}

TEST_F(DelegatesTest, PeripheryAndChipResetsLogBeforeActing) {
  EXPECT_CALL(actions, reset_aer()).WillOnce(Invoke([&] {
    EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(debug, "Reset periphery.")}));
  }));
  delegates->on_reset_periphery();
  EXPECT_CALL(actions, reset_chip()).WillOnce(Invoke([&] {
    EXPECT_EQ(logs().back(), presenter_log(info, "Reset chip."));
  }));
  delegates->on_reset_chip();
  EXPECT_EQ(logs().size(), 2u);
}

TEST_F(DelegatesTest, FailingChipResetHasAlreadyLogged) {
  EXPECT_CALL(actions, reset_chip()).WillOnce(Throw(std::runtime_error("chip")));
  EXPECT_THROW(delegates->on_reset_chip(), std::runtime_error);
  EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(info, "Reset chip.")}));
}

TEST_F(DelegatesTest, ResetsArePassedOnWhileDisconnected) {
  device.is_connected = false;
  EXPECT_CALL(actions, reset_aer());
  EXPECT_CALL(presenter, capture());
  delegates->on_reset_periphery();
  delegates->on_capture();
}

TEST_F(DelegatesTest, ModeChangePassesTheLabelUnchangedAndLogsNothing) {
  InSequence order;
  EXPECT_CALL(presenter, set_mode("Event stream"));
  EXPECT_CALL(presenter, set_mode(""));
  delegates->on_mode_change("Event stream");
  delegates->on_mode_change("");
  EXPECT_TRUE(logs().empty());
}

TEST_F(DelegatesTest, DisconnectionClearsBitstreamBeforeStoppingThenRedraws) {
  device.is_connected = false;
  model.binary_file = "/bits/top.bit";
  InSequence order;
  EXPECT_CALL(presenter, stop_main_img_thread()).WillOnce(Invoke([&] {
    EXPECT_EQ(model.binary_file, "");
    EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(info, "Device disconnected")}));
  }));
  EXPECT_CALL(model, reset_image());
  EXPECT_CALL(presenter, update_image());
  delegates->on_connection_change();
}

TEST_F(DelegatesTest, ConnectionLogsAndRefreshesTheMainWindowOnly) {
  device.is_connected = true;
  model.binary_file = "/bits/top.bit";
  EXPECT_CALL(presenter, update_view()).WillOnce(Invoke([&] {
    EXPECT_EQ(logs(), (std::vector<LogRecord>{presenter_log(info, "On connection")}));
  }));
  delegates->on_connection_change();
  EXPECT_EQ(model.binary_file, "/bits/top.bit");
}

TEST_F(DelegatesTest, FailingStopAfterDisconnectionKeepsTheClearedPath) {
  device.is_connected = false;
  model.binary_file = "/bits/top.bit";
  EXPECT_CALL(presenter, stop_main_img_thread()).WillOnce(Throw(std::runtime_error("thread")));
  EXPECT_THROW(delegates->on_connection_change(), std::runtime_error);
  EXPECT_EQ(model.binary_file, "");
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
