// Pictures of the dialogs for the README: the main dialog, the file list,
// the sector range dialog and the about box, saved as PNG files.
#pragma once

#include <QString>

namespace kestrow::gui {

class CKestrowDiagDlg;

// Shows `dialog` on its selected disc, opens each dialog through its command,
// and saves main-dialog.png, file-list.png, sector-range.png and
// about-box.png into `folder`. True when all four were saved.
bool RunScreenshotTour(CKestrowDiagDlg& dialog, const QString& folder);

}  // namespace kestrow::gui
