// How long the context-menu handler takes to read a selection, on the file
// browser's window thread, for selections of 1,000 to 20,000 files; beside
// it, in the same run, the index-by-index reading with DragQueryFileW that
// the handler used to do (each call walks the list from its start). Run
// under Wine by CTest; fails when 20,000 files take 100 ms or more (best of
// three).
//
//   selection_bench.exe [DLL ARTIFACTS]   (the arguments of the Windows tests; unused)
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shell/com_ptr.h"
#include "shell/simple_shl_ext.h"

using veltrano::shell::ComPtr;
using veltrano::shell::CSimpleShlExt;

namespace {

std::vector<std::wstring> Paths(int count) {
  std::vector<std::wstring> paths;
  for (int i = 0; i < count; ++i) paths.push_back(L"C:\\Users\\someone\\Pictures\\2026-12-09 shoot\\IMG_" +
                                                   std::to_wstring(100000 + i) + L".CR2");
  return paths;
}

HGLOBAL DropList(const std::vector<std::wstring>& paths) {
  std::size_t chars = 1;
  for (const auto& p : paths) chars += p.size() + 1;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* text = reinterpret_cast<wchar_t*>(header + 1);
  for (const auto& p : paths) {
    std::memcpy(text, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
    text += p.size() + 1;
  }
  GlobalUnlock(memory);
  return memory;
}

// Serves one prepared list; the handler's ReleaseStgMedium leaves it alone
// (pUnkForRelease is this object).
class ListSource final : public IDataObject {
 public:
  explicit ListSource(HGLOBAL list) : list_(list) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
      *out = static_cast<IDataObject*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC*, STGMEDIUM* medium) override {
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = list_;
    medium->pUnkForRelease = this;
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

 private:
  HGLOBAL list_;
};

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of three: the handler's Initialize on a fresh object.
double TimeInitialize(HGLOBAL list, std::size_t expected) {
  double best = 1e30;
  for (int round = 0; round < 3; ++round) {
    ComPtr<IShellExtInit> init;
    if (FAILED(CSimpleShlExt::Create(nullptr, IID_IShellExtInit, init.PutVoid()))) return -1;
    ListSource source(list);
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    const HRESULT hr = init->Initialize(nullptr, &source, nullptr);
    QueryPerformanceCounter(&to);
    if (hr != S_OK || static_cast<CSimpleShlExt*>(init.Get())->selectedPaths.size() != expected) return -1;
    best = std::min(best, Milliseconds(from, to));
  }
  return best;
}

// The former reading: the count, then every path by its index.
double TimeByIndex(HGLOBAL list, std::size_t expected) {
  LARGE_INTEGER from, to;
  QueryPerformanceCounter(&from);
  auto drop = static_cast<HDROP>(GlobalLock(list));
  std::vector<std::wstring> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length, L'\0');
    DragQueryFileW(drop, i, path.data(), length + 1);
    paths.push_back(std::move(path));
  }
  GlobalUnlock(list);
  QueryPerformanceCounter(&to);
  return paths.size() == expected ? Milliseconds(from, to) : -1;
}

}  // namespace

int main() {
  constexpr double kLimitMs = 100.0;
  std::printf("%8s  %16s  %18s\n", "files", "Initialize (ms)", "by index (ms)");
  bool ok = true;
  double last = 0;
  for (int count : {1000, 5000, 20000}) {
    const std::vector<std::wstring> paths = Paths(count);
    HGLOBAL list = DropList(paths);
    const double now = TimeInitialize(list, paths.size());
    // The former way is quadratic: 20,000 files took seconds; measured up to 5,000.
    const double before = count <= 5000 ? TimeByIndex(list, paths.size()) : -1;
    GlobalFree(list);
    if (now < 0) ok = false;
    if (before >= 0)
      std::printf("%8d  %16.2f  %18.2f  (%.0fx)\n", count, now, before, now > 0 ? before / now : 0.0);
    else
      std::printf("%8d  %16.2f  %18s\n", count, now, "-");
    last = now;
  }
  if (!ok || last >= kLimitMs) {
    std::printf("FAILED: 20000 files took %.2f ms to read (limit %.0f ms)\n", last, kLimitMs);
    return 1;
  }
  return 0;
}
