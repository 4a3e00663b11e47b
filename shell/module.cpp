// The DLL's entry point, its module lock count and the two COM exports that
// hand out the class factory and decide when the DLL may be unloaded.
#include <windows.h>
#include <objbase.h>

#include "shell/com_ptr.h"
#include "shell/module.h"
#include "ui/dialog.h"

namespace veltrano::shell {
namespace {

LONG gLockCount = 0;
HINSTANCE gModule = nullptr;

// Guards the one-time creation of the cached class factory.
CRITICAL_SECTION gFactorySection;
bool gFactorySectionReady = false;
IClassFactory* gCachedFactory = nullptr;  // one reference, dropped at detach

}  // namespace

void LockModule() noexcept { InterlockedIncrement(&gLockCount); }
void UnlockModule() noexcept { InterlockedDecrement(&gLockCount); }
LONG ModuleLockCount() noexcept { return InterlockedCompareExchange(&gLockCount, 0, 0); }
HINSTANCE ModuleHandle() noexcept { return gModule; }

namespace {

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, kClsidSimpleShlExt)) return CLASS_E_CLASSNOTAVAILABLE;
  IClassFactory* factory = nullptr;
  {
    CriticalSectionLock lock(gFactorySection);
    if (!gCachedFactory) gCachedFactory = NewSimpleShlExtFactory();
    factory = gCachedFactory;
  }
  return factory->QueryInterface(iid, out);
}

}  // namespace
}  // namespace veltrano::shell

using namespace veltrano::shell;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      gModule = instance;
      InitializeCriticalSection(&gFactorySection);
      gFactorySectionReady = true;
      DisableThreadLibraryCalls(instance);
      SetModuleInstance(instance);
      break;
    case DLL_PROCESS_DETACH:
      if (gCachedFactory) {
        gCachedFactory->Release();
        gCachedFactory = nullptr;
      }
      if (gFactorySectionReady) {
        DeleteCriticalSection(&gFactorySection);
        gFactorySectionReady = false;
      }
      SetModuleInstance(nullptr);
      gModule = nullptr;
      break;
    default:
      break;
  }
  return TRUE;
}

// Handler objects and server locks count on the module; so does any
// reference to the class factory beyond the cache's own, since the factory
// goes with the DLL and a host may hold it without LockServer.
extern "C" HRESULT __stdcall DllCanUnloadNow() {
  if (ModuleLockCount() != 0) return S_FALSE;
  CriticalSectionLock lock(gFactorySection);
  const bool factoryHeld = gCachedFactory && SimpleShlExtFactoryReferences(gCachedFactory) > 1;
  return factoryHeld ? S_FALSE : S_OK;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return ComBarrier([&] { return GetClassObject(clsid, iid, out); });
}
