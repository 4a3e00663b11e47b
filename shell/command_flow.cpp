#include "shell/command_flow.h"

#include <memory>

#include "job/extract_dialog.h"
#include "settings/preferences_dialog.h"

namespace veltrano::shell {
namespace {

constexpr int kPreferencesTemplate = 1;
constexpr int kProgressTemplate = 2;

void LoadTheSettingsFile() { LoadSettingsFile(kSettingsMagic, L"Kerbelin", L"VLTR", L"VLTR.cfg"); }
void SaveTheSettingsFile() { SaveSettingsFile(kSettingsMagic, L"Kerbelin", L"VLTR", L"VLTR.cfg"); }

void ShowOwned(Dialog& dialog, int templateId, HWND owner) {
  // A dialog's owner is a top-level window; the one given may be a pane
  // inside it (the browser's view).
  if (owner) owner = GetAncestor(owner, GA_ROOT);
  if (owner)
    dialog.ShowModal(templateId, owner);
  else
    dialog.ShowModal(templateId);
}

}  // namespace

CommandRun::CommandRun() : binding_(settings_) { LoadTheSettingsFile(); }

void CommandRun::Run(const std::vector<std::wstring>& selection, HWND owner) {
  {
    auto preferences = std::make_unique<PreferencesDialog>();
    ShowOwned(*preferences, kPreferencesTemplate, owner);
    if (preferences->extractRequested) {
      auto progress = std::make_unique<ExtractDialog>();
      progress->selection = &selection;
      ShowOwned(*progress, kProgressTemplate, owner);
    }
  }
  SaveTheSettingsFile();
}

}  // namespace veltrano::shell
