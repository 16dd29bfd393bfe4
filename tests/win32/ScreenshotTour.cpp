// Pictures of KestrowDiag.exe's dialogs for the README, taken under Wine on
// an X server (scripts/screenshots-windows.sh): the main dialog on a disc
// image, its file list with two rows selected, the sector range dialog (its
// rescue option ticked), the about box, a rescue's progress window and the
// damage window, each saved as a PNG file into FOLDER.
//   kestrow_win32_screenshots IMAGE FOLDER
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdio>
#include <string>

#include "AboutDlg.h"
#include "DamageReportDlg.h"
#include "StatusDlg.h"
#include "app/RescueImage.h"
#include "MainDlg.h"
#include "Win32TestSupport.h"
#include "WinText.h"
#include "app/CoreFactory.h"
#include "resource.h"

using namespace kestrow;

namespace {

std::wstring g_folder;
int g_saved = 0;

// Lets the windows paint for a while.
void Settle() {
  for (int i = 0; i < 25; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(20);
  }
}

// The window as the screen shows it, frame and caption included, into a PNG file.
bool Shoot(HWND window, const wchar_t* name) {
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Settle();
  RECT box{};
  GetWindowRect(window, &box);
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  const std::wstring path = g_folder + L"\\" + name;
  bool saved = false;
  IWICImagingFactory* factory = nullptr;
  IWICBitmap* picture = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) &&
      SUCCEEDED(factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &picture)) &&
      SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->WriteSource(picture, nullptr)) && SUCCEEDED(frame->Commit()) &&
      SUCCEEDED(encoder->Commit())) {
    saved = true;
  }
  for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, picture, factory}) {
    if (object) object->Release();
  }
  DeleteObject(bitmap);
  std::fprintf(stderr, "%s %ls\n", saved ? "saved" : "could not save", path.c_str());
  g_saved += saved ? 1 : 0;
  return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestrow_win32_screenshots IMAGE FOLDER\n");
    return 2;
  }
  g_folder = argv[2];
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  win32test::TestHost host;
  host.onFileList = [](HWND list, app::FileListSession&) {
    // Two rows picked, as a person would before "Recover Selected Files...".
    HWND view = GetDlgItem(list, IDC_FILE_LIST);
    for (const int row : {1, 3}) {
      LVITEMW item{};
      item.stateMask = LVIS_SELECTED;
      item.state = LVIS_SELECTED;
      SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
    SetFocus(view);
    Shoot(list, L"windows-file-list.png");
  };
  host.onSectorRange = [](HWND range) {
    CheckDlgButton(range, IDC_RESCUE_IMAGE, BST_CHECKED);
    Shoot(range, L"windows-sector-range.png");
    win32test::Command(range, IDCANCEL);
  };
  host.saveAnswer = win32::Narrow(g_folder) + "\\scratch.dat";
  win32::CKestrowDiagDlg dialog(host, app::DefaultCoreFactory(), [] { return std::vector<std::string>{}; },
                                {win32::Narrow(argv[1])});
  HWND main = dialog.Create(nullptr);
  Shoot(main, L"windows-main-dialog.png");
  win32test::Command(main, IDC_BROWSE_FILE_LIST);
  win32test::Command(main, IDC_PHYSICAL_DUMP);
  DeleteFileW((g_folder + L"\\scratch.dat").c_str());
  win32::CAboutDlg about;
  Shoot(about.Create(main), L"windows-about-box.png");
  {
    // A rescue in its scraping phase.
    RescueStatus status;
    status.stage = RescueStage::kScraping;
    status.position = 318'204;
    status.rangeBytes = 333'000ull * 2352;
    status.rescued = status.rangeBytes - 9'214ull * 2352;
    status.nonScraped = 8'866ull * 2352;
    status.bad = 348ull * 2352;
    status.badAreas = 12;
    status.readErrors = 361;
    status.currentRate = 2352;
    status.averageRate = 1.9e6;
    status.runTime = std::chrono::seconds(1'251);
    status.sinceLastGoodRead = std::chrono::seconds(14);
    win32::CStatusDlg progress(nullptr);
    progress.ShowProgress("Reading 318204/333000...", 318'204, 333'000);
    progress.ShowRescueStatus(app::FormatRescueStatus(status));
    Shoot(progress.Handle(), L"windows-rescue-progress.png");
  }
  {
    DamageReport report;
    report.unreadableSectors = {{1210, 1212}, {1340, 1340}, {40'112, 40'130}};
    report.files = {{"Family Archive:Pictures:Beach 1998.jpg", FileStatus::kDamaged, 600'000, {{8192, 16384}}, {}, {}},
                    {"Family Archive:Letters:To Grandma", FileStatus::kLost, 12'000, {}, {}, {}},
                    {"Family Archive:Pictures:Garden.jpg", FileStatus::kDamaged, 420'000,
                     {{40960, 49152}, {114688, 122880}}, {}, {}}};
    win32::CDamageReportDlg damage(host, report);
    Shoot(damage.Create(main), L"windows-damage-report.png");
  }
  for (const auto& message : host.messages) std::fprintf(stderr, "message box: %s\n", message.text.c_str());
  CoUninitialize();
  return g_saved == 6 ? 0 : 1;
}
