// CSimpleShlExt: the context-menu handler the file browser creates for a
// selection of files and folders. It keeps the selected paths, adds the
// "Veltrano" entry and, when the entry is picked, runs the whole command:
// settings file, preferences dialog, progress dialog, settings file again.
//
// The object can be aggregated: its IUnknown methods delegate to the
// controlling unknown (the outer object, or its own inner unknown when it
// stands alone). Its reference count is not interlocked, as the class is
// registered apartment-threaded; every live object holds one count on the
// module.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace veltrano::shell {

class CSimpleShlExt final : public IShellExtInit, public IContextMenu {
 public:
  // Makes an object (aggregated when `outer` is given) and queries it for
  // `iid`. The object is deleted again when the query fails.
  static HRESULT Create(IUnknown* outer, REFIID iid, void** out);

  CSimpleShlExt(const CSimpleShlExt&) = delete;
  CSimpleShlExt& operator=(const CSimpleShlExt&) = delete;

  // IUnknown, delegating to the controlling unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IShellExtInit
  HRESULT STDMETHODCALLTYPE Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progIdKey) override;

  // IContextMenu
  HRESULT STDMETHODCALLTYPE QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT lastId,
                                             UINT flags) override;
  HRESULT STDMETHODCALLTYPE InvokeCommand(CMINVOKECOMMANDINFO* info) override;
  HRESULT STDMETHODCALLTYPE GetCommandString(UINT_PTR offset, UINT type, UINT* reserved, CHAR* buffer,
                                             UINT size) override;

  // The paths delivered by Initialize, in delivery order.
  std::vector<std::wstring> selectedPaths;

 private:
  // The non-delegating IUnknown that owns the object's lifetime.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(CSimpleShlExt& owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

   private:
    CSimpleShlExt& owner_;
  };

  explicit CSimpleShlExt(IUnknown* outer);
  ~CSimpleShlExt();

  HRESULT InitializeFrom(IDataObject* data);
  HRESULT RunCommand(const CMINVOKECOMMANDINFO& info);
  // Whether a verb given as text is the canonical verb.
  static bool NamesOurVerb(const CMINVOKECOMMANDINFO& info);

  InnerUnknown inner_{*this};
  IUnknown* controlling_;
  ULONG refs_ = 0;
};

// Texts of the menu entry and of its help line.
inline constexpr wchar_t kMenuText[] = L"Veltrano";
inline constexpr wchar_t kHelpText[] = L"Extract JPEG from RAW file";
// GetCommandString answers every wide request, the verb request among them,
// with the help text: so that text is the command's canonical verb too, and
// InvokeCommand takes it (in any case).
inline constexpr const wchar_t* kCanonicalVerb = kHelpText;

}  // namespace veltrano::shell
