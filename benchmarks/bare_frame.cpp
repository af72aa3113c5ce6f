// The least a wx program does before its first window: an application
// object and one frame, shown. The start-up benchmark's yardstick for pravel.
#include <wx/frame.h>
#include <wx/wx.h>

class BareFrameApp : public wxApp {
 public:
  bool OnInit() override {
    (new wxFrame(nullptr, wxID_ANY, "Bare frame", wxDefaultPosition, wxSize(640, 480)))->Show();
    return true;
  }
};

wxIMPLEMENT_APP(BareFrameApp);
