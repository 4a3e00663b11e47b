// The machine-wide PATH (HKLM\SYSTEM\CurrentControlSet\Control\Session
// Manager\Environment, value Path), edited through the registry calls so
// that its length never matters. The installer runs these through a hidden
// mode of veltrano.exe (cli/main.cpp). Windows only.
#pragma once

#include <string>

enum class MachinePathResult {
  kChanged,    // the entry was added or removed, and the change broadcast
  kUnchanged,  // nothing to do: the folder was there already, or not there
  kFailed,     // the value could not be read or written; `why` says why
};

// Appends `folder` as one whole entry unless an entry names that folder
// already (compared without regard to case, quotes, trailing backslashes,
// with variables expanded). The value keeps its type (REG_EXPAND_SZ for a
// new value) and every other entry as it was.
MachinePathResult machine_path_add(const std::wstring& folder, std::wstring& why);

// Removes the last entry that is `folder` as written (without regard to
// case, quotes and trailing backslashes; variables are not expanded, so an
// entry of the user's own spelling stays), and one separator beside it.
MachinePathResult machine_path_remove(const std::wstring& folder, std::wstring& why);
