// Dialog base: the shared dialog procedure, background painting and the
// process-wide GDI+ start-up tied to the number of live dialog objects.
#include "ui/dialog.h"

#include <cstdint>
#include <mutex>

#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

namespace {

HINSTANCE g_moduleInstance = nullptr;

// Live count and GDI+ token. Start-up and shut-down happen under the lock,
// so two commands on two threads never start GDI+ twice or shut it down
// under each other's feet.
std::mutex g_liveMutex;
int g_liveCount = 0;
ULONG_PTR g_gdiplusToken = 0;
bool g_gdiplusStarted = false;

// A region handle that is deleted when it goes out of scope.
class Region {
 public:
  explicit Region(HRGN handle) : handle_(handle) {}
  ~Region() {
    if (handle_) DeleteObject(handle_);
  }
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  HRGN get() const { return handle_; }

 private:
  HRGN handle_;
};

// The dialog's background brush: the dialog procedure answers 0 for
// WM_CTLCOLORDLG, so the dialog manager's default processing supplies the
// system's dialog brush.
HBRUSH BackgroundBrush(HWND window, HDC dc) {
  return reinterpret_cast<HBRUSH>(
      SendMessageW(window, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(window)));
}

// Fills the client area minus the rectangles of the visible child windows.
void PaintBackground(HWND window, HDC dc) {
  HBRUSH brush = BackgroundBrush(window, dc);
  RECT client;
  GetClientRect(window, &client);
  Region area(CreateRectRgnIndirect(&client));
  if (!area.get()) return;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
    Region cut(CreateRectRgnIndirect(&r));
    if (cut.get()) CombineRgn(area.get(), area.get(), cut.get(), RGN_DIFF);
  }
  FillRgn(dc, area.get(), brush);
}

void FillClient(HWND window, HDC dc) {
  HBRUSH brush = BackgroundBrush(window, dc);
  RECT client;
  GetClientRect(window, &client);
  FillRect(dc, &client, brush);
}

// What an unbound window gets: these messages are reported handled, every
// other one is left to the dialog manager.
INT_PTR UnboundResult(UINT message) {
  switch (message) {
    case WM_DESTROY:
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_MOVE:
    case WM_SIZE:
    case WM_GETMINMAXINFO:
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void SetModuleInstance(HINSTANCE instance) { g_moduleInstance = instance; }
HINSTANCE ModuleInstance() { return g_moduleInstance; }

int LiveDialogCount() {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  return g_liveCount;
}

bool DialogsHoldGdiplus() {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  return g_gdiplusStarted;
}

Dialog::Dialog() {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  if (g_liveCount++ == 0) {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;
    input.SuppressExternalCodecs = FALSE;
    g_gdiplusToken = 0;
    g_gdiplusStarted = Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr) == Gdiplus::Ok;
  }
}

Dialog::~Dialog() {
  std::lock_guard<std::mutex> lock(g_liveMutex);
  if (--g_liveCount == 0) {
    if (g_gdiplusStarted) Gdiplus::GdiplusShutdown(g_gdiplusToken);
    g_gdiplusStarted = false;
    g_gdiplusToken = 0;
  }
}

void Dialog::ShowModal(int templateId) { ShowModal(templateId, GetActiveWindow()); }

void Dialog::ShowModal(int templateId, HWND owner) {
  // The templates use the up-down control; make sure its window class is
  // registered in this process before the first dialog is made.
  static std::once_flag commonControls;
  std::call_once(commonControls, [] {
    INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
  });
  DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(templateId), owner, &Dialog::DialogProc,
                  reinterpret_cast<LPARAM>(this));
}

namespace {

// The message dispatch of every dialog; DialogProc wraps it so that no C++
// exception ever unwinds into the window manager's frames.
INT_PTR DispatchDialogMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lParam);
    if (!self) return TRUE;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window = hwnd;
    self->OnInitDialog();
    return TRUE;
  }

  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return UnboundResult(message);

  switch (message) {
    case WM_DESTROY:
      self->OnDestroy();
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      return TRUE;
    case WM_COMMAND:
      self->OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY:
      self->OnNotify(wParam, lParam);
      return TRUE;
    case WM_HSCROLL:
      self->OnHScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_VSCROLL:
      self->OnVScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_MOVE:
      self->OnMove();
      return TRUE;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) self->OnSize();
      return TRUE;
    case WM_GETMINMAXINFO:
      self->OnGetMinMaxInfo(lParam);
      return TRUE;
    case WM_SHOWWINDOW:
      return FALSE;
    case WM_ERASEBKGND:
      PaintBackground(hwnd, reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_PRINT:
      FillClient(hwnd, reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return 0;
    default:
      return self->HandleMessage(message, wParam, lParam);
  }
}

}  // namespace

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return DispatchDialogMessage(hwnd, message, wParam, lParam);
  } catch (...) {
    return FALSE;
  }
}

void Dialog::OnInitDialog() {}
void Dialog::OnDestroy() {}

void Dialog::OnCommand(int id, int code) {
  if ((id != IDOK && id != IDCANCEL) || code != 0) return;
  if (id == IDOK)
    OnOK();
  else
    OnCancel();
  EndDialog(window, id);
}

void Dialog::OnOK() {}
void Dialog::OnCancel() {}
void Dialog::OnNotify(WPARAM, LPARAM) {}
void Dialog::OnHScroll(int, int, HWND) {}
void Dialog::OnVScroll(int, int, HWND) {}
void Dialog::OnMove() {}
void Dialog::OnSize() {}
void Dialog::OnGetMinMaxInfo(LPARAM) {}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM, LPARAM) { return message == WM_ACTIVATE ? TRUE : FALSE; }

void Dialog::Reserved1() {}
void Dialog::Reserved2() {}
