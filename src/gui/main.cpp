// KestrowDiag, the desktop application.
#include <csignal>

#include "app/KestrowDiagApp.h"

int main(int argc, char** argv) {
#if defined(SIGXFSZ)
  // A write past the file size limit then fails with EFBIG and is reported
  // with its file, instead of ending the program in the middle of a write.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  kestrow::gui::CKestrowDiagApp app(argc, argv);
  return app.InitInstance();
}
