// Process-wide state of the COM server: the module lock count, the class
// identifiers it serves and the exception barrier shared by every COM entry.
#pragma once

#include <windows.h>

#include <new>

#include "veltrano_class_ids.h"

namespace veltrano::shell {

// The class ids come from the build's one list (cmake/class_ids.cmake).
inline constexpr CLSID kClsidSimpleShlExt = {VELTRANO_CLSID_SIMPLE_SHL_EXT_FIELDS};
inline constexpr wchar_t kClsidText[] = VELTRANO_CLSID_SIMPLE_SHL_EXT_W;
// The id version 1.50 registered under; see RemoveLegacyRegistration.
inline constexpr wchar_t kLegacyClsidText[] = VELTRANO_CLSID_LEGACY_SHL_EXT_W;
inline constexpr wchar_t kDescription[] = L"Veltrano Shell Extension";
// The Windows 11 context-menu command (ExplorerCommand), registered by the
// sparse package rather than by DllRegisterServer.
inline constexpr CLSID kClsidExplorerCommand = {VELTRANO_CLSID_EXPLORER_COMMAND_FIELDS};

// Handler objects alive plus server locks taken through the class factory.
// Changed with interlocked operations: the factory is shared by all threads.
void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

// The module's own instance, recorded when the DLL is attached.
HINSTANCE ModuleHandle() noexcept;

// Makes one object of a served class and queries it for `iid` (out is not
// null, aggregation with a non-IUnknown interface is refused before).
using CreateObjectFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

// A new class factory for the class that `create` makes, holding one
// reference, or null when memory runs out (class_factory.cpp).
IClassFactory* NewClassFactory(CreateObjectFn create) noexcept;
// Number of references to a factory made by NewClassFactory.
LONG ClassFactoryReferences(IClassFactory* factory) noexcept;

// Runs `body` and turns any exception into an HRESULT, so that nothing
// thrown in the core ever crosses a COM boundary.
template <class Body>
HRESULT ComBarrier(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace veltrano::shell
