// The whole menu command driven for real: the handler object of
// Veltrano.dll runs InvokeCommand on this thread while a driver thread finds
// the preferences and progress dialogs of this process, checks and changes
// their controls, presses their buttons and watches the progress text. The
// results are checked on disk: JPEG files, scaled copies, the settings file.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "tests/windows/dialog_driver.h"
#include "tests/windows/wintest.h"
#include "veltrano_class_ids.h"

namespace {

const wchar_t kPreferencesCaption[] = L"Veltrano preferences";
const wchar_t kProgressCaption[] = L"Veltrano v1.5";
const CLSID kClsid = {VELTRANO_CLSID_SIMPLE_SHL_EXT_FIELDS};

// A data object that serves a list of paths as CF_HDROP.
class PathsDataObject final : public IDataObject {
 public:
  explicit PathsDataObject(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDataObject) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    std::size_t chars = 1;
    for (const auto& p : paths_) chars += p.size() + 1;
    HGLOBAL g = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(g));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(drop + 1);
    for (const auto& p : paths_) {
      std::wmemcpy(out, p.c_str(), p.size() + 1);
      out += p.size() + 1;
    }
    *out = 0;
    GlobalUnlock(g);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = g;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override { return f->cfFormat == CF_HDROP ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  std::vector<std::wstring> paths_;
  ULONG refs_ = 1;
};

HMODULE Dll() {
  static HMODULE dll = LoadLibraryW(wintest::DllPath().c_str());
  return dll;
}

// Runs the menu command on the paths with the driver on a second thread.
// Returns InvokeCommand's result. When the driver gives up it closes
// whatever dialog is still open so the command can end.
HRESULT RunCommand(const std::vector<std::wstring>& paths, const std::function<void()>& drive,
                   const std::function<void(CMINVOKECOMMANDINFOEX&)>& adjust = nullptr) {
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(Dll(), "DllGetClassObject")));
  REQUIRE(getClassObject != nullptr);
  IClassFactory* factory = nullptr;
  REQUIRE(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK);
  IShellExtInit* init = nullptr;
  HRESULT hr = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  factory->Release();
  REQUIRE(hr == S_OK);
  PathsDataObject data(paths);
  CHECK_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
  IContextMenu* menu = nullptr;
  REQUIRE(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)) == S_OK);

  std::atomic<bool> commandDone{false};
  std::thread driverThread([&] {
    drive();
    // Whatever the driver left open is closed, so a failed check cannot
    // hang the test.
    for (int i = 0; i < 400 && !commandDone; ++i) {
      for (const wchar_t* caption : {kPreferencesCaption, kProgressCaption})
        if (HWND w = driver::FindOwnDialog(caption)) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
      driver::Sleep(50);
    }
  });
  CMINVOKECOMMANDINFOEX info = {};
  info.cbSize = sizeof(CMINVOKECOMMANDINFO);
  info.lpVerb = MAKEINTRESOURCEA(0);
  info.nShow = SW_SHOWNORMAL;
  if (adjust) adjust(info);
  hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
  commandDone = true;
  driverThread.join();
  menu->Release();
  init->Release();
  return hr;
}

// The lines of a progress text.
std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t nl = text.find(L'\n', start);
    lines.push_back(text.substr(start, nl == std::wstring::npos ? std::wstring::npos : nl - start));
    if (nl == std::wstring::npos) break;
    start = nl + 1;
  }
  return lines;
}

bool StartsWith(const std::wstring& s, const std::wstring& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::wstring Artifact(const std::wstring& name) {
  std::wstring folder = wintest::ArtifactsFolder();
  if (folder.empty()) folder = L".";
  return folder + L"\\" + name;
}

// A folder with three RAW-like files holding 640 x 480 previews, a JPEG and
// a text file that are not candidates, and a sub-folder that is not entered.
std::wstring MakeRawFolder(const std::wstring& name, int count, int width = 640, int height = 480) {
  std::wstring folder = driver::FreshFolder(name);
  std::wstring jpegPath = folder + L"\\preview.jpg";
  REQUIRE(driver::MakeJpegFile(jpegPath, width, height));
  std::vector<std::uint8_t> jpeg = driver::ReadFileBytes(jpegPath);
  REQUIRE(jpeg.size() > 100);
  for (int i = 1; i <= count; ++i)
    REQUIRE(driver::WriteFileBytes(folder + L"\\IMG_" + std::to_wstring(i) + L".CR2",
                                   driver::RawAround(jpeg, static_cast<std::uint8_t>(i))));
  driver::WriteFileBytes(folder + L"\\notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
  CreateDirectoryW((folder + L"\\sub").c_str(), nullptr);
  driver::WriteFileBytes(folder + L"\\sub\\IMG_9.CR2", driver::RawAround(jpeg, 9));
  return folder;
}

struct ProgressLog {
  std::wstring doneText;            // the text when the button first read "Done"
  std::vector<int> countdowns;      // distinct "will close in N" values seen, in order
  bool closedByItself = false;
};

// Watches the progress dialog until its button reads "Done" (and, when
// waitClose is set, until it closes by itself).
ProgressLog WatchProgress(HWND progress, bool waitClose, const std::wstring& screenshot = L"") {
  ProgressLog log;
  for (int i = 0; i < 1200 && IsWindow(progress); ++i) {  // up to 60 s
    if (driver::ItemText(progress, IDCANCEL) == L"Done") {
      log.doneText = driver::ItemText(progress, IDC_STATUS_TEXT);
      break;
    }
    driver::Sleep(50);
  }
  if (!screenshot.empty() && IsWindow(progress)) driver::Screenshot(progress, screenshot);
  if (!waitClose) return log;
  for (int i = 0; i < 400 && IsWindow(progress); ++i) {  // up to 20 s
    std::wstring text = driver::ItemText(progress, IDC_STATUS_TEXT);
    std::size_t at = text.find(L"Dialog box will close in ");
    if (at != std::wstring::npos) {
      int n = _wtoi(text.c_str() + at + 25);
      if (log.countdowns.empty() || log.countdowns.back() != n) log.countdowns.push_back(n);
    }
    driver::Sleep(25);
  }
  log.closedByItself = !IsWindow(progress);
  return log;
}

}  // namespace

TEST_CASE("defaults, Save, and the dialog base's painting and command rules") {
  DeleteFileW(driver::SettingsFile().c_str());
  std::wstring folder = MakeRawFolder(L"save", 1);
  bool progressSeen = false;
  HRESULT hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::Sleep(300);  // let it paint before the screenshot
    CHECK(driver::Screenshot(d, Artifact(L"preferences_dialog.bmp")));
    // Defaults with no settings file.
    CHECK(driver::Checked(d, IDC_NATIVE_ONLY));
    CHECK(!driver::Checked(d, IDC_NATIVE_AND_SMALLER));
    CHECK(!driver::Enabled(d, IDC_MAX_WIDTH));
    CHECK(!driver::Enabled(d, IDC_MAX_HEIGHT));
    CHECK(driver::Enabled(d, IDC_MAX_WIDTH_SPIN));
    CHECK(driver::Enabled(d, IDC_MAX_HEIGHT_SPIN));
    CHECK_EQ(driver::ItemText(d, IDC_MAX_WIDTH), std::wstring(L"800"));
    CHECK_EQ(driver::ItemText(d, IDC_MAX_HEIGHT), std::wstring(L"800"));
    CHECK(driver::Checked(d, IDC_ADD_SUFFIX));
    CHECK(driver::Checked(d, IDC_IN_FOLDERS));
    CHECK(!driver::Checked(d, IDC_WITH_RAWS));
    // Texts of the template and the banner bitmap in its static control.
    CHECK_EQ(driver::ItemText(d, IDC_EXTRACT), std::wstring(L"Extract"));
    CHECK_EQ(driver::ItemText(d, IDOK), std::wstring(L"Save"));
    CHECK_EQ(driver::ItemText(d, IDCANCEL), std::wstring(L"Cancel"));
    CHECK_EQ(driver::ItemText(d, IDC_IN_FOLDERS), std::wstring(L"JPEGs in &folder(s) next to Raws"));
    HWND banner = nullptr;
    for (HWND c = GetWindow(d, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) banner = c;
    REQUIRE(banner != nullptr);
    HBITMAP bmp = reinterpret_cast<HBITMAP>(SendMessageW(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
    REQUIRE(bmp != nullptr);
    BITMAP info = {};
    GetObjectW(bmp, sizeof info, &info);
    CHECK_EQ(info.bmWidth, 400L);
    CHECK_EQ(info.bmHeight, 60L);
    // Up-down controls: step 50 at once, range 100..1000.
    UDACCEL accel[2] = {};
    CHECK_EQ(SendMessageW(GetDlgItem(d, IDC_MAX_WIDTH_SPIN), UDM_GETACCEL, 2, reinterpret_cast<LPARAM>(accel)),
             static_cast<LRESULT>(1));
    CHECK_EQ(accel[0].nSec, 0u);
    CHECK_EQ(accel[0].nInc, 50u);
    int low = 0, high = 0;
    SendMessageW(GetDlgItem(d, IDC_MAX_HEIGHT_SPIN), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                 reinterpret_cast<LPARAM>(&high));
    CHECK_EQ(low, 100);
    CHECK_EQ(high, 1000);

    // WM_PRINT: the background alone, no controls and no frame.
    RECT client;
    GetClientRect(d, &client);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(mem, canvas);
    const COLORREF sentinel = RGB(255, 0, 255);
    HBRUSH sentinelBrush = CreateSolidBrush(sentinel);
    FillRect(mem, &client, sentinelBrush);
    // (What SendMessage returns for a dialog is DWLP_MSGRESULT, not the
    // procedure's TRUE; the pixels tell what happened.)
    SendMessageW(d, WM_PRINT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT | PRF_CHILDREN | PRF_NONCLIENT);
    const COLORREF face = GetPixel(mem, client.right / 2, client.bottom - 2);
    CHECK(face != sentinel);
    int differing = 0;
    for (int y = 0; y < client.bottom; y += 3)
      for (int x = 0; x < client.right; x += 3) differing += GetPixel(mem, x, y) != face;
    CHECK_EQ(differing, 0);  // the banner and the buttons were not drawn

    // WM_ERASEBKGND: the background around the controls, never over them.
    RECT extract;
    GetWindowRect(GetDlgItem(d, IDC_EXTRACT), &extract);
    MapWindowPoints(HWND_DESKTOP, d, reinterpret_cast<POINT*>(&extract), 2);
    FillRect(mem, &client, sentinelBrush);
    SendMessageW(d, WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem), 0);
    CHECK_EQ(GetPixel(mem, (extract.left + extract.right) / 2, (extract.top + extract.bottom) / 2), sentinel);
    CHECK_EQ(GetPixel(mem, 1, 1), sentinel);  // under the banner
    CHECK_EQ(GetPixel(mem, client.right / 2, client.bottom - 2), face);
    CHECK_EQ(GetPixel(mem, extract.left - 2, (extract.top + extract.bottom) / 2), face);
    // A hidden control is painted over.
    ShowWindow(GetDlgItem(d, IDC_EXTRACT), SW_HIDE);
    FillRect(mem, &client, sentinelBrush);
    SendMessageW(d, WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem), 0);
    CHECK_EQ(GetPixel(mem, (extract.left + extract.right) / 2, (extract.top + extract.bottom) / 2), face);
    ShowWindow(GetDlgItem(d, IDC_EXTRACT), SW_SHOW);
    SelectObject(mem, old);
    DeleteObject(canvas);
    DeleteObject(sentinelBrush);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);

    // A command 1 with a code other than 0, and a command id the base does
    // not know, leave the dialog open.
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_MAX_WIDTH_SPIN, 0), 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDC_EXTRACT, 1), 0);  // Extract with a code: ignored
    driver::Sleep(200);
    CHECK(IsWindow(d));

    // Radio 5 enables the boxes, radio 4 disables them again.
    driver::Click(d, IDC_NATIVE_AND_SMALLER);
    CHECK(driver::Enabled(d, IDC_MAX_WIDTH));
    CHECK(driver::Enabled(d, IDC_MAX_HEIGHT));
    driver::Click(d, IDC_NATIVE_ONLY);
    CHECK(!driver::Enabled(d, IDC_MAX_WIDTH));
    CHECK(!driver::Enabled(d, IDC_MAX_HEIGHT));
    // Disabled boxes are still stored.
    driver::SetItemText(d, IDC_MAX_HEIGHT, L"  -12abc");
    driver::Click(d, IDOK);
    CHECK(driver::WaitGone(d));
    progressSeen = driver::WaitForDialog(kProgressCaption, 1000) != nullptr;
  });
  CHECK_EQ(hr, S_OK);
  CHECK(!progressSeen);
  CHECK(driver::FilesIn(folder + L"\\extracted_jpegs").empty());
  CHECK(driver::ReadFileBytes(driver::SettingsFile()) == driver::SettingsBytes(0, 800, -12, 1, 1));
  driver::RemoveTree(folder);
}

TEST_CASE("Save without changes on the first run writes the default file") {
  DeleteFileW(driver::SettingsFile().c_str());
  std::wstring folder = driver::FreshFolder(L"save_default");
  HRESULT hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::Click(d, IDOK);
    CHECK(driver::WaitGone(d));
  });
  CHECK_EQ(hr, S_OK);
  std::vector<std::uint8_t> file = driver::ReadFileBytes(driver::SettingsFile());
  CHECK_EQ(file.size(), static_cast<std::size_t>(76));
  CHECK(file == driver::SettingsBytes(0, 800, 800, 1, 1));
  driver::RemoveTree(folder);
}

TEST_CASE("Cancel after changes stores nothing but still rewrites the file") {
  DeleteFileW(driver::SettingsFile().c_str());
  std::wstring folder = MakeRawFolder(L"cancel", 1);
  HRESULT hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::Click(d, IDC_NATIVE_AND_SMALLER);
    driver::SetItemText(d, IDC_MAX_WIDTH, L"1200");
    driver::Click(d, IDC_ADD_SUFFIX);
    driver::Click(d, IDCANCEL);
    CHECK(driver::WaitGone(d));
  });
  CHECK_EQ(hr, S_OK);
  // The empty store: magic and a section count of 0.
  std::vector<std::uint8_t> expected = {0x72, 0x74, 0x6C, 0x76, 0, 0, 0, 0};
  CHECK(driver::ReadFileBytes(driver::SettingsFile()) == expected);
  CHECK(!driver::Exists(folder + L"\\extracted_jpegs"));
  driver::RemoveTree(folder);
}

TEST_CASE("initial controls follow the settings file; Esc and the close button cancel") {
  // Smaller copies on, width 640, height 0 (shown blank), no suffix, JPEGs
  // beside the RAW files.
  const std::vector<std::uint8_t> stored = driver::SettingsBytes(1, 640, 0, 0, 0);
  CreateDirectoryW((driver::SettingsFile().substr(0, driver::SettingsFile().rfind(L"\\VLTR\\"))).c_str(), nullptr);
  CreateDirectoryW((driver::SettingsFile().substr(0, driver::SettingsFile().rfind(L'\\'))).c_str(), nullptr);
  REQUIRE(driver::WriteFileBytes(driver::SettingsFile(), stored));
  std::wstring folder = MakeRawFolder(L"esc", 1);
  HRESULT hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    CHECK(driver::Checked(d, IDC_NATIVE_AND_SMALLER));
    CHECK(!driver::Checked(d, IDC_NATIVE_ONLY));
    CHECK(driver::Enabled(d, IDC_MAX_WIDTH));
    CHECK(driver::Enabled(d, IDC_MAX_HEIGHT));
    CHECK_EQ(driver::ItemText(d, IDC_MAX_WIDTH), std::wstring(L"640"));
    CHECK_EQ(driver::ItemText(d, IDC_MAX_HEIGHT), std::wstring(L""));
    CHECK(!driver::Checked(d, IDC_ADD_SUFFIX));
    CHECK(driver::Checked(d, IDC_WITH_RAWS));
    CHECK(!driver::Checked(d, IDC_IN_FOLDERS));
    driver::SetItemText(d, IDC_MAX_WIDTH, L"999");
    driver::Key(GetDlgItem(d, IDC_MAX_WIDTH), VK_ESCAPE);
    CHECK(driver::WaitGone(d));
  });
  CHECK_EQ(hr, S_OK);
  CHECK(driver::ReadFileBytes(driver::SettingsFile()) == stored);

  // The caption's close button ends the dialog the same way.
  hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::SetItemText(d, IDC_MAX_WIDTH, L"999");
    PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(driver::WaitGone(d));
    CHECK(driver::WaitForDialog(kProgressCaption, 1000) == nullptr);
  });
  CHECK_EQ(hr, S_OK);
  CHECK(driver::ReadFileBytes(driver::SettingsFile()) == stored);
  CHECK(driver::FilesIn(folder).size() == 3u);  // preview.jpg, IMG_1.CR2, notes.txt: nothing written
  driver::RemoveTree(folder);
}

TEST_CASE("Extract with scaled copies, progress text until Done, then a second run with Enter") {
  DeleteFileW(driver::SettingsFile().c_str());
  std::wstring folder = MakeRawFolder(L"extract", 3);
  ProgressLog first;
  HRESULT hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::Click(d, IDC_NATIVE_AND_SMALLER);
    // The arrow keys step by 50 within 100..1000.
    HWND width = GetDlgItem(d, IDC_MAX_WIDTH);
    driver::SetItemText(d, IDC_MAX_WIDTH, L"400");
    driver::Key(width, VK_UP);
    driver::Sleep(300);
    CHECK_EQ(driver::ItemText(d, IDC_MAX_WIDTH), std::wstring(L"450"));
    driver::Key(width, VK_DOWN);
    driver::Sleep(300);
    CHECK_EQ(driver::ItemText(d, IDC_MAX_WIDTH), std::wstring(L"400"));
    HWND height = GetDlgItem(d, IDC_MAX_HEIGHT);
    driver::SetItemText(d, IDC_MAX_HEIGHT, L"1000");
    driver::Key(height, VK_UP);
    driver::Sleep(300);
    CHECK_EQ(driver::ItemText(d, IDC_MAX_HEIGHT), std::wstring(L"1000"));
    driver::SetItemText(d, IDC_MAX_HEIGHT, L"100");
    driver::Key(height, VK_DOWN);
    driver::Sleep(300);
    CHECK_EQ(driver::ItemText(d, IDC_MAX_HEIGHT), std::wstring(L"100"));
    driver::SetItemText(d, IDC_MAX_HEIGHT, L"300");
    driver::Click(d, IDC_EXTRACT);
    CHECK(driver::WaitGone(d));
    HWND p = driver::WaitForDialog(kProgressCaption);
    REQUIRE(p != nullptr);
    CHECK_EQ(driver::ItemText(p, IDCANCEL), std::wstring(L"Cancel"));
    first = WatchProgress(p, false, Artifact(L"progress_dialog.bmp"));
    driver::Click(p, IDCANCEL);  // "Done" closes at once
    CHECK(driver::WaitGone(p, 5000));
  });
  CHECK_EQ(hr, S_OK);
  std::vector<std::wstring> lines = Lines(first.doneText);
  REQUIRE_EQ(lines.size(), static_cast<std::size_t>(6));
  CHECK_EQ(lines[0], std::wstring(L"Files Scanned: 3"));
  CHECK_EQ(lines[1], std::wstring(L"JPEGs Extracted: 3 Total - 3 New"));
  CHECK(StartsWith(lines[2], L"Total Time: ") && lines[2].size() > 12 &&
        (lines[2].find(L" sec") != std::wstring::npos || lines[2].find(L" min") != std::wstring::npos));
  CHECK(StartsWith(lines[3], L"Average Time per File: ") && lines[3].find(L'.') == lines[3].size() - 7);
  CHECK_EQ(lines[4], std::wstring(L""));
  CHECK(lines[5] == L"Dialog box will close in 10 seconds" || lines[5] == L"Dialog box will close in 9 seconds");
  // Native outputs in extracted_jpegs, scaled copies 400 x 300 in
  // extracted_jpegs_400; nothing for the sub-folder, the JPEG or the text.
  for (int i = 1; i <= 3; ++i) {
    std::wstring native = folder + L"\\extracted_jpegs\\IMG_" + std::to_wstring(i) + L"_VLTR.jpg";
    std::wstring scaled = folder + L"\\extracted_jpegs_400\\IMG_" + std::to_wstring(i) + L"_VLTR_400.jpg";
    int w = 0, h = 0;
    driver::ImageSize(native, w, h);
    CHECK_EQ(w, 640);
    CHECK_EQ(h, 480);
    driver::ImageSize(scaled, w, h);
    CHECK_EQ(w, 400);
    CHECK_EQ(h, 300);
  }
  CHECK_EQ(driver::FilesIn(folder + L"\\extracted_jpegs").size(), static_cast<std::size_t>(3));
  CHECK_EQ(driver::FilesIn(folder + L"\\extracted_jpegs_400").size(), static_cast<std::size_t>(3));
  CHECK(!driver::Exists(folder + L"\\sub\\extracted_jpegs"));
  CHECK(driver::ReadFileBytes(driver::SettingsFile()) == driver::SettingsBytes(1, 400, 300, 1, 1));

  // Second run: Enter presses Extract; everything exists; the dialog counts
  // down and closes by itself.
  ProgressLog second;
  hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    CHECK(driver::Checked(d, IDC_NATIVE_AND_SMALLER));
    CHECK_EQ(driver::ItemText(d, IDC_MAX_WIDTH), std::wstring(L"400"));
    CHECK_EQ(driver::ItemText(d, IDC_MAX_HEIGHT), std::wstring(L"300"));
    driver::Key(GetDlgItem(d, IDC_ADD_SUFFIX), VK_RETURN);
    CHECK(driver::WaitGone(d));
    HWND p = driver::WaitForDialog(kProgressCaption);
    REQUIRE(p != nullptr);
    second = WatchProgress(p, true);
  });
  CHECK_EQ(hr, S_OK);
  lines = Lines(second.doneText);
  REQUIRE_EQ(lines.size(), static_cast<std::size_t>(6));
  CHECK_EQ(lines[0], std::wstring(L"Files Scanned: 3"));
  CHECK_EQ(lines[1], std::wstring(L"JPEGs Extracted: 3 Total - 0 New"));
  CHECK_EQ(lines[3], std::wstring(L"Average Time per File: 0.00 sec"));
  CHECK(second.closedByItself);
  REQUIRE(!second.countdowns.empty());
  CHECK(second.countdowns.front() >= 9);
  CHECK(second.countdowns.back() <= 2);
  CHECK(std::is_sorted(second.countdowns.rbegin(), second.countdowns.rend()));
  CHECK(std::find(second.countdowns.begin(), second.countdowns.end(), 0) == second.countdowns.end());
  CHECK_EQ(driver::FilesIn(folder + L"\\extracted_jpegs").size(), static_cast<std::size_t>(3));
  driver::RemoveTree(folder);
}

TEST_CASE("closing the progress dialog mid-job stops the worker and keeps the outputs so far") {
  // Large previews with scaled copies keep the worker busy long enough: so
  // many that the whole folder cannot be done before the close is seen, even
  // when the first status text comes late on a loaded machine (with 40 files
  // the job sometimes finished first).
  REQUIRE(driver::WriteFileBytes(driver::SettingsFile(), driver::SettingsBytes(1, 300, 300, 1, 1)));
  const int kFiles = 200;
  std::wstring folder = MakeRawFolder(L"midjob", kFiles, 2400, 1600);
  std::size_t atClose = 0;
  std::wstring textAtClose;
  HRESULT hr = RunCommand({folder}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::Click(d, IDC_EXTRACT);
    HWND p = driver::WaitForDialog(kProgressCaption);
    REQUIRE(p != nullptr);
    for (int i = 0; i < 1200; ++i) {
      textAtClose = driver::ItemText(p, IDC_STATUS_TEXT);
      if (textAtClose.find(L"Total - 0 New") == std::wstring::npos && textAtClose.find(L"New") != std::wstring::npos)
        break;
      driver::Sleep(25);
    }
    atClose = driver::FilesIn(folder + L"\\extracted_jpegs").size();
    PostMessageW(p, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(driver::WaitGone(p, 60000));
  });
  CHECK_EQ(hr, S_OK);
  CHECK(StartsWith(textAtClose, L"Files Scanned: " + std::to_wstring(kFiles) + L"\n"));
  const std::size_t afterReturn = driver::FilesIn(folder + L"\\extracted_jpegs").size();
  CHECK(afterReturn >= 1);
  CHECK(afterReturn >= atClose);
  CHECK(afterReturn < static_cast<std::size_t>(kFiles));  // stopped early
  driver::Sleep(1500);
  // The worker has ended: nothing appears after InvokeCommand returned.
  CHECK_EQ(driver::FilesIn(folder + L"\\extracted_jpegs").size(), afterReturn);
  CHECK(driver::FilesIn(folder + L"\\extracted_jpegs_300").size() <= afterReturn);
  // No temporary files are left behind.
  for (const auto& name : driver::FilesIn(folder + L"\\extracted_jpegs_300")) CHECK(name.find(L".tmp") == std::wstring::npos);
  std::printf("closed mid-job: %u of %d native outputs written\n", static_cast<unsigned>(afterReturn), kFiles);
  driver::RemoveTree(folder);
}

// The dialog hid every failure: a read-only folder ended as "0 Total - 0
// New" and the dialog closed itself. Here the output folder's name is taken
// by a file in one folder, and the output names are too long in the other.
TEST_CASE("files that could not be extracted: one failure line, no closing by itself, no empty folder left") {
  REQUIRE(driver::WriteFileBytes(driver::SettingsFile(), driver::SettingsBytes(0, 1024, 768, 1, 1)));
  std::wstring blocked = MakeRawFolder(L"blocked", 2);
  REQUIRE(driver::WriteFileBytes(blocked + L"\\extracted_jpegs", {'x'}));
  std::wstring longNames = driver::FreshFolder(L"longnames");
  REQUIRE(driver::WriteFileBytes(longNames + L"\\" + std::wstring(250, L'n') + L".CR2",
                                 driver::ReadFileBytes(blocked + L"\\IMG_1.CR2")));
  std::wstring text;
  bool openAfterDone = false;
  HRESULT hr = RunCommand({blocked, longNames}, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    driver::Click(d, IDC_EXTRACT);
    HWND p = driver::WaitForDialog(kProgressCaption);
    REQUIRE(p != nullptr);
    text = WatchProgress(p, false, Artifact(L"progress_failures.bmp")).doneText;
    driver::Sleep(1500);
    text = driver::ItemText(p, IDC_STATUS_TEXT);  // the countdown would have started by now
    openAfterDone = IsWindow(p) && IsWindowVisible(p);
    driver::Click(p, IDCANCEL);
    CHECK(driver::WaitGone(p, 5000));
  });
  CHECK_EQ(hr, S_OK);
  std::vector<std::wstring> lines = Lines(text);
  REQUIRE_EQ(lines.size(), static_cast<std::size_t>(5));
  CHECK_EQ(lines[0], std::wstring(L"Files Scanned: 3"));
  CHECK_EQ(lines[1], std::wstring(L"JPEGs Extracted: 0 Total - 0 New"));
  CHECK(StartsWith(lines[2], L"Total Time: "));
  CHECK(StartsWith(lines[3], L"Average Time per File: "));
  CHECK_EQ(lines[4], std::wstring(L"Could not extract 3 files: a file of that name is in the way"));
  CHECK(openAfterDone);
  CHECK(!driver::Exists(longNames + L"\\extracted_jpegs"));
  driver::RemoveTree(blocked);
  driver::RemoveTree(longNames);
}

// The dialogs were owned by whatever window was active, and the window the
// command came from stayed enabled; and the canonical verb that
// GetCommandString gives could not invoke the command.
TEST_CASE("the invoking window owns the dialogs and is disabled; the canonical verb invokes the command") {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VeltranoTestBrowser";
  RegisterClassW(&windowClass);
  HWND browser = CreateWindowExW(0, L"VeltranoTestBrowser", L"browser", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND view = CreateWindowExW(0, L"VeltranoTestBrowser", L"view", WS_CHILD | WS_VISIBLE, 0, 0, 200, 200, browser,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND other = CreateWindowExW(0, L"VeltranoTestBrowser", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 500, 10,
                               300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  REQUIRE(browser && view && other);
  static const wchar_t kWideVerb[] = L"extract jpeg from raw FILE";  // verbs match in any case
  static const char kNarrowVerb[] = "Extract JPEG from RAW file";
  struct Case {
    const char* name;
    std::function<void(CMINVOKECOMMANDINFOEX&)> adjust;
  } cases[] = {
      {"offset 0, the view's window", [&](CMINVOKECOMMANDINFOEX& i) { i.hwnd = view; }},
      {"narrow verb", [&](CMINVOKECOMMANDINFOEX& i) {
         i.hwnd = browser;
         i.lpVerb = kNarrowVerb;
       }},
      {"wide verb", [&](CMINVOKECOMMANDINFOEX& i) {
         i.cbSize = sizeof(CMINVOKECOMMANDINFOEX);
         i.fMask = CMIC_MASK_UNICODE;
         i.hwnd = browser;
         i.lpVerb = "ignored when the wide verb is ours";
         i.lpVerbW = kWideVerb;
       }},
  };
  for (const Case& c : cases) {
    SetActiveWindow(other);  // the active window is not the one invoking
    HWND owner = nullptr;
    bool browserEnabled = true;
    HRESULT hr = RunCommand({L"C:\\nothing-here"}, [&] {
      HWND d = driver::WaitForDialog(kPreferencesCaption);
      REQUIRE(d != nullptr);
      owner = GetWindow(d, GW_OWNER);
      browserEnabled = IsWindowEnabled(browser) != FALSE;
      driver::Click(d, IDCANCEL);
      CHECK(driver::WaitGone(d));
    }, c.adjust);
    CHECK_EQ(hr, S_OK);
    if (owner != browser) wintest::Fail(__FILE__, __LINE__, std::string(c.name) + ": not owned by the browser");
    if (browserEnabled) wintest::Fail(__FILE__, __LINE__, std::string(c.name) + ": the browser stayed enabled");
    CHECK(IsWindowEnabled(browser));  // enabled again afterwards
  }
  DestroyWindow(other);
  DestroyWindow(browser);
}

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  driver::GdiplusSession gdiplus;
  int result = wintest::Main();
  CoUninitialize();
  return result;
}
