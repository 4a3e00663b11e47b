// The command that both context-menu entries run: the classic handler's
// InvokeCommand and the Windows 11 command's Invoke. One object is one run:
// constructing it gives the run its own copy of the settings and loads the
// settings file into it; Run shows the preferences dialog and, when the user
// picks Extract, the progress dialog over the selection, then saves the
// settings file whatever the user chose.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace veltrano::shell {

class CommandRun {
 public:
  // Loads the settings file into this run's own store, bound to the calling
  // thread: another browser window may run the command on another thread
  // at the same time.
  CommandRun();
  CommandRun(const CommandRun&) = delete;
  CommandRun& operator=(const CommandRun&) = delete;

  // Both dialogs are modal and owned by `owner`; a null owner means the
  // window active when each dialog opens. `selection` is read while the
  // progress dialog runs, in its order.
  void Run(const std::vector<std::wstring>& selection, HWND owner);

 private:
  SettingsStore settings_;
  ScopedSettingsStore binding_;
};

}  // namespace veltrano::shell
