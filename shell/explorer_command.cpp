#include "shell/explorer_command.h"

#include <oleidl.h>
#include <shlwapi.h>

#include <new>
#include <string>

#include "resource.h"
#include "shell/command_flow.h"
#include "shell/module.h"
#include "shell/simple_shl_ext.h"

namespace veltrano::shell {
namespace {

// Owns a text allocated with CoTaskMemAlloc (GetDisplayName's result).
class CoTaskText {
 public:
  CoTaskText() = default;
  CoTaskText(const CoTaskText&) = delete;
  CoTaskText& operator=(const CoTaskText&) = delete;
  ~CoTaskText() { CoTaskMemFree(text_); }
  LPWSTR* Put() noexcept { return &text_; }
  const wchar_t* Get() const noexcept { return text_; }

 private:
  LPWSTR text_ = nullptr;
};

// A copy of `text` for the caller to free with CoTaskMemFree.
HRESULT HandOut(const wchar_t* text, LPWSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return SHStrDupW(text, out);
}

// Full path of this DLL, of any length.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(ModuleHandle(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

ExplorerCommand::ExplorerCommand() { LockModule(); }

ExplorerCommand::~ExplorerCommand() { UnlockModule(); }

HRESULT ExplorerCommand::Create(IUnknown* outer, REFIID iid, void** out) {
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* object = new (std::nothrow) ExplorerCommand();
  if (!object) return E_OUTOFMEMORY;
  // Held across the query, so that a failed query deletes it.
  object->AddRef();
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

// --- IUnknown -------------------------------------------------------------

HRESULT ExplorerCommand::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IExplorerCommand)) {
    *out = static_cast<IExplorerCommand*>(this);
  } else if (IsEqualIID(iid, IID_IObjectWithSite)) {
    *out = static_cast<IObjectWithSite*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ExplorerCommand::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG ExplorerCommand::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

// --- IExplorerCommand -------------------------------------------------------

HRESULT ExplorerCommand::GetTitle(IShellItemArray*, LPWSTR* name) {
  return ComBarrier([&] { return HandOut(kMenuText, name); });
}

HRESULT ExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* tip) {
  return ComBarrier([&] { return HandOut(kHelpText, tip); });
}

// "<module path>,-<resource id>": the icon resource of this DLL.
HRESULT ExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* icon) {
  return ComBarrier([&]() -> HRESULT {
    if (!icon) return E_POINTER;
    *icon = nullptr;
    const std::wstring module = ModulePath();
    if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());
    return HandOut((module + L",-" + std::to_wstring(IDI_VELTRANO)).c_str(), icon);
  });
}

HRESULT ExplorerCommand::GetCanonicalName(GUID* name) {
  return ComBarrier([&]() -> HRESULT {
    if (!name) return E_POINTER;
    *name = kExplorerCommandName;
    return S_OK;
  });
}

// Enabled for every selection. This runs on the browser's window thread on
// every right-click, so it looks at nothing: the job itself tells which
// files hold a preview.
HRESULT ExplorerCommand::GetState(IShellItemArray*, BOOL, EXPCMDSTATE* state) {
  return ComBarrier([&]() -> HRESULT {
    if (!state) return E_POINTER;
    *state = ECS_ENABLED;
    return S_OK;
  });
}

HRESULT ExplorerCommand::GetFlags(EXPCMDFLAGS* flags) {
  return ComBarrier([&]() -> HRESULT {
    if (!flags) return E_POINTER;
    *flags = ECF_DEFAULT;
    return S_OK;
  });
}

HRESULT ExplorerCommand::EnumSubCommands(IEnumExplorerCommand** subCommands) {
  return ComBarrier([&]() -> HRESULT {
    if (subCommands) *subCommands = nullptr;
    return E_NOTIMPL;
  });
}

HRESULT ExplorerCommand::Invoke(IShellItemArray* items, IBindCtx*) {
  return ComBarrier([&] { return RunInvoke(items); });
}

HRESULT ExplorerCommand::RunInvoke(IShellItemArray* items) {
  std::vector<std::wstring> paths;
  if (const HRESULT hr = FileSystemPaths(items, paths); FAILED(hr)) return hr;
  // Nothing the job could walk: refused before the settings are touched.
  if (paths.empty()) return E_INVALIDARG;
  CommandRun command;
  command.Run(paths, OwnerWindow());
  return S_OK;
}

HRESULT ExplorerCommand::FileSystemPaths(IShellItemArray* items, std::vector<std::wstring>& paths) {
  if (!items) return E_INVALIDARG;
  DWORD count = 0;
  if (FAILED(items->GetCount(&count))) return E_INVALIDARG;
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IShellItem> item;
    if (FAILED(items->GetItemAt(index, item.Put())) || !item) continue;
    CoTaskText path;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.Put())) || !path.Get() || !*path.Get()) continue;
    paths.emplace_back(path.Get());
  }
  return S_OK;
}

HWND ExplorerCommand::OwnerWindow() const {
  if (site_) {
    ComPtr<IOleWindow> window;
    HWND hwnd = nullptr;
    if (SUCCEEDED(site_->QueryInterface(IID_IOleWindow, window.PutVoid())) && window &&
        SUCCEEDED(window->GetWindow(&hwnd)) && hwnd)
      return hwnd;
  }
  // The user has just picked the entry in the browser's menu, so the
  // foreground window is the browser's (in whichever process the command
  // runs).
  return GetForegroundWindow();
}

// --- IObjectWithSite --------------------------------------------------------

HRESULT ExplorerCommand::SetSite(IUnknown* site) {
  return ComBarrier([&]() -> HRESULT {
    if (site) site->AddRef();
    site_ = ComPtr<IUnknown>(site);
    return S_OK;
  });
}

HRESULT ExplorerCommand::GetSite(REFIID iid, void** out) {
  return ComBarrier([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!site_) return E_FAIL;
    return site_->QueryInterface(iid, out);
  });
}

}  // namespace veltrano::shell
