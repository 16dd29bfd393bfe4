// KestrowDiag, the desktop application.
#include "app/KestrowDiagApp.h"

int main(int argc, char** argv) {
  kestrow::gui::CKestrowDiagApp app(argc, argv);
  return app.InitInstance();
}
