// The modal dialog base shared by the preferences and progress dialogs.
//
// A Dialog object binds itself to its window on WM_INITDIALOG and turns the
// window's messages into calls of its virtual members. The base ends the
// dialog on the OK (1) and Cancel (2) commands, paints the background
// without painting over the visible controls, and keeps GDI+ running for as
// long as any Dialog object exists.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The module whose resources hold the dialog templates; recorded when the
// module is attached to a process.
void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();

class Dialog {
 public:
  Dialog();
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog made from the template with this id modally, owned by
  // the window active at the time of the call. Returns when it has ended;
  // the caller reads the object's members afterwards.
  void ShowModal(int templateId);
  // The same, owned by `owner` (its top-level window, which stays disabled
  // while the dialog runs).
  void ShowModal(int templateId, HWND owner);

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window = nullptr;

  virtual void OnInitDialog();
  virtual void OnDestroy();
  // WM_COMMAND. The base ends the dialog for id 1 (after OnOK) and id 2
  // (after OnCancel), only when code is 0.
  virtual void OnCommand(int id, int code);
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnNotify(WPARAM wParam, LPARAM lParam);
  virtual void OnHScroll(int code, int position, HWND control);
  virtual void OnVScroll(int code, int position, HWND control);
  virtual void OnMove();
  virtual void OnSize();
  virtual void OnGetMinMaxInfo(LPARAM info);
  // Every message the dialog procedure does not handle itself. The base
  // answers TRUE for WM_ACTIVATE only, which keeps the dialog manager's own
  // activation handling out.
  virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void Reserved1();
  virtual void Reserved2();
};

// Number of Dialog objects alive in the process, and whether GDI+ is
// currently started by them (for the tests and diagnostics).
int LiveDialogCount();
bool DialogsHoldGdiplus();
