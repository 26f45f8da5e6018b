// The window framework over Win32: the frame class, the window procedure that
// dispatches through the message maps, the message loop and the entry point.
#include "framework/Framework.h"

#include "platform/win32/WinApi.h"

#include "framework/EntryHooks.h"

namespace qm {

namespace {

const char kFrameClassName[] = "QuillmarkFrame";
CWinApp* gApp = nullptr;

HWND AsHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

// Gives the window procedure access to the window's current message.
struct WindowProcAccess {
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// --- CWnd ---

const MessageMap CWnd::messageMap_ = {nullptr, nullptr};

CWnd::~CWnd() {
  if (m_hWnd != 0) {
    // Detach so the procedure no longer reaches this object.
    SetWindowLongPtrA(AsHwnd(m_hWnd), GWLP_USERDATA, 0);
  }
}

const MessageMap* CWnd::GetMessageMap() const { return &messageMap_; }

MsgResult CWnd::Default() {
  return ::DefWindowProcA(AsHwnd(m_hWnd), current_.message, current_.wParam, current_.lParam);
}

void CWnd::OnPaint() { Default(); }

bool CWnd::DispatchToMap(unsigned message, MsgParam wParam, MsgLParam lParam) {
  for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
    if (map->entries == nullptr) continue;
    for (const MessageMapEntry* entry = map->entries; entry->thunk != nullptr; ++entry) {
      if (entry->message != message) continue;
      CurrentMessage saved = current_;
      current_ = {message, wParam, lParam};
      entry->thunk(this, wParam, lParam);
      current_ = saved;
      return true;
    }
  }
  return false;
}

LRESULT CALLBACK WindowProcAccess::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* window = static_cast<CWnd*>(create->lpCreateParams);
    window->m_hWnd = reinterpret_cast<WindowHandle>(hwnd);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);

  if (message == WM_NCDESTROY) {
    LRESULT result = DefWindowProcA(hwnd, message, wParam, lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    window->m_hWnd = 0;
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == window) PostQuitMessage(0);
    return result;
  }
  if (window->DispatchToMap(message, wParam, lParam)) return 0;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// --- CFrameWnd ---

const MessageMap CFrameWnd::messageMap_ = {&CWnd::messageMap_, nullptr};

const MessageMap* CFrameWnd::GetMessageMap() const { return &messageMap_; }

namespace {
bool RegisterFrameClass(HINSTANCE instance) {
  WNDCLASSA existing;
  if (GetClassInfoA(instance, kFrameClassName, &existing)) return true;
  WNDCLASSA windowClass = {};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowProcAccess::Proc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(101));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kFrameClassName;
  return RegisterClassA(&windowClass) != 0;
}
}  // namespace

bool CFrameWnd::Create(const char* className, const char* title, std::uint32_t style,
                       const Rect& rect) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (className == nullptr) {
    if (!RegisterFrameClass(instance)) return false;
    className = kFrameClassName;
  }
  HWND hwnd = CreateWindowExA(0, className, title, style, rect.left, rect.top, rect.right - rect.left,
                              rect.bottom - rect.top, nullptr, nullptr, instance, this);
  return hwnd != nullptr;
}

// --- CWinApp ---

CWinApp::CWinApp(const char* /*appName*/) { gApp = this; }

CWinApp::~CWinApp() {
  if (gApp == this) gApp = nullptr;
}

bool CWinApp::InitInstance() { return true; }

int CWinApp::Run() {
  MSG message;
  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);  // WM_QUIT
    if (got == -1) return -1;                                // the queue itself failed
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void CWinApp::ExitInstance() {
  delete m_pMainWnd;
  m_pMainWnd = nullptr;
}

CWinApp* AfxGetApp() { return gApp; }

}  // namespace qm

namespace {

// Keeps the loader away from the application's directory and the current
// directory: only System32 is searched for the DLLs loaded from here on.
// SetDefaultDllDirectories exists from Windows 7 with KB2533623 on; on older
// systems the search order stays as it was.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const DWORD kLoadLibrarySearchSystem32 = 0x00000800;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories != nullptr) setDirectories(kLoadLibrarySearchSystem32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearchToSystem32();
  qm::SetPlatform(qm::ApplicationPlatform());
  qm::CWinApp* app = qm::AfxGetApp();
  if (app == nullptr || !app->InitInstance()) return 0;
  const int exitCode = app->Run();
  app->ExitInstance();
  return exitCode;
}
