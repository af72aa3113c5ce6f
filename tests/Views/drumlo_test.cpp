#include "Zelvar_Core/Views/drumlo.h"

#include <gtest/gtest.h>

#include "tests/support/gui_harness.h"
#include "tests/support/log_capture.h"

namespace Zelvar_Core {
namespace {

TEST(SerialView, TransmitBoxEditableReceiveBoxReadOnlyAndTheButton) {
  auto* view = new SerialView(nullptr);
  auto* panel = view->panel_serial_control;
  EXPECT_EQ(view->GetTitle(), "SERIAL debugger");
  EXPECT_FALSE(view->HasFlag(wxRESIZE_BORDER));
  EXPECT_FALSE(view->HasFlag(wxMAXIMIZE_BOX));
  EXPECT_TRUE(panel->serial_tx_box->IsEditable());
  EXPECT_FALSE(panel->serial_rx_box->IsEditable());
  EXPECT_TRUE(panel->serial_tx_box->GetValue().empty());
  EXPECT_TRUE(panel->serial_rx_box->GetValue().empty());
  EXPECT_EQ(panel->btn_write->GetLabel(), "Write SERIAL");
  ASSERT_EQ(panel->main_grid->GetItemCount(), 4u);
  EXPECT_EQ(panel->main_grid->GetItem(size_t{0})->GetWindow()->GetLabel(), "SERIAL TX data");
  EXPECT_EQ(panel->main_grid->GetItem(size_t{1})->GetWindow(), panel->serial_tx_box);
  EXPECT_EQ(panel->main_grid->GetItem(size_t{2})->GetWindow()->GetLabel(), "SERIAL RX data");
  EXPECT_EQ(panel->main_grid->GetItem(size_t{3})->GetWindow(), panel->serial_rx_box);
  EXPECT_EQ(panel->vsizer->GetItem(size_t{1})->GetWindow(), panel->btn_write);
  EXPECT_EQ(panel->vsizer->GetItem(size_t{1})->GetFlag(), wxALIGN_RIGHT | wxALL);
  view->Destroy();
}

TEST(SerialView, TextsSurviveCloseAndReopen) {
  testing_support::LogCapture capture({"Zelvar_Core.Views.fennick"});
  auto* view = new SerialView(nullptr);
  view->open();
  view->panel_serial_control->serial_tx_box->SetValue("A5 5A");
  view->panel_serial_control->serial_rx_box->SetValue("OK");
  view->close();
  EXPECT_FALSE(view->IsShown());
  view->open();
  EXPECT_EQ(view->panel_serial_control->serial_tx_box->GetValue(), "A5 5A");
  EXPECT_EQ(view->panel_serial_control->serial_rx_box->GetValue(), "OK");
  ASSERT_EQ(capture.records().size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "On close frame SERIAL debugger");
  view->Destroy();
}

}  // namespace
}  // namespace Zelvar_Core
