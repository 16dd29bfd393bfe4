// The application object: starts the main dialog, runs it, and ends the
// program when it closes.
#pragma once

#include <QApplication>

namespace kestrow::gui {

class CKestrowDiagApp : public QApplication {
  Q_OBJECT

 public:
  CKestrowDiagApp(int& argc, char** argv);

  // Runs the main dialog on the disc images named on the command line; the
  // program's exit code.
  int InitInstance();
};

}  // namespace kestrow::gui
