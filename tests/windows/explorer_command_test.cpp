// The Windows 11 command of Veltrano.dll (ExplorerCommand): its class object
// under the class id the package manifest names, its interfaces and texts,
// the module count it holds, and Invoke with shell item arrays of our own:
// files, folders and items without a file-system path, the preferences
// dialog driven with Extract from a second thread, outputs and counts
// checked on disk and in the progress text, the dialogs' owner taken from
// the site or else the foreground window, and the refusals.
#include <windows.h>
#include <objbase.h>
#include <oleidl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "resources/resource.h"
#include "shell/com_ptr.h"
#include "shell/explorer_command.h"
#include "tests/windows/dialog_driver.h"
#include "tests/windows/wintest.h"
#include "veltrano_class_ids.h"

using veltrano::shell::ComPtr;

namespace {

const wchar_t kPreferencesCaption[] = L"Veltrano preferences";
const wchar_t kProgressCaption[] = L"Veltrano v1.5";

CLSID ParseGuid(const std::wstring& text) {
  CLSID clsid{};
  CLSIDFromString(text.c_str(), &clsid);
  return clsid;
}

// Every class id the package manifest names (the verbs' and the COM
// class's), in the manifest's own form, without braces.
std::vector<std::wstring> ManifestClassIds() {
  std::vector<std::uint8_t> bytes = driver::ReadFileBytes(VELTRANO_PACKAGE_MANIFEST);
  const std::string text(bytes.begin(), bytes.end());
  std::vector<std::wstring> ids;
  for (const char* attribute : {"Clsid=\"", "<com:Class Id=\""}) {
    const std::string key = attribute;
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
      const std::size_t start = at + key.size(), end = text.find('"', start);
      ids.emplace_back(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(end));
    }
  }
  return ids;
}

const CLSID& CommandClsid() {
  static const CLSID clsid = [] {
    const std::vector<std::wstring> ids = ManifestClassIds();
    return ids.empty() ? CLSID{} : ParseGuid(L"{" + ids.front() + L"}");
  }();
  return clsid;
}

using Dll = wintest::DllExports;
using wintest::TheDll;

ComPtr<IClassFactory> Factory() {
  ComPtr<IClassFactory> factory;
  REQUIRE_EQ(TheDll().getClassObject(CommandClsid(), IID_IClassFactory, factory.PutVoid()), S_OK);
  return factory;
}

ComPtr<IExplorerCommand> NewCommand() {
  ComPtr<IExplorerCommand> command;
  REQUIRE_EQ(Factory()->CreateInstance(nullptr, IID_IExplorerCommand, command.PutVoid()), S_OK);
  REQUIRE(command);
  return command;
}

// A shell item that has a file-system path, or none (a library, a device).
class TestItem final : public IShellItem {
 public:
  explicit TestItem(std::wstring path, bool fileSystem = true) : path_(std::move(path)), fileSystem_(fileSystem) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellItem)) {
      *out = static_cast<IShellItem*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // owned by the test
  HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetParent(IShellItem** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN kind, LPWSTR* name) override {
    *name = nullptr;
    if (kind != SIGDN_FILESYSPATH || !fileSystem_) return E_INVALIDARG;
    const std::size_t bytes = (path_.size() + 1) * sizeof(wchar_t);
    *name = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*name) return E_OUTOFMEMORY;
    std::memcpy(*name, path_.c_str(), bytes);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF, SFGAOF* out) override {
    *out = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Compare(IShellItem*, SICHINTF, int* out) override {
    *out = 0;
    return E_NOTIMPL;
  }
  ULONG refs = 1;

 private:
  std::wstring path_;
  bool fileSystem_;
};

// An item array over test items that counts the calls it gets.
class TestItems final : public IShellItemArray {
 public:
  explicit TestItems(std::vector<TestItem*> items, bool countFails = false)
      : items_(std::move(items)), countFails_(countFails) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    ++calls;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellItemArray)) {
      *out = static_cast<IShellItemArray*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void** out) override {
    ++calls;
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** out) override {
    ++calls;
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** out) override {
    ++calls;
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF* out) override {
    ++calls;
    *out = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    ++calls;
    *count = static_cast<DWORD>(items_.size());
    return countFails_ ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetItemAt(DWORD index, IShellItem** out) override {
    ++calls;
    *out = nullptr;
    if (index >= items_.size()) return E_INVALIDARG;
    *out = items_[index];
    items_[index]->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumItems(IEnumShellItems** out) override {
    ++calls;
    *out = nullptr;
    return E_NOTIMPL;
  }
  int calls = 0;
  ULONG refs = 1;

 private:
  std::vector<TestItem*> items_;
  bool countFails_;
};

// A site that hands out a window through IOleWindow.
class WindowSite final : public IOleWindow {
 public:
  explicit WindowSite(HWND window) : window_(window) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleWindow)) {
      *out = static_cast<IOleWindow*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
    *out = window_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  ULONG refs = 1;

 private:
  HWND window_;
};

// A plain top-level window of this thread, standing for the browser's.
HWND MakeBrowserWindow() {
  HWND window = CreateWindowExW(0, L"STATIC", L"browser stand-in", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  REQUIRE(window != nullptr);
  return window;
}

// The top-level owner of a dialog.
HWND OwnerOf(HWND dialog) { return GetWindow(dialog, GW_OWNER); }

// Runs Invoke on this thread while `drive` works the dialogs on another;
// whatever it leaves open is cancelled so the command can end.
HRESULT InvokeDriven(IExplorerCommand* command, IShellItemArray* items, const std::function<void()>& drive) {
  std::atomic<bool> done{false}, driverDone{false};
  std::thread driverThread([&] {
    try {
      drive();
    } catch (const wintest::RequireFailed&) {
    }
    for (int i = 0; i < 400 && !done; ++i) {
      for (const wchar_t* caption : {kPreferencesCaption, kProgressCaption})
        if (HWND w = driver::FindOwnDialog(caption)) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
      driver::Sleep(50);
    }
    driverDone = true;
  });
  const HRESULT hr = command->Invoke(items, nullptr);
  done = true;
  // The driver may still ask this thread's windows for their texts: keep
  // answering until it has finished.
  while (!driverDone) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    driver::Sleep(10);
  }
  driverThread.join();
  return hr;
}

// A folder with `count` RAW-like files holding 320 x 240 previews.
std::wstring MakeRawFolder(const std::wstring& name, int count) {
  const std::wstring folder = driver::FreshFolder(name);
  const std::wstring jpegPath = folder + L"\\preview.jpg";
  REQUIRE(driver::MakeJpegFile(jpegPath, 320, 240));
  const std::vector<std::uint8_t> jpeg = driver::ReadFileBytes(jpegPath);
  DeleteFileW(jpegPath.c_str());
  for (int i = 1; i <= count; ++i)
    REQUIRE(driver::WriteFileBytes(folder + L"\\IMG_" + std::to_wstring(i) + L".NEF",
                                   driver::RawAround(jpeg, static_cast<std::uint8_t>(i))));
  return folder;
}

// The progress text once the button reads "Done".
std::wstring DoneText(HWND progress) {
  for (int i = 0; i < 1200 && IsWindow(progress); ++i) {
    if (driver::ItemText(progress, IDCANCEL) == L"Done") return driver::ItemText(progress, IDC_STATUS_TEXT);
    driver::Sleep(50);
  }
  return L"";
}

}  // namespace

TEST_CASE("the manifest's class id is served by the DLL as the Windows 11 command") {
  const std::vector<std::wstring> ids = ManifestClassIds();
  REQUIRE_EQ(ids.size(), static_cast<std::size_t>(3));  // two verbs and the COM class
  for (const std::wstring& id : ids) CHECK_EQ(id, ids.front());
  CHECK(IsEqualCLSID(CommandClsid(), ParseGuid(VELTRANO_CLSID_EXPLORER_COMMAND_W)));
  // An id of its own: neither the classic handler's nor the one it replaced.
  CHECK(!IsEqualCLSID(CommandClsid(), ParseGuid(VELTRANO_CLSID_SIMPLE_SHL_EXT_W)));
  CHECK(!IsEqualCLSID(CommandClsid(), ParseGuid(VELTRANO_CLSID_LEGACY_SHL_EXT_W)));

  ComPtr<IClassFactory> factory = Factory();
  ComPtr<IClassFactory> classic;
  REQUIRE_EQ(TheDll().getClassObject(ParseGuid(VELTRANO_CLSID_SIMPLE_SHL_EXT_W), IID_IClassFactory, classic.PutVoid()),
             S_OK);
  CHECK(factory.Get() != classic.Get());
  ComPtr<IClassFactory> again = Factory();
  CHECK(factory.Get() == again.Get());  // made once, then reused

  ComPtr<IExplorerCommand> command;
  REQUIRE_EQ(factory->CreateInstance(nullptr, IID_IExplorerCommand, command.PutVoid()), S_OK);
  ComPtr<IObjectWithSite> withSite;
  REQUIRE_EQ(command->QueryInterface(IID_IObjectWithSite, withSite.PutVoid()), S_OK);
  ComPtr<IUnknown> a, b;
  CHECK_EQ(command->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
  CHECK_EQ(withSite->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
  CHECK(a.Get() == b.Get());
  void* out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(command->QueryInterface(IID_IContextMenu, &out), E_NOINTERFACE);
  CHECK(out == nullptr);

  // Not aggregatable; an interface it lacks leaves no object behind.
  WindowSite outer(nullptr);
  out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  CHECK(out == nullptr);
  CHECK_EQ(outer.refs, 1u);
  CHECK_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
  CHECK(out == nullptr);
}

TEST_CASE("DllCanUnloadNow answers S_FALSE while a command object lives") {
  const Dll& dll = TheDll();
  ComPtr<IExplorerCommand> command = NewCommand();  // its factory is released already
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);
  ComPtr<IObjectWithSite> withSite;
  REQUIRE_EQ(command->QueryInterface(IID_IObjectWithSite, withSite.PutVoid()), S_OK);
  command.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);  // the other interface still holds it
  withSite.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory = Factory();
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);  // a held factory counts too
  factory.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_OK);
}

TEST_CASE("title, tooltip, icon, canonical name, flags, state and sub-commands") {
  ComPtr<IExplorerCommand> command = NewCommand();
  TestItem file(L"C:\\photos\\a.nef");
  TestItems items({&file});
  for (IShellItemArray* array : {static_cast<IShellItemArray*>(&items), static_cast<IShellItemArray*>(nullptr)}) {
    LPWSTR text = nullptr;
    REQUIRE_EQ(command->GetTitle(array, &text), S_OK);
    CHECK_EQ(std::wstring(text), std::wstring(L"Veltrano"));
    CoTaskMemFree(text);
    REQUIRE_EQ(command->GetToolTip(array, &text), S_OK);
    CHECK_EQ(std::wstring(text), std::wstring(L"Extract JPEG from RAW file"));
    CoTaskMemFree(text);
    EXPCMDSTATE state = 0x55;
    CHECK_EQ(command->GetState(array, FALSE, &state), S_OK);
    CHECK_EQ(state, static_cast<EXPCMDSTATE>(ECS_ENABLED));
    state = 0x55;
    CHECK_EQ(command->GetState(array, TRUE, &state), S_OK);
    CHECK_EQ(state, static_cast<EXPCMDSTATE>(ECS_ENABLED));
  }
  // GetState looks at nothing: it runs on the browser's thread on every
  // right-click.
  CHECK_EQ(items.calls, 0);

  LPWSTR icon = nullptr;
  REQUIRE_EQ(command->GetIcon(&items, &icon), S_OK);
  std::wstring location = icon;
  CoTaskMemFree(icon);
  const int index = PathParseIconLocationW(location.data());
  CHECK_EQ(index, -IDI_VELTRANO);
  wchar_t full[MAX_PATH] = {};
  GetFullPathNameW(wintest::DllPath().c_str(), MAX_PATH, full, nullptr);
  CHECK_EQ(CompareStringOrdinal(location.c_str(), -1, full, -1, TRUE), CSTR_EQUAL);
  HICON loaded = nullptr;
  CHECK_EQ(ExtractIconExW(location.c_str(), index, &loaded, nullptr, 1), 1u);
  if (loaded) DestroyIcon(loaded);

  GUID name{}, otherName{};
  CHECK_EQ(command->GetCanonicalName(&name), S_OK);
  CHECK_EQ(NewCommand()->GetCanonicalName(&otherName), S_OK);
  CHECK(IsEqualGUID(name, otherName));
  CHECK(!IsEqualGUID(name, GUID_NULL));
  CHECK(!IsEqualGUID(name, CommandClsid()));

  EXPCMDFLAGS flags = 0x55;
  CHECK_EQ(command->GetFlags(&flags), S_OK);
  CHECK_EQ(flags, static_cast<EXPCMDFLAGS>(ECF_DEFAULT));
  IEnumExplorerCommand* sub = reinterpret_cast<IEnumExplorerCommand*>(0x1234);
  CHECK_EQ(command->EnumSubCommands(&sub), E_NOTIMPL);
  CHECK(sub == nullptr);

  // Null out-pointers are refused.
  CHECK_EQ(command->GetTitle(&items, nullptr), E_POINTER);
  CHECK_EQ(command->GetToolTip(&items, nullptr), E_POINTER);
  CHECK_EQ(command->GetIcon(&items, nullptr), E_POINTER);
  CHECK_EQ(command->GetCanonicalName(nullptr), E_POINTER);
  CHECK_EQ(command->GetState(&items, FALSE, nullptr), E_POINTER);
  CHECK_EQ(command->GetFlags(nullptr), E_POINTER);
}

TEST_CASE("the site: kept, handed back, replaced and dropped") {
  ComPtr<IExplorerCommand> command = NewCommand();
  ComPtr<IObjectWithSite> withSite;
  REQUIRE_EQ(command->QueryInterface(IID_IObjectWithSite, withSite.PutVoid()), S_OK);
  void* out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(withSite->GetSite(IID_IUnknown, &out), E_FAIL);
  CHECK(out == nullptr);
  CHECK_EQ(withSite->GetSite(IID_IUnknown, nullptr), E_POINTER);

  WindowSite first(nullptr), second(nullptr);
  CHECK_EQ(withSite->SetSite(&first), S_OK);
  CHECK_EQ(first.refs, 2u);
  ComPtr<IOleWindow> window;
  CHECK_EQ(withSite->GetSite(IID_IOleWindow, window.PutVoid()), S_OK);
  CHECK(window.Get() == static_cast<IOleWindow*>(&first));
  window.Reset();
  CHECK_EQ(withSite->GetSite(IID_IShellItem, &out), E_NOINTERFACE);
  CHECK_EQ(withSite->SetSite(&second), S_OK);
  CHECK_EQ(first.refs, 1u);
  CHECK_EQ(second.refs, 2u);
  CHECK_EQ(withSite->SetSite(nullptr), S_OK);
  CHECK_EQ(second.refs, 1u);
  // Released with the object.
  CHECK_EQ(withSite->SetSite(&first), S_OK);
  withSite.Reset();
  command.Reset();
  CHECK_EQ(first.refs, 1u);
}

TEST_CASE("file-system paths come in the array's order, whole, without the other items") {
  std::wstring longPath = L"C:\\";
  while (longPath.size() < 400) longPath += L"abcdefghij\\";
  TestItem a(L"C:\\shoot\\b.cr2"), library(L"::{library}", false), folder(L"C:\\shoot"), deep(longPath + L"x.raf");
  TestItems items({&a, &library, &folder, &deep});
  std::vector<std::wstring> paths;
  CHECK_EQ(veltrano::shell::ExplorerCommand::FileSystemPaths(&items, paths), S_OK);
  const std::vector<std::wstring> expected = {L"C:\\shoot\\b.cr2", L"C:\\shoot", longPath + L"x.raf"};
  CHECK(paths == expected);
  CHECK_EQ(a.refs, 1u);  // every item handed out was released again
  CHECK_EQ(library.refs, 1u);
}

TEST_CASE("Invoke refuses empty and non-file-system arrays cleanly") {
  const std::wstring settings = driver::SettingsFile();
  DeleteFileW(settings.c_str());
  ComPtr<IExplorerCommand> command = NewCommand();
  TestItem library(L"::{library}", false), device(L"::{device}", false);
  TestItems empty({}), foreign({&library, &device}), unreadable({&library}, true);
  std::atomic<bool> stop{false}, dialogSeen{false};
  std::thread watcher([&] {
    while (!stop) {
      if (driver::FindOwnDialog(kPreferencesCaption)) dialogSeen = true;
      driver::Sleep(20);
    }
  });
  CHECK_EQ(command->Invoke(nullptr, nullptr), E_INVALIDARG);
  CHECK_EQ(command->Invoke(&empty, nullptr), E_INVALIDARG);
  CHECK_EQ(command->Invoke(&foreign, nullptr), E_INVALIDARG);
  CHECK_EQ(command->Invoke(&unreadable, nullptr), E_INVALIDARG);
  stop = true;
  watcher.join();
  CHECK(!dialogSeen);
  CHECK(!driver::Exists(settings));  // the settings were not touched
  CHECK_EQ(library.refs, 1u);
  CHECK_EQ(device.refs, 1u);
}

TEST_CASE("Invoke with files and folders: Extract writes the previews, dialogs owned by the site's window") {
  DeleteFileW(driver::SettingsFile().c_str());
  const std::wstring folder = MakeRawFolder(L"excmd_folder", 3);
  const std::wstring single = MakeRawFolder(L"excmd_single", 2);
  TestItem folderItem(folder), fileItem(single + L"\\IMG_2.NEF"), library(L"::{library}", false);
  TestItems items({&folderItem, &library, &fileItem});

  HWND browser = MakeBrowserWindow();
  WindowSite site(browser);
  // Made last, so it is the active and foreground window: the site's
  // window must win over it.
  HWND other = MakeBrowserWindow();
  ComPtr<IExplorerCommand> command = NewCommand();
  ComPtr<IObjectWithSite> withSite;
  REQUIRE_EQ(command->QueryInterface(IID_IObjectWithSite, withSite.PutVoid()), S_OK);
  REQUIRE_EQ(withSite->SetSite(&site), S_OK);

  HWND preferencesOwner = nullptr, progressOwner = nullptr;
  std::wstring doneText;
  const HRESULT hr = InvokeDriven(command.Get(), &items, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    preferencesOwner = OwnerOf(d);
    driver::Click(d, IDC_EXTRACT);
    CHECK(driver::WaitGone(d));
    HWND p = driver::WaitForDialog(kProgressCaption);
    REQUIRE(p != nullptr);
    progressOwner = OwnerOf(p);
    doneText = DoneText(p);
    driver::Click(p, IDCANCEL);
    CHECK(driver::WaitGone(p, 5000));
  });
  CHECK_EQ(hr, S_OK);
  CHECK(preferencesOwner == browser);
  CHECK(progressOwner == browser);
  // The folder's three files and the one file picked in the other folder.
  CHECK(doneText.rfind(L"Files Scanned: 4\nJPEGs Extracted: 4 Total - 4 New\n", 0) == 0);
  CHECK_EQ(driver::FilesIn(folder + L"\\extracted_jpegs").size(), static_cast<std::size_t>(3));
  for (int i = 1; i <= 3; ++i) {
    int w = 0, h = 0;
    driver::ImageSize(folder + L"\\extracted_jpegs\\IMG_" + std::to_wstring(i) + L"_VLTR.jpg", w, h);
    CHECK_EQ(w, 320);
    CHECK_EQ(h, 240);
  }
  const std::vector<std::wstring> singleOut = driver::FilesIn(single + L"\\extracted_jpegs");
  CHECK(singleOut == std::vector<std::wstring>{L"IMG_2_VLTR.jpg"});
  // The settings were loaded and saved around the dialogs, as the classic
  // entry does.
  CHECK(driver::ReadFileBytes(driver::SettingsFile()) == driver::SettingsBytes(0, 800, 800, 1, 1));
  CHECK_EQ(withSite->SetSite(nullptr), S_OK);
  DestroyWindow(other);
  DestroyWindow(browser);
  driver::RemoveTree(folder);
  driver::RemoveTree(single);
}

TEST_CASE("Invoke without a site: the foreground window owns the dialogs; Cancel extracts nothing") {
  const std::wstring folder = MakeRawFolder(L"excmd_cancel", 1);
  TestItem folderItem(folder);
  TestItems items({&folderItem});
  HWND browser = MakeBrowserWindow();
  SetForegroundWindow(browser);
  const HWND foreground = GetForegroundWindow();
  REQUIRE(foreground != nullptr);
  HWND owner = nullptr;
  bool progressSeen = true;
  const HRESULT hr = InvokeDriven(NewCommand().Get(), &items, [&] {
    HWND d = driver::WaitForDialog(kPreferencesCaption);
    REQUIRE(d != nullptr);
    owner = OwnerOf(d);
    driver::Click(d, IDCANCEL);
    CHECK(driver::WaitGone(d));
    progressSeen = driver::WaitForDialog(kProgressCaption, 1000) != nullptr;
  });
  CHECK_EQ(hr, S_OK);
  CHECK(owner == foreground);
  CHECK(!progressSeen);
  CHECK(!driver::Exists(folder + L"\\extracted_jpegs"));
  DestroyWindow(browser);
  driver::RemoveTree(folder);
}

WINTEST_MAIN
