#include "app/KestrowDiagApp.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include "app/AppResources.h"
#include "app/KestrowDiagDlg.h"
#include "app/ScreenshotTour.h"

namespace kestrow::gui {

CKestrowDiagApp::CKestrowDiagApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("KestrowDiag"));
  setApplicationVersion(QStringLiteral(KESTROW_VERSION));
  setWindowIcon(AppIcon());
  setDesktopFileName(QStringLiteral("kestrowdiag"));
}

int CKestrowDiagApp::InitInstance() {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Examines and rescues CD-R discs burned by Kestrow PRO, from an optical drive or a disc image."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("images"),
                               QStringLiteral("Disc images to add to the drive list; the first is selected."),
                               QStringLiteral("[image...]"));
  // Saves pictures of the dialogs into a folder and ends (for the README).
  QCommandLineOption tour(QStringLiteral("screenshot-tour"), QString(), QStringLiteral("folder"));
  tour.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOption(tour);
  parser.process(*this);

  CKestrowDiagDlg dialog(parser.positionalArguments());
  if (parser.isSet(tour)) return RunScreenshotTour(dialog, parser.value(tour)) ? 0 : 1;
  dialog.exec();
  return 0;
}

}  // namespace kestrow::gui
