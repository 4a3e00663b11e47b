// The DLL's entry point, its module lock count and the two COM exports that
// hand out the class factory and decide when the DLL may be unloaded.
#include <windows.h>
#include <objbase.h>

#include "shell/com_ptr.h"
#include "shell/explorer_command.h"
#include "shell/module.h"
#include "shell/simple_shl_ext.h"
#include "ui/dialog.h"

namespace veltrano::shell {
namespace {

LONG gLockCount = 0;
HINSTANCE gModule = nullptr;

// Guards the one-time creation of the cached class factories.
CRITICAL_SECTION gFactorySection;
bool gFactorySectionReady = false;

// The classes the module serves, each with its cached factory (one
// reference, made on the first request, dropped at detach).
struct ServedClass {
  const CLSID& clsid;
  CreateObjectFn create;
  IClassFactory* cachedFactory;
};
ServedClass gClasses[] = {
    {kClsidSimpleShlExt, &CSimpleShlExt::Create, nullptr},
    {kClsidExplorerCommand, &ExplorerCommand::Create, nullptr},
};

}  // namespace

void LockModule() noexcept { InterlockedIncrement(&gLockCount); }
void UnlockModule() noexcept { InterlockedDecrement(&gLockCount); }
LONG ModuleLockCount() noexcept { return InterlockedCompareExchange(&gLockCount, 0, 0); }
HINSTANCE ModuleHandle() noexcept { return gModule; }

namespace {

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (ServedClass& served : gClasses) {
    if (!IsEqualCLSID(clsid, served.clsid)) continue;
    IClassFactory* factory = nullptr;
    {
      CriticalSectionLock lock(gFactorySection);  // nothing below throws
      if (!served.cachedFactory) served.cachedFactory = NewClassFactory(served.create);
      factory = served.cachedFactory;
    }
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
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
      for (ServedClass& served : gClasses) {
        if (served.cachedFactory) served.cachedFactory->Release();
        served.cachedFactory = nullptr;
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
  for (const ServedClass& served : gClasses)
    if (served.cachedFactory && ClassFactoryReferences(served.cachedFactory) > 1) return S_FALSE;
  return S_OK;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return ComBarrier([&] { return GetClassObject(clsid, iid, out); });
}
