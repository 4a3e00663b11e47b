#include "shell/simple_shl_ext.h"

#include <shellapi.h>

#include <new>
#include <string>

#include "shell/com_ptr.h"
#include "shell/command_flow.h"
#include "shell/drop_files.h"
#include "shell/module.h"

namespace veltrano::shell {
namespace {

// Request-type bits of GetCommandString.
constexpr UINT kHelpTextBit = 0x1;  // GCS_HELPTEXTA
constexpr UINT kUnicodeBit = 0x4;   // GCS_UNICODE

// A verb is either a command offset (its bits above the low word are zero)
// or a pointer to a verb text.
bool VerbIsText(LPCSTR verb) { return (reinterpret_cast<ULONG_PTR>(verb) >> 16) != 0; }
UINT VerbOffset(LPCSTR verb) { return LOWORD(reinterpret_cast<ULONG_PTR>(verb)); }

}  // namespace

CSimpleShlExt::CSimpleShlExt(IUnknown* outer) : controlling_(outer ? outer : &inner_) { LockModule(); }

CSimpleShlExt::~CSimpleShlExt() { UnlockModule(); }

HRESULT CSimpleShlExt::Create(IUnknown* outer, REFIID iid, void** out) {
  auto* object = new (std::nothrow) CSimpleShlExt(outer);
  if (!object) return E_OUTOFMEMORY;
  // Hold the object across the query so that a failed query deletes it.
  object->inner_.AddRef();
  const HRESULT hr = object->inner_.QueryInterface(iid, out);
  object->inner_.Release();
  return hr;
}

// --- IUnknown -------------------------------------------------------------

HRESULT CSimpleShlExt::InnerUnknown::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<IUnknown*>(this);
  } else if (IsEqualIID(iid, IID_IShellExtInit)) {
    *out = static_cast<IShellExtInit*>(&owner_);
  } else if (IsEqualIID(iid, IID_IContextMenu)) {
    *out = static_cast<IContextMenu*>(&owner_);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*out)->AddRef();
  return S_OK;
}

ULONG CSimpleShlExt::InnerUnknown::AddRef() { return ++owner_.refs_; }

ULONG CSimpleShlExt::InnerUnknown::Release() {
  const ULONG left = --owner_.refs_;
  if (left == 0) delete &owner_;
  return left;
}

HRESULT CSimpleShlExt::QueryInterface(REFIID iid, void** out) { return controlling_->QueryInterface(iid, out); }
ULONG CSimpleShlExt::AddRef() { return controlling_->AddRef(); }
ULONG CSimpleShlExt::Release() { return controlling_->Release(); }

// --- IShellExtInit ----------------------------------------------------------

HRESULT CSimpleShlExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
  return ComBarrier([&] { return InitializeFrom(data); });
}

// The file list is read in one pass over the locked block. Every call
// replaces the selection: the shell may initialise one object again for
// another selection.
HRESULT CSimpleShlExt::InitializeFrom(IDataObject* data) {
  selectedPaths.clear();
  if (!data) return E_INVALIDARG;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  StgMediumGuard medium;  // released last, after the unlock below
  if (FAILED(data->GetData(&format, medium.Put()))) return E_INVALIDARG;
  medium.MarkFilled();

  GlobalLockGuard locked(medium.Get().hGlobal);
  if (!locked.Get()) return E_INVALIDARG;
  std::vector<std::wstring> paths;
  if (!ReadDropFiles(locked.Get(), GlobalSize(medium.Get().hGlobal), CP_ACP, paths)) return E_INVALIDARG;
  selectedPaths = std::move(paths);
  return selectedPaths.empty() ? E_INVALIDARG : S_OK;
}

// --- IContextMenu -----------------------------------------------------------

HRESULT CSimpleShlExt::QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT, UINT flags) {
  return ComBarrier([&]() -> HRESULT {
    if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    InsertMenuW(menu, position, MF_BYPOSITION, firstId, kMenuText);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
  });
}

HRESULT CSimpleShlExt::GetCommandString(UINT_PTR offset, UINT type, UINT*, CHAR* buffer, UINT size) {
  return ComBarrier([&]() -> HRESULT {
    if ((type & (kHelpTextBit | kUnicodeBit)) == 0 || offset != 0) return E_INVALIDARG;
    if (type & kUnicodeBit) {
      lstrcpynW(reinterpret_cast<LPWSTR>(buffer), kHelpText, static_cast<int>(size));
      return S_OK;
    }
    const int narrowSize = WideCharToMultiByte(CP_THREAD_ACP, 0, kHelpText, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(narrowSize > 0 ? static_cast<std::size_t>(narrowSize) : 1u, '\0');
    if (narrowSize > 0)
      WideCharToMultiByte(CP_THREAD_ACP, 0, kHelpText, -1, narrow.data(), narrowSize, nullptr, nullptr);
    lstrcpynA(buffer, narrow.c_str(), static_cast<int>(size));
    return S_OK;
  });
}

HRESULT CSimpleShlExt::InvokeCommand(CMINVOKECOMMANDINFO* info) {
  return ComBarrier([&]() -> HRESULT {
    if (!info) return E_INVALIDARG;
    return RunCommand(*info);
  });
}

// The verb is the command offset 0, or the canonical verb that
// GetCommandString gives, as Explorer and scripts pass it (narrow, or wide
// in an extended block marked Unicode). Any other verb is refused before
// the settings are touched; another offset after they were loaded.
HRESULT CSimpleShlExt::RunCommand(const CMINVOKECOMMANDINFO& info) {
  const bool named = VerbIsText(info.lpVerb);
  if (named && !NamesOurVerb(info)) return E_INVALIDARG;
  CommandRun command;  // loads the settings file, also for an offset refused next
  if (!named && VerbOffset(info.lpVerb) != 0) return E_INVALIDARG;
  // The dialogs are owned by the window the command was invoked from, which
  // stays disabled while they run (when none is given: the active window).
  command.Run(selectedPaths, info.hwnd && IsWindow(info.hwnd) ? info.hwnd : nullptr);
  return S_OK;
}

bool CSimpleShlExt::NamesOurVerb(const CMINVOKECOMMANDINFO& info) {
  if (info.cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (info.fMask & CMIC_MASK_UNICODE)) {
    const auto& wide = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(info);
    if (VerbIsText(reinterpret_cast<LPCSTR>(wide.lpVerbW)) && lstrcmpiW(wide.lpVerbW, kCanonicalVerb) == 0)
      return true;
  }
  const int size = WideCharToMultiByte(CP_ACP, 0, kCanonicalVerb, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, kCanonicalVerb, -1, narrow.data(), size, nullptr, nullptr);
  return lstrcmpiA(info.lpVerb, narrow.c_str()) == 0;
}

}  // namespace veltrano::shell
