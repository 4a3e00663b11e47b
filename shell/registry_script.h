// The module's registry script (resource IDR_REGISTRY, resources/veltrano.rgs)
// is the one description of the registry content of the class: registration
// reads it and carries it out. The script language is the usual one of
// in-process servers, in the part the script uses:
//
//   ROOT { KEY... }                 ROOT: HKCR, HKLM or HKCU
//   KEY:  [NoRemove|ForceRemove] name [= s 'text'] [{ (KEY | val name = s 'text')... }]
//
// Text is in single quotes ('' stands for one quote); %MODULE% and
// %MODULE_RAW% stand for the module's full path, %% for a percent sign.
// Registering creates every key (a ForceRemove key is deleted with its
// subtree first) and sets its values; unregistering deletes every key not
// marked NoRemove with its subtree, and only descends into NoRemove keys.
#pragma once

#include <string>
#include <vector>

namespace veltrano::shell {

struct ScriptValue {
  std::wstring name;  // empty: the key's default value
  std::wstring text;  // a REG_SZ value
};

struct ScriptKey {
  enum class Removal { kRemove, kNoRemove, kForceRemove };
  Removal removal = Removal::kRemove;
  std::wstring name;
  std::vector<ScriptValue> values;  // in script order; the default value first when given
  std::vector<ScriptKey> children;
};

struct ScriptRoot {
  std::wstring root;  // "HKCR", "HKLM" or "HKCU"
  std::vector<ScriptKey> keys;
};

// Parses the script with the module path put in; false (and `out` partly
// filled) on anything outside the language above.
bool ParseRegistryScript(const std::wstring& script, const std::wstring& module, std::vector<ScriptRoot>& out);

}  // namespace veltrano::shell
