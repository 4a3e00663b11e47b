// The COM face of Veltrano.dll and its context-menu handler: class object,
// class factory with aggregation and server locks, DllCanUnloadNow, the
// handler's interfaces, Initialize with a data object of our own serving
// CF_HDROP, QueryContextMenu on a real popup menu, GetCommandString for every
// request type and buffer size, and the InvokeCommand refusals. The DLL is
// loaded with LoadLibraryW; the cases that look inside a handler object
// (its selectedPaths, the settings store) use the same code linked into this
// program.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "shell/com_ptr.h"
#include "shell/module.h"
#include "shell/simple_shl_ext.h"
#include "tests/windows/wintest.h"
#include "veltrano_class_ids.h"
#include "veltrano_version.h"

using veltrano::shell::ComPtr;
using veltrano::shell::CSimpleShlExt;

namespace {

// Parsed from the registry form, so that a slip in the DLL's binary constant
// shows up here.
CLSID ParseClsid(const wchar_t* text) {
  CLSID clsid{};
  CLSIDFromString(text, &clsid);
  return clsid;
}
const CLSID kClsid = ParseClsid(VELTRANO_CLSID_SIMPLE_SHL_EXT_W);
// The id of version 1.50 is not served any more.
const CLSID kOtherClsid = ParseClsid(VELTRANO_CLSID_LEGACY_SHL_EXT_W);
const wchar_t kHelp[] = L"Extract JPEG from RAW file";

using Dll = wintest::DllExports;
using wintest::TheDll;

ComPtr<IClassFactory> Factory() {
  ComPtr<IClassFactory> factory;
  REQUIRE_EQ(TheDll().getClassObject(kClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
  REQUIRE(factory);
  return factory;
}

template <class T>
ComPtr<T> NewHandler(REFIID iid) {
  ComPtr<T> handler;
  REQUIRE_EQ(Factory()->CreateInstance(nullptr, iid, handler.PutVoid()), S_OK);
  REQUIRE(handler);
  return handler;
}

// A file list in the CF_HDROP layout: DROPFILES, then the wide paths, each
// with its zero, and one more zero (two zeros for an empty list).
HGLOBAL MakeDropList(const std::vector<std::wstring>& paths) {
  std::size_t chars = paths.empty() ? 2 : 1;
  for (const auto& p : paths) chars += p.size() + 1;
  const std::size_t bytes = sizeof(DROPFILES) + chars * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!memory) return nullptr;
  auto* base = static_cast<BYTE*>(GlobalLock(memory));
  auto* header = reinterpret_cast<DROPFILES*>(base);
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(base + sizeof(DROPFILES));
  for (const auto& p : paths) {
    std::memcpy(text, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
    text += p.size() + 1;
  }
  text[0] = L'\0';
  if (paths.empty()) text[1] = L'\0';
  GlobalUnlock(memory);
  return memory;
}

// Counts its own references; hands itself out as pUnkForRelease so that a
// ReleaseStgMedium by the handler shows up here, and the memory stays ours
// to inspect afterwards.
class ReleaseCounter final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    return --refs;
  }
  ULONG refs = 1;
  int releases = 0;
};

enum class Serve { List, Fail, Unlockable, Block };

// A CF_HDROP block byte for byte: a DROPFILES header with the path offset
// and character kind given, then `list` as it stands.
std::vector<BYTE> DropBlock(DWORD pathsAt, BOOL wide, const std::string& list) {
  std::vector<BYTE> block(sizeof(DROPFILES), 0);
  DROPFILES header{};
  header.pFiles = pathsAt;
  header.fWide = wide;
  std::memcpy(block.data(), &header, sizeof header);
  block.insert(block.end(), list.begin(), list.end());
  return block;
}
std::string WideBytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// A data object that serves one CF_HDROP list and records the request.
class DropSource final : public IDataObject {
 public:
  DropSource(std::vector<std::wstring> paths, Serve serve) : paths_(std::move(paths)), serve_(serve) {}
  explicit DropSource(std::vector<BYTE> block) : serve_(Serve::Block), block_(std::move(block)) {}
  ~DropSource() {
    for (HGLOBAL m : handed_) GlobalFree(m);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    ++getDataCalls;
    lastFormat = *format;
    if (serve_ == Serve::Fail) return DV_E_FORMATETC;
    HGLOBAL memory = serve_ == Serve::Unlockable ? GlobalAlloc(GMEM_MOVEABLE, 0)
                     : serve_ == Serve::Block    ? GlobalAlloc(GMEM_MOVEABLE, block_.size())
                                                 : MakeDropList(paths_);
    if (memory && serve_ == Serve::Block) {
      std::memcpy(GlobalLock(memory), block_.data(), block_.size());
      GlobalUnlock(memory);
    }
    if (!memory) return E_OUTOFMEMORY;
    handed_.push_back(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = &releaser;
    releaser.AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

  // Lock count of the last block handed out (0: unlocked again).
  UINT LastLockCount() const {
    return handed_.empty() ? 0u : (GlobalFlags(handed_.back()) & GMEM_LOCKCOUNT);
  }

  int getDataCalls = 0;
  FORMATETC lastFormat{};
  ReleaseCounter releaser;

 private:
  std::vector<std::wstring> paths_;
  Serve serve_;
  std::vector<BYTE> block_;
  std::vector<HGLOBAL> handed_;
  ULONG refs_ = 1;
};

// An outer object for aggregation: counts the calls that the inner object
// delegates to it.
class Outer final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    ++queries;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    if (inner) return inner->QueryInterface(iid, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
  int queries = 0;
  IUnknown* inner = nullptr;
};

std::wstring SettingsFile() {
  wchar_t folder[MAX_PATH] = {};
  REQUIRE_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
  return std::wstring(folder) + L"\\Kerbelin\\VLTR\\VLTR.cfg";
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, FILETIME* written) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  const BOOL ok = bytes.empty() || ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  if (written) GetFileTime(file, nullptr, nullptr, written);
  CloseHandle(file);
  return ok && got == bytes.size();
}

void WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  const std::wstring folder = path.substr(0, path.rfind(L'\\'));
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  REQUIRE(file != INVALID_HANDLE_VALUE);
  DWORD put = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  // An old time stamp, so that any rewrite would change it.
  FILETIME old{};
  SYSTEMTIME st{2001, 1, 1, 1, 12, 0, 0, 0};
  SystemTimeToFileTime(&st, &old);
  SetFileTime(file, nullptr, nullptr, &old);
  CloseHandle(file);
  REQUIRE_EQ(put, static_cast<DWORD>(bytes.size()));
}

CMINVOKECOMMANDINFO InvokeInfo(LPCSTR verb) {
  CMINVOKECOMMANDINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = verb;
  info.nShow = SW_SHOWNORMAL;
  return info;
}

// A handler made in this process, to look at its selectedPaths.
struct LocalHandler {
  LocalHandler() {
    REQUIRE_EQ(CSimpleShlExt::Create(nullptr, IID_IShellExtInit, init.PutVoid()), S_OK);
    object = static_cast<CSimpleShlExt*>(init.Get());
  }
  ComPtr<IShellExtInit> init;
  CSimpleShlExt* object = nullptr;
};

}  // namespace

// --- class object and factory -------------------------------------------------

TEST_CASE("class object for the handler's class only") {
  const Dll& dll = TheDll();
  void* out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(dll.getClassObject(kOtherClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  CHECK(out == nullptr);
  CHECK_EQ(dll.getClassObject(kClsid, IID_IClassFactory, nullptr), E_POINTER);

  ComPtr<IClassFactory> first, second;
  CHECK_EQ(dll.getClassObject(kClsid, IID_IClassFactory, first.PutVoid()), S_OK);
  CHECK_EQ(dll.getClassObject(kClsid, IID_IClassFactory, second.PutVoid()), S_OK);
  REQUIRE(first && second);
  CHECK(first.Get() == second.Get());  // made once, then reused

  ComPtr<IUnknown> unknown;
  CHECK_EQ(dll.getClassObject(kClsid, IID_IUnknown, unknown.PutVoid()), S_OK);
  CHECK(unknown.Get() == static_cast<IUnknown*>(first.Get()));

  out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(dll.getClassObject(kClsid, IID_IDispatch, &out), E_NOINTERFACE);
  CHECK(out == nullptr);
}

TEST_CASE("factory refusals") {
  ComPtr<IClassFactory> factory = Factory();
  CHECK_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);

  Outer outer;
  void* out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(factory->CreateInstance(&outer, IID_IContextMenu, &out), CLASS_E_NOAGGREGATION);
  CHECK(out == nullptr);
  out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(factory->CreateInstance(&outer, IID_IShellExtInit, &out), CLASS_E_NOAGGREGATION);
  CHECK(out == nullptr);
  CHECK_EQ(outer.refs, 1u);

  // An interface the handler lacks: the new object is deleted again.
  out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
  CHECK(out == nullptr);
  factory.Reset();
  CHECK_EQ(TheDll().canUnloadNow(), S_OK);  // no object was left behind
}

TEST_CASE("DllCanUnloadNow follows handler objects, server locks and held factories") {
  const Dll& dll = TheDll();
  CHECK_EQ(dll.canUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory = Factory();
  // Regression: a host that held the factory without LockServer was told
  // the DLL could go, and its next call landed in unloaded code.
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);

  {
    ComPtr<IContextMenu> menu;
    REQUIRE_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.PutVoid()), S_OK);
    ComPtr<IShellExtInit> init;
    CHECK_EQ(menu->QueryInterface(IID_IShellExtInit, init.PutVoid()), S_OK);
    ComPtr<IContextMenu> second;
    REQUIRE_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, second.PutVoid()), S_OK);
    menu.Reset();
    init.Reset();
    CHECK_EQ(dll.canUnloadNow(), S_FALSE);
  }
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);  // every object is gone, the factory is held
  ComPtr<IClassFactory> again = Factory();
  again.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);  // the first reference is still out
  factory.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_OK);

  // Objects alone, with the factory released.
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);
  menu.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_OK);

  // The classic model: server locks keep the DLL after the factory is gone.
  factory = Factory();
  CHECK_EQ(factory->LockServer(TRUE), S_OK);
  CHECK_EQ(factory->LockServer(TRUE), S_OK);
  CHECK_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);
  factory = Factory();
  CHECK_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  CHECK_EQ(dll.canUnloadNow(), S_OK);
}

TEST_CASE("aggregated handler delegates to its outer object") {
  ComPtr<IClassFactory> factory = Factory();
  Outer outer;
  ComPtr<IUnknown> inner;
  REQUIRE_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), S_OK);
  outer.inner = inner.Get();
  CHECK_EQ(TheDll().canUnloadNow(), S_FALSE);

  ComPtr<IContextMenu> menu;
  REQUIRE_EQ(inner->QueryInterface(IID_IContextMenu, menu.PutVoid()), S_OK);
  CHECK_EQ(outer.refs, 2u);  // the interface's reference went to the outer object

  const int queriesBefore = outer.queries;
  ComPtr<IShellExtInit> init;
  CHECK_EQ(menu->QueryInterface(IID_IShellExtInit, init.PutVoid()), S_OK);
  CHECK_EQ(outer.queries, queriesBefore + 1);
  ComPtr<IUnknown> identity;
  CHECK_EQ(menu->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  CHECK(identity.Get() == static_cast<IUnknown*>(&outer));
  CHECK_EQ(outer.refs, 4u);

  identity.Reset();
  init.Reset();
  menu.Reset();
  CHECK_EQ(outer.refs, 1u);
  CHECK_EQ(TheDll().canUnloadNow(), S_FALSE);  // the inner object still lives
  outer.inner = nullptr;
  inner.Reset();
  factory.Reset();
  CHECK_EQ(TheDll().canUnloadNow(), S_OK);
}

TEST_CASE("handler interfaces share one identity") {
  ComPtr<IShellExtInit> init = NewHandler<IShellExtInit>(IID_IShellExtInit);
  ComPtr<IContextMenu> menu;
  REQUIRE_EQ(init->QueryInterface(IID_IContextMenu, menu.PutVoid()), S_OK);
  ComPtr<IUnknown> a, b;
  CHECK_EQ(init->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
  CHECK_EQ(menu->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
  CHECK(a.Get() == b.Get());
  ComPtr<IShellExtInit> back;
  CHECK_EQ(menu->QueryInterface(IID_IShellExtInit, back.PutVoid()), S_OK);
  CHECK(back.Get() == init.Get());
  void* out = reinterpret_cast<void*>(0x1234);
  CHECK_EQ(menu->QueryInterface(IID_IDataObject, &out), E_NOINTERFACE);
  CHECK(out == nullptr);
  CHECK_EQ(menu->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

// --- Initialize ------------------------------------------------------------------

TEST_CASE("Initialize reads CF_HDROP and releases the medium") {
  ComPtr<IShellExtInit> init = NewHandler<IShellExtInit>(IID_IShellExtInit);
  DropSource source({L"C:\\photos\\a.nef", L"C:\\photos\\folder"}, Serve::List);
  CHECK_EQ(init->Initialize(nullptr, &source, nullptr), S_OK);
  CHECK_EQ(source.getDataCalls, 1);
  CHECK_EQ(source.lastFormat.cfFormat, static_cast<CLIPFORMAT>(CF_HDROP));
  CHECK(source.lastFormat.ptd == nullptr);
  CHECK_EQ(source.lastFormat.dwAspect, static_cast<DWORD>(DVASPECT_CONTENT));
  CHECK_EQ(source.lastFormat.lindex, -1L);
  CHECK_EQ(source.lastFormat.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
  CHECK_EQ(source.releaser.releases, 1);
  CHECK_EQ(source.LastLockCount(), 0u);
}

TEST_CASE("Initialize refusals") {
  ComPtr<IShellExtInit> init = NewHandler<IShellExtInit>(IID_IShellExtInit);
  CHECK_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);

  DropSource failing({L"C:\\a.nef"}, Serve::Fail);
  CHECK_EQ(init->Initialize(nullptr, &failing, nullptr), E_INVALIDARG);
  CHECK_EQ(failing.getDataCalls, 1);

  DropSource unlockable({}, Serve::Unlockable);
  CHECK_EQ(init->Initialize(nullptr, &unlockable, nullptr), E_INVALIDARG);
  CHECK_EQ(unlockable.getDataCalls, 1);

  DropSource empty({}, Serve::List);
  CHECK_EQ(init->Initialize(nullptr, &empty, nullptr), E_INVALIDARG);
  CHECK_EQ(empty.releaser.releases, 1);
  CHECK_EQ(empty.LastLockCount(), 0u);
}

// A second Initialize on one object added to the first selection; the list
// is read in one pass now (wide or ANSI as its header says), bounded by the
// block.
TEST_CASE("Initialize replaces the selection; wide and ANSI lists read within their block") {
  LocalHandler handler;
  DropSource first({L"C:\\shoot\\b.cr2", L"C:\\shoot", L"D:\\x.raf"}, Serve::List);
  REQUIRE_EQ(handler.init->Initialize(nullptr, &first, nullptr), S_OK);
  CHECK(handler.object->selectedPaths == (std::vector<std::wstring>{L"C:\\shoot\\b.cr2", L"C:\\shoot", L"D:\\x.raf"}));

  const std::string wideList = WideBytes(std::wstring(L"E:\\y.dng\0F:\\z\0\0", 15));
  struct Case {
    const char* name;
    std::vector<BYTE> block;
    HRESULT result;
    std::vector<std::wstring> paths;  // the selection afterwards
  } cases[] = {
      {"wide", DropBlock(sizeof(DROPFILES), TRUE, wideList), S_OK, {L"E:\\y.dng", L"F:\\z"}},
      {"ANSI", DropBlock(sizeof(DROPFILES), FALSE, std::string("G:\\a.nef\0H:\\b\0\0", 15)), S_OK,
       {L"G:\\a.nef", L"H:\\b"}},
      {"paths further on", DropBlock(sizeof(DROPFILES) + 4, TRUE, std::string(4, '\0') + wideList), S_OK,
       {L"E:\\y.dng", L"F:\\z"}},
      {"no final zeros: ends with the block", DropBlock(sizeof(DROPFILES), TRUE, WideBytes(L"I:\\c.orf")), S_OK,
       {L"I:\\c.orf"}},
      {"empty list", DropBlock(sizeof(DROPFILES), TRUE, std::string(4, '\0')), E_INVALIDARG, {}},
      {"offset past the block", DropBlock(4096, TRUE, wideList), E_INVALIDARG, {}},
      {"offset inside the header", DropBlock(8, TRUE, wideList), E_INVALIDARG, {}},
      {"no room for a header", std::vector<BYTE>(8, 0), E_INVALIDARG, {}},
  };
  for (const Case& c : cases) {
    DropSource source(c.block);
    const HRESULT hr = handler.init->Initialize(nullptr, &source, nullptr);
    if (hr != c.result || handler.object->selectedPaths != c.paths)
      wintest::Fail(__FILE__, __LINE__, std::string(c.name) + ": result " + wintest::Show(hr) + ", " +
                                            std::to_string(handler.object->selectedPaths.size()) + " paths");
    CHECK_EQ(source.releaser.releases, 1);
    CHECK_EQ(source.LastLockCount(), 0u);
  }
  DropSource failing({L"F:\\z.orf"}, Serve::Fail);
  REQUIRE_EQ(handler.init->Initialize(nullptr, &first, nullptr), S_OK);
  CHECK_EQ(handler.init->Initialize(nullptr, &failing, nullptr), E_INVALIDARG);
  CHECK(handler.object->selectedPaths.empty());
}

// A selected path of 260 characters or more used to be cut to 259, so the
// job went to another file or folder, or to none.
TEST_CASE("Initialize takes paths of any length whole") {
  LocalHandler handler;
  std::wstring longPath = L"C:\\";
  while (longPath.size() < 600) longPath += L"abcdefghij\\";
  const std::wstring exact = L"C:\\" + std::wstring(256, L'p');  // 259 characters
  DropSource source({longPath, exact, exact + L'q'}, Serve::List);
  REQUIRE_EQ(handler.init->Initialize(nullptr, &source, nullptr), S_OK);
  REQUIRE_EQ(handler.object->selectedPaths.size(), 3u);
  CHECK_EQ(handler.object->selectedPaths[0], longPath);
  CHECK_EQ(handler.object->selectedPaths[1], exact);
  CHECK_EQ(handler.object->selectedPaths[2], exact + L'q');
}

// --- QueryContextMenu ------------------------------------------------------------

TEST_CASE("QueryContextMenu inserts one entry at the position") {
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  HMENU popup = CreatePopupMenu();
  REQUIRE(popup != nullptr);
  AppendMenuW(popup, MF_STRING, 7, L"Open");
  AppendMenuW(popup, MF_STRING, 8, L"Properties");

  CHECK_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
  REQUIRE_EQ(GetMenuItemCount(popup), 3);
  wchar_t text[64] = {};
  CHECK_EQ(GetMenuStringW(popup, 1, text, 64, MF_BYPOSITION), 8);
  CHECK_EQ(std::wstring(text), std::wstring(L"Veltrano"));
  CHECK_EQ(GetMenuItemID(popup, 1), 100u);
  CHECK_EQ(GetMenuItemID(popup, 0), 7u);
  CHECK_EQ(GetMenuItemID(popup, 2), 8u);
  CHECK(GetSubMenu(popup, 1) == nullptr);
  CHECK_EQ(GetMenuDefaultItem(popup, FALSE, 0), static_cast<UINT>(-1));
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_BITMAP;
  REQUIRE(GetMenuItemInfoW(popup, 1, TRUE, &info));
  CHECK_EQ(info.fType, static_cast<UINT>(MFT_STRING));
  CHECK_EQ(info.fState & (MFS_DEFAULT | MFS_DISABLED | MFS_CHECKED), 0u);
  CHECK(info.hbmpItem == nullptr);

  // Other flags than "default only" still add the entry, here at the end.
  CHECK_EQ(menu->QueryContextMenu(popup, 3, 300, 400, CMF_EXPLORE | CMF_CANRENAME),
           MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
  CHECK_EQ(GetMenuItemCount(popup), 4);
  CHECK_EQ(GetMenuItemID(popup, 3), 300u);
  DestroyMenu(popup);
}

TEST_CASE("QueryContextMenu with CMF_DEFAULTONLY adds nothing") {
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  HMENU popup = CreatePopupMenu();
  REQUIRE(popup != nullptr);
  AppendMenuW(popup, MF_STRING, 7, L"Open");
  CHECK_EQ(menu->QueryContextMenu(popup, 0, 100, 200, CMF_DEFAULTONLY), S_OK);
  CHECK_EQ(menu->QueryContextMenu(popup, 0, 100, 200, CMF_DEFAULTONLY | CMF_EXPLORE), S_OK);
  CHECK_EQ(GetMenuItemCount(popup), 1);
  CHECK_EQ(GetMenuItemID(popup, 0), 7u);
  DestroyMenu(popup);
}

// --- GetCommandString ------------------------------------------------------------

namespace {

struct WideResult {
  HRESULT hr;
  std::wstring text;
  wchar_t after;  // the character after the given size, untouched when the limit holds
};

WideResult AskWide(IContextMenu* menu, UINT_PTR offset, UINT type, UINT size) {
  wchar_t buffer[64];
  for (auto& c : buffer) c = L'#';
  WideResult r;
  r.hr = menu->GetCommandString(offset, type, nullptr, reinterpret_cast<CHAR*>(buffer), size);
  r.text.assign(buffer, size);
  r.text = r.text.substr(0, r.text.find(L'\0'));
  r.after = buffer[size];
  return r;
}

struct NarrowResult {
  HRESULT hr;
  std::string text;
  char after;
};

NarrowResult AskNarrow(IContextMenu* menu, UINT_PTR offset, UINT type, UINT size) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  NarrowResult r;
  r.hr = menu->GetCommandString(offset, type, nullptr, buffer, size);
  r.text.assign(buffer, size);
  r.text = r.text.substr(0, r.text.find('\0'));
  r.after = buffer[size];
  return r;
}

}  // namespace

TEST_CASE("GetCommandString answers wide requests with the help text") {
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  for (UINT type : {0x4u /*GCS_VERBW*/, 0x5u /*GCS_HELPTEXTW*/, 0x6u /*GCS_VALIDATEW*/}) {
    WideResult r = AskWide(menu.Get(), 0, type, 40);
    CHECK_EQ(r.hr, S_OK);
    CHECK_EQ(r.text, std::wstring(kHelp));
  }
}

TEST_CASE("GetCommandString narrow help text, refusals") {
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  NarrowResult help = AskNarrow(menu.Get(), 0, 0x1 /*GCS_HELPTEXTA*/, 40);
  CHECK_EQ(help.hr, S_OK);
  CHECK_EQ(help.text, std::string("Extract JPEG from RAW file"));

  NarrowResult verb = AskNarrow(menu.Get(), 0, 0x0 /*GCS_VERBA*/, 40);
  CHECK_EQ(verb.hr, E_INVALIDARG);
  CHECK_EQ(verb.text.substr(0, 40), std::string(40, '#'));  // nothing written
  NarrowResult validate = AskNarrow(menu.Get(), 0, 0x2 /*GCS_VALIDATEA*/, 40);
  CHECK_EQ(validate.hr, E_INVALIDARG);

  CHECK_EQ(AskWide(menu.Get(), 1, GCS_HELPTEXTW, 40).hr, E_INVALIDARG);
  CHECK_EQ(AskWide(menu.Get(), 1, GCS_VERBW, 40).hr, E_INVALIDARG);
  CHECK_EQ(AskNarrow(menu.Get(), 1, GCS_HELPTEXTA, 40).hr, E_INVALIDARG);
  CHECK_EQ(AskWide(menu.Get(), 100, GCS_HELPTEXTW, 40).hr, E_INVALIDARG);
}

TEST_CASE("GetCommandString keeps to the buffer size") {
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  WideResult five = AskWide(menu.Get(), 0, GCS_HELPTEXTW, 5);
  CHECK_EQ(five.hr, S_OK);
  CHECK_EQ(five.text, std::wstring(L"Extr"));
  CHECK_EQ(five.after, L'#');

  WideResult one = AskWide(menu.Get(), 0, GCS_VERBW, 1);
  CHECK_EQ(one.hr, S_OK);
  CHECK_EQ(one.text, std::wstring());
  CHECK_EQ(one.after, L'#');

  const UINT full = static_cast<UINT>(std::wcslen(kHelp)) + 1;  // 27
  WideResult exact = AskWide(menu.Get(), 0, GCS_HELPTEXTW, full);
  CHECK_EQ(exact.text, std::wstring(kHelp));
  CHECK_EQ(exact.after, L'#');
  WideResult shortByOne = AskWide(menu.Get(), 0, GCS_HELPTEXTW, full - 1);
  CHECK_EQ(shortByOne.text, std::wstring(kHelp).substr(0, full - 2));
  CHECK_EQ(shortByOne.after, L'#');

  NarrowResult narrowFive = AskNarrow(menu.Get(), 0, GCS_HELPTEXTA, 5);
  CHECK_EQ(narrowFive.hr, S_OK);
  CHECK_EQ(narrowFive.text, std::string("Extr"));
  CHECK_EQ(narrowFive.after, '#');
  NarrowResult narrowExact = AskNarrow(menu.Get(), 0, GCS_HELPTEXTA, full);
  CHECK_EQ(narrowExact.text, std::string("Extract JPEG from RAW file"));
  CHECK_EQ(narrowExact.after, '#');
}

// --- InvokeCommand ---------------------------------------------------------------

TEST_CASE("InvokeCommand refuses a verb text without touching the settings") {
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  const std::wstring file = SettingsFile();
  DeleteFileW(file.c_str());
  CMINVOKECOMMANDINFO info = InvokeInfo("open");
  CHECK_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
  CHECK_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);

  // Through the handler made here: the store is not reloaded either.
  LocalHandler local;
  ComPtr<IContextMenu> localMenu;
  REQUIRE_EQ(local.init->QueryInterface(IID_IContextMenu, localMenu.PutVoid()), S_OK);
  TheSettingsStore().Clear();
  TheSettingsStore().SetInt(7, 7, 77);
  SettingsStore saved;
  saved.SetInt(0, 1, 1234);
  WriteWholeFile(file, SerializeSettings(saved, kSettingsMagic));
  CHECK_EQ(localMenu->InvokeCommand(&info), E_INVALIDARG);
  std::int32_t value = 0;
  CHECK(TheSettingsStore().GetInt(7, 7, value));
  CHECK_EQ(value, 77);
  CHECK(!TheSettingsStore().GetInt(0, 1, value));

  // A wide information block with a verb text is refused the same way.
  CMINVOKECOMMANDINFOEX wide{};
  wide.cbSize = sizeof wide;
  wide.fMask = CMIC_MASK_UNICODE;
  wide.lpVerb = "open";
  wide.lpVerbW = L"open";
  CHECK_EQ(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&wide)), E_INVALIDARG);
  CHECK_EQ(menu->InvokeCommand(nullptr), E_INVALIDARG);
  DeleteFileW(file.c_str());
}

TEST_CASE("InvokeCommand with offset 1 loads the settings and saves nothing") {
  const std::wstring file = SettingsFile();
  SettingsStore saved;
  saved.SetInt(0, 1, 1234);
  saved.SetInt(0, 2, 567);
  const std::vector<std::uint8_t> bytes = SerializeSettings(saved, kSettingsMagic);
  WriteWholeFile(file, bytes);
  std::string before;
  FILETIME writtenBefore{};
  REQUIRE(ReadWholeFile(file, before, &writtenBefore));

  // Through the DLL: refused, file untouched.
  ComPtr<IContextMenu> menu = NewHandler<IContextMenu>(IID_IContextMenu);
  CMINVOKECOMMANDINFO info = InvokeInfo(MAKEINTRESOURCEA(1));
  CHECK_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
  std::string after;
  FILETIME writtenAfter{};
  REQUIRE(ReadWholeFile(file, after, &writtenAfter));
  CHECK(after == before);
  CHECK_EQ(CompareFileTime(&writtenBefore, &writtenAfter), 0L);

  // Through the handler made here: the command loads the file into its own
  // copy of the store, so the process's shared store keeps what it held.
  LocalHandler local;
  ComPtr<IContextMenu> localMenu;
  REQUIRE_EQ(local.init->QueryInterface(IID_IContextMenu, localMenu.PutVoid()), S_OK);
  TheSettingsStore().Clear();
  TheSettingsStore().SetInt(7, 7, 77);
  CHECK_EQ(localMenu->InvokeCommand(&info), E_INVALIDARG);
  std::int32_t value = 0;
  CHECK(TheSettingsStore().GetInt(7, 7, value));
  CHECK_EQ(value, 77);
  CHECK(!TheSettingsStore().GetInt(0, 1, value));
  REQUIRE(ReadWholeFile(file, after, &writtenAfter));
  CHECK_EQ(CompareFileTime(&writtenBefore, &writtenAfter), 0L);

  // Any other offset is refused too; no file is made when there was none.
  DeleteFileW(file.c_str());
  CMINVOKECOMMANDINFO seven = InvokeInfo(MAKEINTRESOURCEA(7));
  CHECK_EQ(menu->InvokeCommand(&seven), E_INVALIDARG);
  CHECK_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

// --- module resources ------------------------------------------------------------

// The banner's emblem sat right of what the preferences dialog shows at 96
// DPI (its 169 dialog units are about 253 pixels in the Windows dialog
// font), and at 144 DPI, where the dialog is wider than the picture, the
// picture ended in a hard purple edge. Right of 240 pixels the banner holds
// no detail (neighbouring pixels differ little), and its right end is the
// dialog's light grey, so a wider dialog simply continues it.
TEST_CASE("the banner keeps its detail inside the dialog at 96 DPI and ends in the dialog's grey") {
  HMODULE dll = TheDll().module;
  HRSRC found = FindResourceW(dll, MAKEINTRESOURCEW(203), MAKEINTRESOURCEW(2) /*RT_BITMAP*/);
  REQUIRE(found != nullptr);
  const auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(dll, found)));
  REQUIRE(info != nullptr);
  REQUIRE_EQ(info->biBitCount, static_cast<WORD>(24));
  REQUIRE_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));
  const int width = info->biWidth, height = info->biHeight;
  const BYTE* bits = reinterpret_cast<const BYTE*>(info) + info->biSize;
  const int rowBytes = (width * 3 + 3) / 4 * 4;
  auto pixel = [&](int x, int y, int channel) { return static_cast<int>(bits[(height - 1 - y) * rowBytes + x * 3 + channel]); };
  constexpr int kShownAt96Dpi = 240;
  int sharpest = 0, sharpestX = 0;
  for (int y = 0; y < height; ++y)
    for (int x = kShownAt96Dpi; x + 1 < width; ++x)
      for (int c = 0; c < 3; ++c) {
        const int step = std::abs(pixel(x + 1, y, c) - pixel(x, y, c)) + std::abs(y + 1 < height ? pixel(x, y + 1, c) - pixel(x, y, c) : 0);
        if (step > sharpest) sharpest = step, sharpestX = x;
      }
  if (sharpest > 12)
    wintest::Fail(__FILE__, __LINE__, "detail right of the 96 DPI width: a step of " + std::to_string(sharpest) +
                                          " at x = " + std::to_string(sharpestX));
  for (int y = 0; y < height; ++y)
    for (int c = 0; c < 3; ++c) CHECK(std::abs(pixel(width - 1, y, c) - 240) <= 8);
}

TEST_CASE("module resources: name, registry script, version, templates, banner") {
  HMODULE dll = TheDll().module;
  wchar_t name[32] = {};
  CHECK_EQ(LoadStringW(dll, 100, name, 32), 8);
  CHECK_EQ(std::wstring(name), std::wstring(L"Veltrano"));

  HRSRC script = FindResourceW(dll, MAKEINTRESOURCEW(101), L"REGISTRY");
  REQUIRE(script != nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(dll, script)));
  REQUIRE(text != nullptr);
  const std::string body(text, SizeofResource(dll, script));
  CHECK(body.find("ForceRemove " VELTRANO_CLSID_SIMPLE_SHL_EXT " = s 'Veltrano Shell Extension'") !=
        std::string::npos);
  CHECK(body.find("val ThreadingModel = s 'Apartment'") != std::string::npos);
  CHECK(body.find("NoRemove AllFilesystemObjects") != std::string::npos);
  CHECK(body.find("ForceRemove VozaduvEreZud") != std::string::npos);
  CHECK(body.find("'%MODULE%'") != std::string::npos);

  CHECK(FindResourceW(dll, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(5) /*RT_DIALOG*/) != nullptr);
  CHECK(FindResourceW(dll, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(5)) != nullptr);
  HANDLE banner = LoadImageW(dll, MAKEINTRESOURCEW(203), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  REQUIRE(banner != nullptr);
  BITMAP bm{};
  GetObjectW(banner, sizeof bm, &bm);
  CHECK_EQ(bm.bmWidth, 400L);
  CHECK_EQ(bm.bmHeight, 60L);
  CHECK_EQ(bm.bmBitsPixel, static_cast<WORD>(24));
  DeleteObject(banner);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wintest::DllPath().c_str(), &ignored);
  REQUIRE(size > 0);
  std::vector<BYTE> block(size);
  REQUIRE(GetFileVersionInfoW(wintest::DllPath().c_str(), 0, size, block.data()));
  wchar_t* product = nullptr;
  UINT length = 0;
  REQUIRE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                         reinterpret_cast<void**>(&product), &length));
  CHECK_EQ(std::wstring(product), std::wstring(L"Veltrano"));
  VS_FIXEDFILEINFO* fixed = nullptr;
  REQUIRE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  // The numbers come from the project's one version line.
  CHECK_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(VELTRANO_VERSION_MINOR, VELTRANO_VERSION_MAJOR)));
  CHECK_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(MAKELONG(VELTRANO_VERSION_TWEAK, VELTRANO_VERSION_PATCH)));
}

WINTEST_MAIN
