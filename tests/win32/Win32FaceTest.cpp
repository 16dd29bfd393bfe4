// The Win32 face in process: the dialogs made from the program's templates,
// driven with the messages a person's clicks send, over discs in memory.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>

#include "AboutDlg.h"
#include "DamageReportDlg.h"
#include "MainDlg.h"
#include "Win32TestSupport.h"
#include "WinText.h"
#include "app/AppText.h"
#include "platform/FileSystem.h"
#include "resource.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

using namespace kestrow;
using namespace kestrow::apptest;
using namespace kestrow::win32test;

namespace {

using Texts = std::vector<std::string>;

// The main dialog over the discs of a shelf, with `drives` as the machine's
// CD-ROM drives and `images` named on the command line.
struct MainFixture {
  explicit MainFixture(std::vector<std::string> drives = {"E:"}, std::vector<std::string> images = {})
      : dialog(host, shelf.Factory(), [drives] { return drives; }, std::move(images)) {
    window = dialog.Create(nullptr);
  }
  HWND Item(int id) const { return GetDlgItem(window, id); }
  Texts DriveList() const {
    Texts items;
    const auto count = static_cast<int>(SendMessageW(Item(IDC_COMBO_DRIVE), CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t text[512] = {};
      SendMessageW(Item(IDC_COMBO_DRIVE), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      items.push_back(win32::Narrow(text));
    }
    return items;
  }

  TestHost host;
  DiscShelf shelf;
  win32::CKestrowDiagDlg dialog;
  HWND window = nullptr;
};

std::vector<int> TabOrder(HWND dialog, int first) {
  std::vector<int> ids;
  HWND control = GetDlgItem(dialog, first);
  do {
    ids.push_back(GetDlgCtrlID(control));
    control = GetNextDlgTabItem(dialog, control, FALSE);
  } while (control && GetDlgCtrlID(control) != first && ids.size() < 20);
  return ids;
}

std::vector<DiscFile> ThreeFiles() {
  std::vector<DiscFile> files = {{"", "One", std::vector<std::uint8_t>(3000, 0x11)},
                                 {"Docs", "Two", std::vector<std::uint8_t>(20000)},
                                 {"Docs", "Caf\xE9", std::vector<std::uint8_t>(9000, 0x33)}};
  for (std::size_t k = 0; k < files[1].data.size(); ++k) files[1].data[k] = static_cast<std::uint8_t>(k % 253);
  return files;
}

}  // namespace

TEST(Win32Face, TheMainDialogIsTemplate102WithOpenImageBeside) {
  MainFixture f;
  ASSERT_TRUE(f.window);
  EXPECT_EQ(win32::GetWindowTextU(f.window), "Kestrow Diag");
  const std::pair<int, const char*> buttons[] = {
      {IDC_CHECK_FORMAT, "Check Format..."}, {IDC_BROWSE_FILE_LIST, "Browse File List..."},
      {IDC_GET_VOLUME_SIZE, "Get Volume Size..."}, {IDC_PHYSICAL_DUMP, "Physical Dump..."},
      {IDCANCEL, "Exit"}, {IDC_OPEN_IMAGE, "Open Image..."}};
  for (const auto& [id, text] : buttons) EXPECT_EQ(ItemText(f.window, id), text) << id;
  const LONG comboStyle = GetWindowLongW(f.Item(IDC_COMBO_DRIVE), GWL_STYLE);
  EXPECT_EQ(comboStyle & (CBS_DROPDOWNLIST | CBS_SORT), CBS_DROPDOWNLIST | CBS_SORT);
  EXPECT_EQ(GetWindowLongW(f.Item(IDC_LOGO), GWL_STYLE) & (SS_BITMAP | SS_NOTIFY), SS_BITMAP | SS_NOTIFY);
  EXPECT_TRUE(SendMessageW(f.Item(IDC_LOGO), STM_GETIMAGE, IMAGE_BITMAP, 0));  // bitmap 137
  EXPECT_TRUE(SendMessageW(f.window, WM_GETICON, ICON_BIG, 0));               // icon 128
  EXPECT_EQ(GetWindowLongW(f.window, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);
  // The template's order is the tab order; ours comes last.
  EXPECT_EQ(TabOrder(f.window, IDC_CHECK_FORMAT),
            (std::vector<int>{IDC_CHECK_FORMAT, IDC_BROWSE_FILE_LIST, IDC_GET_VOLUME_SIZE, IDC_PHYSICAL_DUMP,
                              IDC_COMBO_DRIVE, IDCANCEL, IDC_OPEN_IMAGE}));
  // The about item of the system menu: string 101, command 0x10.
  HMENU menu = GetSystemMenu(f.window, FALSE);
  const int last = GetMenuItemCount(menu) - 1;
  EXPECT_EQ(GetMenuItemID(menu, last), static_cast<UINT>(IDM_ABOUTBOX));
  wchar_t about[64] = {};
  GetMenuStringW(menu, static_cast<UINT>(last), about, 64, MF_BYPOSITION);
  EXPECT_EQ(win32::Narrow(about), "&About KestrowDiag...");
  // The logo and the menu item both show the about box.
  Command(f.window, IDC_LOGO, STN_CLICKED);
  SendMessageW(f.window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  EXPECT_EQ(f.host.aboutBoxes, 2);
  EXPECT_TRUE(f.host.messages.empty());
}

TEST(Win32Face, TheDriveListIsSortedAndTheFirstImageSelected) {
  ScratchFolder dir;
  MainFixture f({"F:", "E:"}, {dir.Path("b.bin"), dir.Path("a.iso")});
  EXPECT_EQ(f.DriveList(), (Texts{"a.iso", "b.bin", "E:", "F:"}));
  EXPECT_EQ(win32::GetWindowTextU(f.Item(IDC_COMBO_DRIVE)), "b.bin");
  f.shelf.Put(dir.Path("b.bin"), PlainDisc(600));
  Command(f.window, IDC_GET_VOLUME_SIZE);
  EXPECT_EQ(f.host.Texts(), Texts{"Total: 600 sector(s), 1 MB\n"});
  // Open Image... adds the image and selects it; the commands read it.
  f.host.openAnswer = dir.Path("c.bin");
  f.shelf.Put(dir.Path("c.bin"), PlainDisc(2));
  Command(f.window, IDC_OPEN_IMAGE);
  EXPECT_EQ(win32::GetWindowTextU(f.Item(IDC_COMBO_DRIVE)), "c.bin");
  Command(f.window, IDC_GET_VOLUME_SIZE);
  EXPECT_EQ(f.host.Texts().back(), "Total: 2 sector(s), 4 KB\n");
  // A drive the user picks is the one read: F: holds no disc here.
  SendMessageW(f.Item(IDC_COMBO_DRIVE), CB_SETCURSEL, 3, 0);
  Command(f.window, IDC_COMBO_DRIVE, CBN_SELCHANGE);
  Command(f.window, IDC_CHECK_FORMAT);
  EXPECT_EQ(f.host.Texts().back().substr(0, std::strlen(msg::kNoValidDisc)), msg::kNoValidDisc);
}

TEST(Win32Face, NoDriveIsToldAtStartAndByEveryCommand) {
  MainFixture f(std::vector<std::string>{});
  EXPECT_EQ(f.host.Texts(), Texts{msg::kNoDrive});
  EXPECT_EQ(f.host.messages.front().style, app::MessageStyle::kOk);
  for (const int id : {IDC_CHECK_FORMAT, IDC_BROWSE_FILE_LIST, IDC_GET_VOLUME_SIZE, IDC_PHYSICAL_DUMP}) {
    Command(f.window, id);
    EXPECT_EQ(f.host.Texts().back(), msg::kNoDrive) << id;
  }
  EXPECT_EQ(f.host.messages.size(), 5u);
}

TEST(Win32Face, TheFileListShowsTheRowsAndSavesThem) {
  MainFixture f;
  f.shelf.Put("E:", BrowsableDisc());
  ScratchFolder dir;
  f.host.saveAnswer = dir.Path("FileList.txt");
  int shown = 0;
  f.host.onFileList = [&](HWND list, app::FileListSession&) {
    ++shown;
    EXPECT_EQ(win32::GetWindowTextU(list), "File List");
    EXPECT_EQ(ItemText(list, IDC_FILE_COUNT), "Total number of file(s): 3");
    HWND view = GetDlgItem(list, IDC_FILE_LIST);
    EXPECT_TRUE(GetWindowLongW(view, GWL_STYLE) & LVS_OWNERDATA);
    EXPECT_EQ(ColumnTitle(view, 0), "File Path");
    EXPECT_EQ(ColumnTitle(view, 1), "Approx File Size");
    ASSERT_EQ(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(CellText(view, 0, 0), "Disk:Docs:Letter");
    EXPECT_EQ(CellText(view, 0, 1), "1300");
    EXPECT_EQ(CellText(view, 2, 0), "Disk:Caf\xC3\xA9");
    const std::pair<int, const char*> controls[] = {
        {IDC_RECOVER_SELECTED, "Recover Selected Files..."}, {IDC_SAVE_LIST, "Save List..."}, {IDOK, "Close"},
        {IDC_MAC_ROMAN, "Mac Roman names"}, {IDC_RESOURCE_FORKS, "Resource forks and dates"},
        {IDC_KEEP_GOING, "Go on past damaged sectors"}, {IDC_FIND_DAMAGE, "Find Damage..."}};
    for (const auto& [id, text] : controls) EXPECT_EQ(ItemText(list, id), text) << id;
    // Mac Roman names reads the names again at once.
    CheckDlgButton(list, IDC_MAC_ROMAN, BST_CHECKED);
    Command(list, IDC_MAC_ROMAN);
    EXPECT_EQ(CellText(view, 2, 0), "Disk:Caf\xC3\x88");
    CheckDlgButton(list, IDC_MAC_ROMAN, BST_UNCHECKED);
    Command(list, IDC_MAC_ROMAN);
    // The list grows with its window; Close moves with the corner.
    RECT frame{}, viewBefore{}, closeBefore{}, viewAfter{}, closeAfter{};
    GetWindowRect(list, &frame);
    GetWindowRect(view, &viewBefore);
    GetWindowRect(GetDlgItem(list, IDOK), &closeBefore);
    SetWindowPos(list, nullptr, 0, 0, frame.right - frame.left + 90, frame.bottom - frame.top + 60,
                 SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(view, &viewAfter);
    GetWindowRect(GetDlgItem(list, IDOK), &closeAfter);
    EXPECT_EQ(viewAfter.right - viewAfter.left, viewBefore.right - viewBefore.left + 90);
    EXPECT_EQ(viewAfter.bottom - viewAfter.top, viewBefore.bottom - viewBefore.top + 60);
    EXPECT_EQ(closeAfter.left - closeBefore.left, 90);
    EXPECT_EQ(closeAfter.top - closeBefore.top, 60);
    // Nothing selected: Recover asks for a selection and browses for nothing.
    Command(list, IDC_RECOVER_SELECTED);
    Command(list, IDC_SAVE_LIST);
    Command(list, IDOK);
    EXPECT_FALSE(IsWindow(list));
  };
  Command(f.window, IDC_BROWSE_FILE_LIST);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(f.host.Texts(), Texts{msg::kSelectFiles});
  EXPECT_TRUE(f.host.folderRequests.empty());
  EXPECT_EQ(ReadWholeFile(*f.host.saveAnswer),
            std::string("Disk:Docs:Letter\t1300\r\nDisk:Read Me\t0\r\nDisk:Caf\xE9\t5\r\n"));
}

TEST(Win32Face, RecoverEveryRowWithTheTimerPolling) {
  MainFixture f;
  const std::vector<DiscFile> files = ThreeFiles();
  f.shelf.Put("E:", RecoverableDisc(files));
  ScratchFolder out;
  f.host.folderAnswer = out.Path("Rescued");
  std::filesystem::create_directory(PathFromUtf8(*f.host.folderAnswer));
  std::vector<std::string> statuses;
  f.host.onFileList = [&](HWND list, app::FileListSession& session) {
    HWND view = GetDlgItem(list, IDC_FILE_LIST);
    LVITEMW all{};
    all.stateMask = LVIS_SELECTED;
    all.state = LVIS_SELECTED;
    SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&all));
    EXPECT_EQ(SendMessageW(view, LVM_GETSELECTEDCOUNT, 0, 0), 3);
    Command(list, IDC_RECOVER_SELECTED);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(list, IDC_JOB_PROGRESS)));
    EXPECT_TRUE(PumpUntil([&] {
      statuses.push_back(ItemText(list, IDC_JOB_STATUS));
      return !f.host.messages.empty();
    }));
    EXPECT_FALSE(session.TimerActive());
    EXPECT_EQ(ItemText(list, IDC_JOB_STATUS), "");
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(list, IDC_JOB_PROGRESS)));
    Command(list, IDOK);
  };
  Command(f.window, IDC_BROWSE_FILE_LIST);
  EXPECT_EQ(f.host.folderRequests, Texts{msg::kSelectFolderTitle});
  EXPECT_EQ(f.host.Texts(), Texts{msg::kDone});
  const std::string folders[] = {"Rescued/Disk/", "Rescued/Disk/Docs/", "Rescued/Disk/Docs/"};
  const std::string names[] = {"One", "Two", "Caf\xC3\xA9"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(ReadWholeFile(out.Path(folders[i] + names[i])), std::string(files[i].data.begin(), files[i].data.end()))
        << names[i];
    EXPECT_TRUE(ReadWholeFile(out.Path(folders[i] + "._" + names[i]))) << names[i];
  }
}

TEST(Win32Face, SaveVolumeImageWritesTheVolumeWithTheTimerPolling) {
  MainFixture f;
  const std::vector<DiscFile> files = ThreeFiles();
  f.shelf.Put("E:", RecoverableDisc(files));
  ScratchFolder out;
  f.host.saveAnswer = out.Path("Disk.hfs");
  f.host.onFileList = [&](HWND list, app::FileListSession& session) {
    EXPECT_EQ(ItemText(list, IDC_SAVE_VOLUME_IMAGE), "Save Volume Image...");
    Command(list, IDC_SAVE_VOLUME_IMAGE);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(list, IDC_SAVE_VOLUME_IMAGE)));
    EXPECT_TRUE(PumpUntil([&] { return !f.host.messages.empty(); }));
    EXPECT_FALSE(session.TimerActive());
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(list, IDC_SAVE_VOLUME_IMAGE)));
    Command(list, IDOK);
  };
  Command(f.window, IDC_BROWSE_FILE_LIST);
  EXPECT_EQ(f.host.Texts(), Texts{msg::kDone});
  const std::optional<std::string> image = ReadWholeFile(*f.host.saveAnswer);
  ASSERT_TRUE(image);
  for (const DiscFile& file : files) {
    EXPECT_NE(image->find(std::string(file.data.begin(), file.data.end())), std::string::npos) << file.name;
  }
}

TEST(Win32Face, PhysicalDumpThroughTheSectorRangeDialog) {
  struct Case {
    const char* start;
    const char* end;
    std::string message;  // of the range dialog; empty: accepted
    bool completed;
    int sectors;          // written
  };
  const Case cases[] = {
      {"10", "12", "", true, 3},
      {"5", "4", kSectorRangeOrderMessage, false, -1},
      {"0", "3", "Please enter an integer between 1 and 20.", false, -1},
  };
  for (const Case& c : cases) {
    MainFixture f;
    f.shelf.Put("E:", PlainDisc(20));
    ScratchFolder dir;
    f.host.saveAnswer = dir.Path("DiscImage.dat");
    std::string offered;
    f.host.onSectorRange = [&](HWND range) {
      EXPECT_EQ(win32::GetWindowTextU(range), "Select Sector");
      offered = ItemText(range, IDC_START_SECTOR) + "-" + ItemText(range, IDC_END_SECTOR);
      SetDlgItemTextW(range, IDC_START_SECTOR, win32::Widen(c.start).c_str());
      SetDlgItemTextW(range, IDC_END_SECTOR, win32::Widen(c.end).c_str());
      Command(range, IDOK);
      if (!c.message.empty()) {
        EXPECT_TRUE(IsWindow(range)) << "a failed check keeps the dialog open";
        Command(range, IDCANCEL);
      }
    };
    Command(f.window, IDC_PHYSICAL_DUMP);
    EXPECT_EQ(offered, "1-20");
    Texts expected;
    if (!c.message.empty()) expected.push_back(c.message);
    expected.push_back(c.completed ? msg::kCompleted : msg::kDumpFailed);
    EXPECT_EQ(f.host.Texts(), expected) << c.start << "-" << c.end;
    const std::optional<std::string> written = ReadWholeFile(*f.host.saveAnswer);
    EXPECT_EQ(written.has_value(), c.sectors >= 0);
    if (written) {
      EXPECT_EQ(written->size(), std::size_t(c.sectors) * format::kRawSectorSize);
    }
  }
}

TEST(Win32Face, TheAboutBoxAndTheDamageReport) {
  TestHost host;
  win32::CAboutDlg about;
  HWND box = about.Create(nullptr);
  EXPECT_EQ(win32::GetWindowTextU(box), "About KestrowDiag");
  EXPECT_EQ(ItemText(box, IDC_ABOUT_TEXT), app::text::kAboutText);
  Command(box, IDOK);
  EXPECT_TRUE(about.Ended());

  DamageReport report;
  report.unreadableSectors = {{1200, 1202}};
  report.files = {{"Disk:Whole", FileStatus::kWhole, 10, {}, {}, {}},
                  {"Disk:Hit", FileStatus::kDamaged, 20000, {{8192, 16384}}, {}, {}}};
  ScratchFolder dir;
  host.saveAnswer = dir.Path("DamageReport.json");
  win32::CDamageReportDlg dialog(host, report);
  HWND window = dialog.Create(nullptr);
  EXPECT_EQ(ItemText(window, IDC_DAMAGE_SUMMARY), "3 unreadable sector(s): 1200-1202. 1 file(s) damaged, 0 lost.");
  HWND list = GetDlgItem(window, IDC_DAMAGE_LIST);
  ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 1);
  EXPECT_EQ(CellText(list, 0, 0), "Disk:Hit");
  EXPECT_EQ(CellText(list, 0, 1), "damaged");
  EXPECT_EQ(CellText(list, 0, 2), "8192-16383");
  Command(window, IDC_SAVE_REPORT);
  EXPECT_EQ(ReadWholeFile(*host.saveAnswer), FormatDamageReportJson(report));
}

// The range dialog's rescue option (off by default) and the LBAs under its
// fields; the template's own controls where they were.
TEST(Win32Face, TheSectorRangeDialogOffersTheRescueImage) {
  MainFixture f;
  f.shelf.Put("E:", PlainDisc(20));
  ScratchFolder dir;
  f.host.saveAnswer = dir.Path("DiscImage.dat");
  bool checked = true;
  std::string lbas;
  f.host.onSectorRange = [&](HWND range) {
    checked = IsDlgButtonChecked(range, IDC_RESCUE_IMAGE) == BST_CHECKED;
    EXPECT_EQ(ItemText(range, IDC_RESCUE_IMAGE), "Resumable rescue image (with a map)");
    EXPECT_EQ(ItemText(range, IDC_SECTOR_LBAS).rfind("LBA 0 to 19", 0), 0u);
    SetDlgItemTextW(range, IDC_START_SECTOR, L"10");
    lbas = ItemText(range, IDC_SECTOR_LBAS);
    RECT ok{};
    GetWindowRect(GetDlgItem(range, IDOK), &ok);
    MapWindowPoints(nullptr, range, reinterpret_cast<POINT*>(&ok), 2);
    RECT expected{110, 54, 160, 68};
    MapDialogRect(range, &expected);
    EXPECT_EQ(ok.left, expected.left);
    EXPECT_EQ(ok.top, expected.top);
    Command(range, IDCANCEL);
  };
  Command(f.window, IDC_PHYSICAL_DUMP);
  EXPECT_FALSE(checked);
  EXPECT_EQ(lbas.rfind("LBA 9 to 19", 0), 0u) << lbas;
}

// Thousands of rows: the window keeps the template's size, within the
// screen; it is resizable and its list grows with it, as the file list does.
TEST(Win32Face, TheDamageWindowTakesThousandsOfRowsAndGrows) {
  TestHost host;
  const DamageReport report = ManyDamagedFiles(5000);
  win32::CDamageReportDlg dialog(host, report);
  HWND window = dialog.Create(nullptr);
  EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME);
  HWND list = GetDlgItem(window, IDC_DAMAGE_LIST);
  ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 5000);
  EXPECT_EQ(CellText(list, 4999, 0), "Disk:Folder:File 4999");
  RECT frame{};
  GetWindowRect(window, &frame);
  EXPECT_LE(frame.bottom - frame.top, GetSystemMetrics(SM_CYMAXIMIZED));
  EXPECT_LT(ItemText(window, IDC_DAMAGE_SUMMARY).size(), 200u);
  const std::wstring lost = win32::Widen(CellText(list, 4999, 2));
  EXPECT_GE(SendMessageW(list, LVM_GETCOLUMNWIDTH, 2, 0),
            SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(lost.c_str())));
  RECT before{};
  GetWindowRect(list, &before);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + 100, frame.bottom - frame.top + 80,
               SWP_NOMOVE | SWP_NOZORDER);
  RECT after{};
  GetWindowRect(list, &after);
  EXPECT_EQ(after.right - after.left, before.right - before.left + 100);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top + 80);
}

TEST(Win32Face, OptionsAreKeptInTheRegistry) {
  win32::RegistrySettings settings;
  for (const bool on : {true, false}) {
    settings.SetBool("Test/Option", on);
    EXPECT_EQ(settings.GetBool("Test/Option", !on), on);
  }
  EXPECT_TRUE(settings.GetBool("Test/Missing", true));
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KestrowDiag\\Test");
}
