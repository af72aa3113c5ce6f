// Starts the toolkit for a test program without a main loop. The display
// may refuse a connection for a moment when many test programs start at
// once: it is tried again before giving up.
#pragma once

#include <wx/init.h>
#include <wx/utils.h>

#include <cstdio>

namespace Zelvar_Core::testing_support {

inline bool start_toolkit(int& argc, char** argv) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (wxEntryStart(argc, argv)) return true;
    wxMilliSleep(300);
  }
  std::fprintf(stderr, "cannot start the toolkit (is there a display?)\n");
  return false;
}

}  // namespace Zelvar_Core::testing_support
