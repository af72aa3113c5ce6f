// A DelegatesMain on strict mocks of the host and a real main window.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "Zelvar_Core/Controllers/delegates.h"
#include "tests/support/gui_harness.h"
#include "tests/support/host_mocks.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_main_window.h"

namespace Zelvar_Core::testing_support {

class DelegatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device.actions = &actions;
    model.device = &device;
    model.img_histogram = &histogram_settings;
    presenter.initializer = &initializer;
    window = new TestMainWindow();
    delegates = std::make_unique<DelegatesMain>(presenter, *window, model);
    presenter.delegates_main = delegates.get();
  }
  void TearDown() override {
    ::testing::Mock::VerifyAndClearExpectations(window);
    ::testing::Mock::VerifyAndClearExpectations(window->chip_editor);
    ::testing::Mock::VerifyAndClearExpectations(window->histogram);
    window->Destroy();
    flush_events();
    EXPECT_EQ(pending_dialog_answers(), 0u);
  }
  const std::vector<LogRecord>& logs() const { return capture.records(); }

  ::testing::StrictMock<MockPresenter> presenter;
  ::testing::StrictMock<MockModel> model;
  ::testing::StrictMock<MockDevice> device;
  ::testing::StrictMock<MockDeviceActions> actions;
  ::testing::StrictMock<MockImageHistogram> histogram_settings;
  ::testing::StrictMock<MockInitializer> initializer;
  TestMainWindow* window = nullptr;
  std::unique_ptr<DelegatesMain> delegates;
  LogCapture capture{{"test.presenter"}};
};

inline LogRecord presenter_log(spdlog::level::level_enum level, const std::string& message) {
  return {"test.presenter", level, message};
}

}  // namespace Zelvar_Core::testing_support
