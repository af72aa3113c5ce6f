#include "Zelvar_Core/Views/haskel.h"

#include <gtest/gtest.h>

#include "tests/support/gui_harness.h"
#include "tests/support/log_capture.h"

namespace Zelvar_Core {
namespace {

TEST(DeviceInfoView, FourCaptionsWithEmptyTextsUntilTheFirstUpdate) {
  auto* view = new DeviceInfoView(nullptr);
  EXPECT_EQ(view->GetTitle(), "Device info");
  EXPECT_FALSE(view->HasFlag(wxRESIZE_BORDER));
  EXPECT_FALSE(view->HasFlag(wxMAXIMIZE_BOX));
  EXPECT_EQ(view->grid->GetCols(), 2);
  EXPECT_EQ(view->grid->GetVGap(), 5);
  ASSERT_EQ(view->grid->GetItemCount(), 8u);
  const char* captions[] = {"Vendor:", "Model:", "Serial number:", "Device version:"};
  for (size_t row = 0; row < 4; ++row) {
    auto* caption = view->grid->GetItem(2 * row)->GetWindow();
    auto* text = dynamic_cast<wxStaticText*>(view->grid->GetItem(2 * row + 1)->GetWindow());
    EXPECT_EQ(caption->GetLabel(), captions[row]);
    EXPECT_EQ(caption->GetParent(), view);
    EXPECT_EQ(view->grid->GetItem(2 * row)->GetFlag(), wxALIGN_RIGHT | wxRIGHT);
    EXPECT_EQ(view->grid->GetItem(2 * row)->GetBorder(), 10);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetLabel(), "");
  }
  EXPECT_EQ(view->grid->GetItem(size_t{1})->GetWindow(), view->txt_value_vendor);
  EXPECT_EQ(view->grid->GetItem(size_t{7})->GetWindow(), view->txt_value_dev_version);
  view->Destroy();
}

TEST(DeviceInfoView, SecondUpdateReplacesEveryTextAndKeepsTheSize) {
  auto* view = new DeviceInfoView(nullptr);
  view->update_info({"Acme", "DVS-640", "0042", "1.0"});
  const wxSize size = view->GetSize();
  view->update_info({"Other vendor with a long name", "", "0043", "2.0"});
  EXPECT_EQ(view->txt_value_vendor->GetLabel(), "Other vendor with a long name");
  EXPECT_EQ(view->txt_value_model->GetLabel(), "");
  EXPECT_EQ(view->txt_value_sn->GetLabel(), "0043");
  EXPECT_EQ(view->txt_value_dev_version->GetLabel(), "2.0");
  EXPECT_EQ(view->GetSize(), size);
  view->Destroy();
}

TEST(DeviceInfoView, LogsItsClosingUnderTheBaseModulesLogger) {
  testing_support::LogCapture capture({"Zelvar_Core.Views.fennick"});
  auto* view = new DeviceInfoView(nullptr);
  view->open();
  view->close();
  EXPECT_FALSE(view->IsShown());
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0],
            (testing_support::LogRecord{"Zelvar_Core.Views.fennick", spdlog::level::debug,
                                        "On close frame Device info"}));
  view->Destroy();
}

}  // namespace
}  // namespace Zelvar_Core
