// ExplorerCommand: the "Veltrano" entry of the top-level context menu of the
// Windows 11 file browser, which shows only IExplorerCommand objects of
// packaged classes (the sparse package of installer/package registers this
// one). It runs the same command as the classic handler, on the items'
// file-system paths, with the same order and the same limits.
//
// The file browser sets a site (IObjectWithSite) before it calls Invoke;
// the site's window (IOleWindow) owns the dialogs, else the foreground
// window does. The object is not aggregatable. Its reference count is
// interlocked; every live object holds one count on the module.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "shell/com_ptr.h"

namespace veltrano::shell {

class ExplorerCommand final : public IExplorerCommand, public IObjectWithSite {
 public:
  // Makes an object and queries it for `iid`; the object is deleted again
  // when the query fails. An outer object is refused.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** out);

  ExplorerCommand(const ExplorerCommand&) = delete;
  ExplorerCommand& operator=(const ExplorerCommand&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IExplorerCommand
  HRESULT STDMETHODCALLTYPE GetTitle(IShellItemArray* items, LPWSTR* name) override;
  HRESULT STDMETHODCALLTYPE GetIcon(IShellItemArray* items, LPWSTR* icon) override;
  HRESULT STDMETHODCALLTYPE GetToolTip(IShellItemArray* items, LPWSTR* tip) override;
  HRESULT STDMETHODCALLTYPE GetCanonicalName(GUID* name) override;
  HRESULT STDMETHODCALLTYPE GetState(IShellItemArray* items, BOOL okToBeSlow, EXPCMDSTATE* state) override;
  HRESULT STDMETHODCALLTYPE Invoke(IShellItemArray* items, IBindCtx* context) override;
  HRESULT STDMETHODCALLTYPE GetFlags(EXPCMDFLAGS* flags) override;
  HRESULT STDMETHODCALLTYPE EnumSubCommands(IEnumExplorerCommand** subCommands) override;

  // IObjectWithSite
  HRESULT STDMETHODCALLTYPE SetSite(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE GetSite(REFIID iid, void** out) override;

  // The file-system paths of the items, in the array's order; an item
  // without one (a library, a device, a search) is left out. E_INVALIDARG
  // when the array cannot be read.
  static HRESULT FileSystemPaths(IShellItemArray* items, std::vector<std::wstring>& paths);

  // The window that owns the dialogs: the site's, else the foreground one
  // (null when there is none: then the window active on this thread).
  HWND OwnerWindow() const;

 private:
  ExplorerCommand();
  ~ExplorerCommand();

  HRESULT RunInvoke(IShellItemArray* items);

  ComPtr<IUnknown> site_;
  LONG refs_ = 0;
};

// The command's fixed canonical name (GetCanonicalName).
// {F2C79BC2-9C69-4025-9A47-BB6908A3FDC3}
inline constexpr GUID kExplorerCommandName = {
    0xF2C79BC2, 0x9C69, 0x4025, {0x9A, 0x47, 0xBB, 0x69, 0x08, 0xA3, 0xFD, 0xC3}};

}  // namespace veltrano::shell
