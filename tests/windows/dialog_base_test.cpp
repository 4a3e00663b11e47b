// The dialog classes in this process, on the templates of Veltrano.dll: the
// live count that starts and stops GDI+, the dialog procedure's rules, the
// control helpers, the progress texts, and the GDI+ Picture.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "job/extract_dialog.h"
#include "resources/resource.h"
#include "settings/preferences_dialog.h"
#include "settings/settings_store.h"
#include "tests/windows/dialog_driver.h"
#include "tests/windows/wintest.h"
#include "ui/dialog.h"
#include "ui/picture.h"

namespace {

void UseDllTemplates() {
  static HMODULE dll = LoadLibraryW(wintest::DllPath().c_str());
  REQUIRE(dll != nullptr);
  SetModuleInstance(dll);
}

// A dialog on template 2 that records which members were called, and
// whether the window was bound at the time.
class RecordingDialog : public Dialog {
 public:
  std::vector<std::string> calls;
  bool unboundCall = false;

  void Note(const char* what) {
    calls.push_back(what);
    if (!window) unboundCall = true;
  }
  void OnInitDialog() override { Note("init"); }
  void OnDestroy() override { Note("destroy"); }
  void OnCommand(int id, int code) override {
    Note(("command " + std::to_string(id) + "," + std::to_string(code)).c_str());
    Dialog::OnCommand(id, code);
  }
  void OnOK() override { Note("ok"); }
  void OnCancel() override { Note("cancel"); }
  void OnMove() override { Note("move"); }
  void OnSize() override { Note("size"); }
  void OnGetMinMaxInfo(LPARAM) override { Note("minmax"); }
  bool Has(const std::string& what) const { return std::find(calls.begin(), calls.end(), what) != calls.end(); }
};

// Storing the record fails once, as it would when memory runs out.
class FailingOnceSave : public PreferencesDialog {
 public:
  bool failed = false;
  void OnOK() override {
    if (!failed) {
      failed = true;
      throw std::bad_alloc();
    }
    PreferencesDialog::OnOK();
  }
};

std::atomic<bool> g_statusTextThrew{false};

// Throws once, the first time the status text is built while the job runs.
void ThrowOnceWhileRunning(const JobCounters& c) {
  if (!c.jobDone && !g_statusTextThrew.exchange(true)) throw std::bad_alloc();
}

}  // namespace

// Regression: the timer tick held the job's lock by hand while it built the
// status text. A failure there left the lock held: the worker blocked on it,
// and closing the dialog waited for the worker for ever.
TEST_CASE("a failure while building the status text leaves the worker running and the dialog closable") {
  UseDllTemplates();
  const int kFiles = 12;
  std::wstring folder = driver::FreshFolder(L"tickfail");
  {
    PreferencesDialog holder;  // keeps GDI+ started for making the files
    std::wstring jpegPath = folder + L"\\preview.jpg";
    REQUIRE(driver::MakeJpegFile(jpegPath, 1600, 1200));
    std::vector<std::uint8_t> jpeg = driver::ReadFileBytes(jpegPath);
    DeleteFileW(jpegPath.c_str());
    for (int i = 1; i <= kFiles; ++i)
      REQUIRE(driver::WriteFileBytes(folder + L"\\IMG_" + std::to_wstring(i) + L".CR2",
                                     driver::RawAround(jpeg, static_cast<std::uint8_t>(i))));
  }
  TheSettingsStore().Clear();
  SettingsRecord scaled;
  scaled.makeSmallerCopies = 1;  // scaled copies keep the worker busy longer
  scaled.maxWidth = scaled.maxHeight = 300;
  scaled.SaveToStore();

  g_statusTextThrew = false;
  ExtractDialog::statusTextHook = &ThrowOnceWhileRunning;
  std::vector<std::wstring> selection{folder};
  auto dialog = std::make_unique<ExtractDialog>();
  dialog->selection = &selection;
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread ui([&] {
    dialog->ShowModal(IDD_PROGRESS);
    SetEvent(ended);
  });
  bool doneShown = false;
  if (HWND w = driver::WaitForDialog(L"Veltrano v1.5")) {
    for (int i = 0; i < 600 && !doneShown; ++i) {  // up to 30 s
      doneShown = driver::ItemText(w, IDCANCEL) == L"Done";
      if (!doneShown) driver::Sleep(50);
    }
    PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  }
  if (WaitForSingleObject(ended, 30000) != WAIT_OBJECT_0) {
    // The dialog thread waits for a worker that waits for the lock: nothing
    // can end them; report and leave.
    wintest::Fail(__FILE__, __LINE__, "the progress dialog did not close: its worker is blocked");
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  ui.join();
  CloseHandle(ended);
  ExtractDialog::statusTextHook = nullptr;
  CHECK(g_statusTextThrew);  // the failure happened while the job ran
  CHECK(doneShown);          // the worker went on to the end
  CHECK(dialog->workerThread == nullptr);
  CHECK_EQ(driver::FilesIn(folder + L"\\extracted_jpegs").size(), static_cast<std::size_t>(kFiles));
  TheSettingsStore().Clear();
  driver::RemoveTree(folder);
}

// Regression: when storing the record failed on Extract, the dialog stayed
// open with the Extract choice still set, so a later Cancel extracted.
std::atomic<bool> g_slowWalkEnded{false};
HANDLE g_slowWalkMayEnd = nullptr;

// Stands for a walk that takes long and sees a cancel late (a folder of
// 150,000 entries, a share that does not answer): it publishes a count and
// then goes on, whatever the dialog asks, until the test lets it end.
void SlowWalk(ExtractDialog& dialog) {
  {
    JobLock lock(dialog);
    dialog.Counters().filesFound = 42;
  }
  WaitForSingleObject(g_slowWalkMayEnd, 20000);
  Sleep(200);
  g_slowWalkEnded = true;
}

// The dialog was blank during the walk, and Cancel blocked the window thread
// (the file browser's) until the worker had stopped.
TEST_CASE("the walk's count, and a Cancel that keeps the window thread answering until the worker ends") {
  UseDllTemplates();
  TheSettingsStore().Clear();
  g_slowWalkEnded = false;
  g_slowWalkMayEnd = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ExtractDialog::workerHook = &SlowWalk;
  std::vector<std::wstring> selection;  // nothing to do once the walk is over
  auto dialog = std::make_unique<ExtractDialog>();
  dialog->selection = &selection;
  HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> endedBeforeReturn{false};
  std::thread ui([&] {
    dialog->ShowModal(IDD_PROGRESS);
    endedBeforeReturn = g_slowWalkEnded.load();
    SetEvent(ended);
  });
  HWND w = driver::WaitForDialog(L"Veltrano v1.5");
  CHECK(w != nullptr);
  std::wstring walking;
  for (int i = 0; w && i < 100 && walking != L"Scanning... 42 files found"; ++i) {
    walking = driver::ItemText(w, IDC_STATUS_TEXT);
    driver::Sleep(50);
  }
  CHECK_EQ(walking, std::wstring(L"Scanning... 42 files found"));
  if (w) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  driver::Sleep(300);
  DWORD_PTR answer = 0;
  const bool answered = w && SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &answer) != 0;
  CHECK(answered);
  CHECK(!g_slowWalkEnded);  // the worker still runs meanwhile
  CHECK(WaitForSingleObject(ended, 0) == WAIT_TIMEOUT);
  SetEvent(g_slowWalkMayEnd);
  CHECK(WaitForSingleObject(ended, 30000) == WAIT_OBJECT_0);
  ui.join();
  CHECK(endedBeforeReturn);  // ShowModal returned only once the worker had ended
  ExtractDialog::workerHook = nullptr;
  CloseHandle(ended);
  CloseHandle(g_slowWalkMayEnd);
  TheSettingsStore().Clear();
}

TEST_CASE("a failed store on Extract takes the Extract choice back") {
  UseDllTemplates();
  FailingOnceSave d;
  bool stayedOpen = false;
  std::thread drive([&] {
    HWND w = driver::WaitForDialog(L"Veltrano preferences");
    if (!w) return;
    driver::Click(w, IDC_EXTRACT);
    driver::Sleep(200);
    stayedOpen = IsWindow(w) != FALSE;
    PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
    driver::WaitGone(w, 10000);
  });
  d.ShowModal(IDD_PREFERENCES);
  drive.join();
  CHECK(d.failed);
  CHECK(stayedOpen);
  CHECK(!d.extractRequested);
}

TEST_CASE("the live count starts GDI+ with the first dialog object and stops it with the last") {
  CHECK_EQ(LiveDialogCount(), 0);
  CHECK(!DialogsHoldGdiplus());
  {
    PreferencesDialog preferences;
    CHECK_EQ(LiveDialogCount(), 1);
    CHECK(DialogsHoldGdiplus());
    {
      ExtractDialog progress;  // itself and its settings copy
      CHECK_EQ(LiveDialogCount(), 3);
    }
    CHECK_EQ(LiveDialogCount(), 1);
    CHECK(DialogsHoldGdiplus());
  }
  CHECK_EQ(LiveDialogCount(), 0);
  CHECK(!DialogsHoldGdiplus());
  // Two threads making and dropping dialog objects at once.
  auto churn = [] {
    for (int i = 0; i < 300; ++i) {
      PreferencesDialog d;
      if (!DialogsHoldGdiplus()) wintest::Fail(__FILE__, __LINE__, "GDI+ not running while a dialog lives");
    }
  };
  std::thread a(churn), b(churn);
  a.join();
  b.join();
  CHECK_EQ(LiveDialogCount(), 0);
  CHECK(!DialogsHoldGdiplus());
}

TEST_CASE("the dialog procedure: unbound messages, base command rules, Esc") {
  // No object bound: these messages are reported handled, others not.
  HWND plain = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  REQUIRE(plain != nullptr);
  for (UINT m : {WM_DESTROY, WM_COMMAND, WM_NOTIFY, WM_HSCROLL, WM_VSCROLL, WM_MOVE, WM_SIZE, WM_GETMINMAXINFO})
    CHECK_EQ(Dialog::DialogProc(plain, m, 0, 0), static_cast<INT_PTR>(TRUE));
  for (UINT m : {WM_ACTIVATE, WM_ERASEBKGND, WM_PAINT, WM_TIMER, WM_SHOWWINDOW})
    CHECK_EQ(Dialog::DialogProc(plain, m, 0, 0), static_cast<INT_PTR>(FALSE));
  DestroyWindow(plain);

  RecordingDialog base;
  CHECK_EQ(base.HandleMessage(WM_ACTIVATE, WA_ACTIVE, 0), static_cast<INT_PTR>(TRUE));
  CHECK_EQ(base.HandleMessage(WM_TIMER, 1, 0), static_cast<INT_PTR>(FALSE));
  CHECK_EQ(base.HandleMessage(WM_KEYDOWN, VK_RETURN, 0), static_cast<INT_PTR>(FALSE));

  UseDllTemplates();
  RecordingDialog d;
  bool stayedOpen = false;
  std::thread drive([&] {
    HWND w = driver::WaitForDialog(L"Veltrano v1.5");
    if (!w) return;
    SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
    SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, 7), 0);
    SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDC_STATUS_TEXT, 0), 0);
    driver::Sleep(200);
    stayedOpen = IsWindow(w) != FALSE;
    driver::Key(GetDlgItem(w, IDCANCEL), VK_ESCAPE);
    if (!driver::WaitGone(w, 10000)) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
  });
  d.ShowModal(IDD_PROGRESS);
  drive.join();
  CHECK(stayedOpen);
  CHECK(!d.unboundCall);
  REQUIRE(!d.calls.empty());
  CHECK_EQ(d.calls.front(), std::string("init"));
  CHECK(d.Has("command 1,1"));
  CHECK(d.Has("command 3,0"));
  CHECK(!d.Has("ok"));
  // Esc: command 2, then OnCancel, then the window goes.
  auto esc = std::find(d.calls.begin(), d.calls.end(), "command 2,0");
  REQUIRE(esc != d.calls.end());
  auto cancel = std::find(esc, d.calls.end(), "cancel");
  auto destroy = std::find(esc, d.calls.end(), "destroy");
  CHECK(cancel != d.calls.end());
  CHECK(destroy != d.calls.end());
  CHECK(cancel < destroy);
  CHECK_EQ(d.calls.back(), std::string("destroy"));
  CHECK(GetWindowLongPtrW(d.window, GWLP_USERDATA) == 0);  // the window is gone

  // A template that does not exist: ShowModal returns at once.
  RecordingDialog missing;
  missing.ShowModal(999);
  CHECK(missing.calls.empty());
}

TEST_CASE("SetWindowInt and GetWindowInt") {
  HWND edit = CreateWindowW(L"EDIT", L"", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
  REQUIRE(edit != nullptr);
  struct {
    const wchar_t* text;
    int value;
  } cases[] = {{L"1200", 1200}, {L"12abc", 12}, {L"", 0}, {L"abc", 0}, {L"-5", -5}, {L"  7", 7}, {L"+9", 9}, {L"0800", 800}};
  for (const auto& c : cases) {
    SetWindowTextW(edit, c.text);
    CHECK_EQ(GetWindowInt(edit), c.value);
  }
  SetWindowInt(edit, 0, true);
  CHECK_EQ(driver::Text(edit), std::wstring(L""));
  SetWindowInt(edit, 0, false);
  CHECK_EQ(driver::Text(edit), std::wstring(L"0"));
  SetWindowInt(edit, -35, true);
  CHECK_EQ(driver::Text(edit), std::wstring(L"-35"));
  SetWindowInt(edit, 800, true);
  CHECK_EQ(driver::Text(edit), std::wstring(L"800"));
  DestroyWindow(edit);
}

TEST_CASE("progress texts") {
  JobCounters c;
  c.filesScanned = 3;
  c.newCount = 3;
  c.existingCount = 0;
  CHECK_EQ(ExtractDialog::StatusTextFor(c), std::wstring(L"Files Scanned: 3\nJPEGs Extracted: 3 Total - 3 New"));
  c.jobDone = true;
  c.elapsedSeconds = 125;
  c.closeCountdown = 100;
  CHECK_EQ(ExtractDialog::StatusTextFor(c),
           std::wstring(L"Files Scanned: 3\nJPEGs Extracted: 3 Total - 3 New\nTotal Time: 2:05 min\n"
                        L"Average Time per File: 41.67 sec\n\nDialog box will close in 10 seconds"));
  c.closeCountdown = 10;
  CHECK(ExtractDialog::StatusTextFor(c).find(L"close in 1 seconds") != std::wstring::npos);
  c.closeCountdown = 0;
  CHECK(ExtractDialog::StatusTextFor(c).find(L"Dialog box") == std::wstring::npos);
  c.elapsedSeconds = 3725;
  CHECK(ExtractDialog::StatusTextFor(c).find(L"\nTotal Time: 1:02:05\n") != std::wstring::npos);
  c.elapsedSeconds = 59;
  CHECK(ExtractDialog::StatusTextFor(c).find(L"\nTotal Time: 59 sec\n") != std::wstring::npos);
  c.elapsedSeconds = 60;
  CHECK(ExtractDialog::StatusTextFor(c).find(L"\nTotal Time: 1:00 min\n") != std::wstring::npos);
  c.newCount = 0;
  c.existingCount = 4;
  c.filesScanned = 4;
  CHECK(ExtractDialog::StatusTextFor(c).find(L"4 Total - 0 New\nTotal Time: 1:00 min\nAverage Time per File: 0.00 sec") !=
        std::wstring::npos);
}

TEST_CASE("GDI+ Picture: load, scale to a fitted size, save as image/jpeg, reload") {
  PreferencesDialog holder;  // keeps GDI+ started, as the progress dialog does for the job
  REQUIRE(DialogsHoldGdiplus());
  std::wstring folder = driver::FreshFolder(L"picture");
  std::wstring path = folder + L"\\photo.jpg";
  REQUIRE(driver::MakeJpegFile(path, 1000, 800));
  {
    // The same from memory: load, scale, encode into memory, load that.
    const std::vector<std::uint8_t> source = driver::ReadFileBytes(path);
    Picture inMemory;
    REQUIRE(inMemory.LoadFromMemory(source.data(), source.size()));
    CHECK_EQ(inMemory.width(), 1000);
    inMemory.ScaleTo(400, 320);
    std::vector<std::uint8_t> encoded;
    CHECK(!inMemory.SaveToMemory(u"image/JPEG", 0.95f, encoded));
    CHECK(encoded.empty());
    CHECK(inMemory.SaveToMemory(u"image/jpeg", 0.95f, encoded));
    Picture again;
    REQUIRE(again.LoadFromMemory(encoded.data(), encoded.size()));
    CHECK_EQ(again.width(), 400);
    CHECK_EQ(again.height(), 320);
    CHECK(!again.LoadFromMemory("not", 3));
    CHECK(again.empty());
  }
  Picture picture;
  REQUIRE(picture.LoadFromFile(path));
  CHECK_EQ(picture.width(), 1000);
  CHECK_EQ(picture.height(), 800);
  picture.ScaleTo(800, 640);  // FitWithin(1000, 800, 800, 800)
  CHECK_EQ(picture.width(), 800);
  CHECK_EQ(picture.height(), 640);
  std::uint8_t px[4];
  int n = 0;
  CHECK(picture.PixelAt(799, 639, px, n));
  CHECK(!picture.PixelAt(800, 0, px, n));
  // Saving over the file the image came from works once it is scaled.
  CHECK(picture.SaveAs(path, u"image/jpeg", 0.95f));
  // No encoder has the MIME type in capitals: nothing is written.
  std::wstring other = folder + L"\\other.jpg";
  CHECK(!picture.SaveAs(other, u"image/JPEG", 0.95f));
  CHECK(!driver::Exists(other));
  picture.Release();
  CHECK_EQ(picture.width(), 0);
  CHECK(picture.empty());
  Picture reloaded;
  REQUIRE(reloaded.LoadFromFile(path));
  CHECK_EQ(reloaded.width(), 800);
  CHECK_EQ(reloaded.height(), 640);
  std::vector<std::uint8_t> bytes = driver::ReadFileBytes(path);
  REQUIRE(bytes.size() > 4);
  CHECK(bytes[0] == 0xFF && bytes[1] == 0xD8);
  reloaded.Release();
  // No temporary files are left beside the target.
  CHECK_EQ(driver::FilesIn(folder).size(), static_cast<std::size_t>(1));
  // A missing file and a file that is not an image load as nothing.
  Picture none;
  CHECK(!none.LoadFromFile(folder + L"\\missing.jpg"));
  CHECK_EQ(none.width(), 0);
  driver::WriteFileBytes(folder + L"\\text.jpg", {'n', 'o', 't'});
  CHECK(!none.LoadFromFile(folder + L"\\text.jpg"));
  CHECK_EQ(none.height(), 0);
  none.ScaleTo(10, 10);  // nothing loaded: stays empty and saves nothing
  CHECK(!none.SaveAs(folder + L"\\empty.jpg", u"image/jpeg", 0.95f));
  CHECK(!driver::Exists(folder + L"\\empty.jpg"));
  driver::RemoveTree(folder);
}

WINTEST_MAIN
