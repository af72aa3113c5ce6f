// Tool windows, histogram, serial, ADC, host tools, test and close.
#include "tests/Controllers/delegates_fixture.h"

namespace Zelvar_Core::testing_support {
namespace {

using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::Throw;

TEST_F(DelegatesTest, DeviceInfoIsFilledBeforeTheWindowOpens) {
  device.info = {"Acme Sensors", "DVS-640", "SN 0042", "2.1"};
  delegates->on_show_device_info();
  auto* info = window->device_info_frame;
  EXPECT_TRUE(info->IsShown());
  EXPECT_EQ(info->txt_value_vendor->GetLabel(), "Acme Sensors");
  EXPECT_EQ(info->txt_value_model->GetLabel(), "DVS-640");
  EXPECT_EQ(info->txt_value_sn->GetLabel(), "SN 0042");
  EXPECT_EQ(info->txt_value_dev_version->GetLabel(), "2.1");
}

TEST_F(DelegatesTest, RegisterEditorsRefreshBeforeOpeningEveryTime) {
  auto* registers = window->edit_register_device_frame;
  EXPECT_CALL(model, read_dev_registers()).WillOnce(Invoke([&] {
    EXPECT_FALSE(registers->IsShown());
  }));
  delegates->on_show_registers_device();
  ::testing::Mock::VerifyAndClearExpectations(&model);
  EXPECT_CALL(model, read_dev_registers());
  EXPECT_TRUE(registers->IsShown());
  delegates->on_show_registers_device();  // already shown: refreshed again
  EXPECT_TRUE(registers->IsShown());
}

TEST_F(DelegatesTest, ChipEditorReadsSignalsThenOpens) {
  InSequence order;
  EXPECT_CALL(model, read_signals());
  EXPECT_CALL(*window->chip_editor, open());
  delegates->on_show_registers_chip();
}

TEST_F(DelegatesTest, FailingRefreshLeavesTheWindowHidden) {
  EXPECT_CALL(model, read_signals()).WillOnce(Throw(std::runtime_error("spi")));
  EXPECT_CALL(*window->chip_editor, open()).Times(0);
  EXPECT_THROW(delegates->on_show_registers_chip(), std::runtime_error);
  EXPECT_CALL(model, read_dev_registers()).WillOnce(Throw(std::runtime_error("spi")));
  EXPECT_THROW(delegates->on_show_registers_device(), std::runtime_error);
  EXPECT_FALSE(window->edit_register_device_frame->IsShown());
  EXPECT_CALL(presenter, run_adc()).WillOnce(Throw(std::runtime_error("adc")));
  EXPECT_THROW(delegates->on_show_adcs(), std::runtime_error);
  EXPECT_FALSE(window->adc_control_frame->IsShown());
}

TEST_F(DelegatesTest, DacEditorIsRefreshedByItsIdentifier) {
  auto* dacs = window->edit_dac_frame;
  EXPECT_CALL(presenter, update_view(dacs->GetId())).WillOnce(Invoke([&](wxWindowID) {
    EXPECT_FALSE(dacs->IsShown());
  }));
  delegates->on_show_dacs();
  EXPECT_TRUE(dacs->IsShown());
}

TEST_F(DelegatesTest, HistogramAndSerialWindowsOpenWithoutRefresh) {
  EXPECT_CALL(*window->histogram, open());
  delegates->on_show_histogram();
  delegates->on_show_write_spi();
  EXPECT_TRUE(window->serial_control_frame->IsShown());
}

TEST_F(DelegatesTest, AdcMonitorStartsSamplingBeforeItIsShownEachTime) {
  auto* adc = window->adc_control_frame;
  EXPECT_CALL(presenter, run_adc()).WillOnce(Invoke([&] { EXPECT_FALSE(adc->IsShown()); }));
  delegates->on_show_adcs();
  ::testing::Mock::VerifyAndClearExpectations(&presenter);
  EXPECT_CALL(presenter, run_adc());
  delegates->on_show_adcs();
  EXPECT_TRUE(adc->IsShown());
}

TEST_F(DelegatesTest, ScaleHistogramPassesSettingsInOrderThenScalesProcessesRedraws) {
  InSequence order;
  EXPECT_CALL(*window->histogram, get_bin_settings()).WillOnce(Return(BinSettings{900, 12, 64}));
  EXPECT_CALL(histogram_settings, set_settings(900, 12, 64));
  EXPECT_CALL(*window->histogram, scale());
  EXPECT_CALL(presenter, process_img());
  EXPECT_CALL(presenter, update_image());
  delegates->on_scale_histogram();
}

TEST_F(DelegatesTest, FailingSettingsLeaveWindowUnscaledAndImageUnprocessed) {
  EXPECT_CALL(*window->histogram, get_bin_settings()).WillOnce(Return(BinSettings{1, 0, 8}));
  EXPECT_CALL(histogram_settings, set_settings).WillOnce(Throw(std::invalid_argument("bins")));
  EXPECT_CALL(*window->histogram, scale()).Times(0);
  EXPECT_THROW(delegates->on_scale_histogram(), std::invalid_argument);
}

TEST_F(DelegatesTest, SerialAndAdcRequestsAreOnePresenterCallEach) {
  InSequence order;
  EXPECT_CALL(presenter, send_serial_data());
  EXPECT_CALL(presenter, update_adc_ts());
  EXPECT_CALL(presenter, update_adc_panels());
  delegates->on_write_spi();
  delegates->on_update_adc_ts();
  delegates->on_update_adc_panels();
}

TEST_F(DelegatesTest, ToolWithBothFlagsRefreshesChipFirstAndStaysIfShown) {
  ::testing::StrictMock<MockTool> tool;
  tool.chip_reg_update = true;
  tool.dev_reg_update = true;
  InSequence order;
  EXPECT_CALL(model, read_signals());
  EXPECT_CALL(model, read_dev_registers());
  EXPECT_CALL(tool, is_shown()).WillOnce(Return(true));
  delegates->on_show_tools(&tool);
}

TEST_F(DelegatesTest, HiddenToolWithoutFlagsIsOnlyAskedAndOpened) {
  ::testing::StrictMock<MockTool> tool;
  InSequence order;
  EXPECT_CALL(tool, is_shown()).WillOnce(Return(false));
  EXPECT_CALL(tool, open());
  delegates->on_show_tools(&tool);
}

TEST_F(DelegatesTest, TestRunsTheInitializersSequence) {
  EXPECT_CALL(initializer, on_test());
  delegates->on_test();
}

TEST_F(DelegatesTest, ClosingTheAdcMonitorStopsSamplingThenHides) {
  auto* adc = window->adc_control_frame;
  adc->open();
  EXPECT_CALL(presenter, stop_adc()).WillOnce(Invoke([&] { EXPECT_TRUE(adc->IsShown()); }));
  delegates->on_close(adc);
  EXPECT_FALSE(adc->IsShown());
}

TEST_F(DelegatesTest, ClosingTheMainWindowClosesThePresenterFirst) {
  InSequence order;
  EXPECT_CALL(presenter, close());
  EXPECT_CALL(*window, close());
  delegates->on_close(window);
}

TEST_F(DelegatesTest, ClosingAnyOtherToolWindowOnlyHidesIt) {
  for (AuxViewBase* tool : std::initializer_list<AuxViewBase*>{
           window->edit_register_device_frame, window->edit_dac_frame, window->device_info_frame,
           window->serial_control_frame}) {
    tool->open();
    delegates->on_close(tool);
    EXPECT_FALSE(tool->IsShown()) << tool->GetTitle();
  }
  EXPECT_CALL(*window->chip_editor, close());
  delegates->on_close(window->chip_editor);
  EXPECT_CALL(*window->histogram, close());
  delegates->on_close(window->histogram);
}

TEST_F(DelegatesTest, FailingStopLeavesTheAdcMonitorOpen) {
  auto* adc = window->adc_control_frame;
  adc->open();
  EXPECT_CALL(presenter, stop_adc()).WillOnce(Throw(std::runtime_error("adc thread")));
  EXPECT_THROW(delegates->on_close(adc), std::runtime_error);
  EXPECT_TRUE(adc->IsShown());
  adc->Hide();
}

TEST_F(DelegatesTest, FailingPresenterCloseLeavesTheMainWindow) {
  EXPECT_CALL(presenter, close()).WillOnce(Throw(std::runtime_error("busy")));
  EXPECT_CALL(*window, close()).Times(0);
  EXPECT_THROW(delegates->on_close(window), std::runtime_error);
}

}  // namespace
}  // namespace Zelvar_Core::testing_support
