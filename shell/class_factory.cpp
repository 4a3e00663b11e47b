// The class factory of every class the module serves: one instance per class,
// made with that class's creation function, cached by the module and shared
// by every thread of the process, so its reference count is interlocked.
// Server locks taken through LockServer count on the module.
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "shell/module.h"

namespace veltrano::shell {
namespace {

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateObjectFn create) : create_(create) {}
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return ComBarrier([&]() -> HRESULT {
      if (!out) return E_POINTER;
      *out = nullptr;
      if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
      return create_(outer, iid, out);
    });
  }
  LONG References() noexcept { return InterlockedCompareExchange(&refs_, 0, 0); }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      LockModule();
    else
      UnlockModule();
    return S_OK;
  }

 private:
  ~ClassFactory() = default;
  CreateObjectFn create_;
  LONG refs_ = 1;
};

}  // namespace

IClassFactory* NewClassFactory(CreateObjectFn create) noexcept { return new (std::nothrow) ClassFactory(create); }

LONG ClassFactoryReferences(IClassFactory* factory) noexcept {
  return static_cast<ClassFactory*>(factory)->References();
}

}  // namespace veltrano::shell
