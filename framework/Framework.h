// The launcher's window framework: the little that the launcher needs of an
// application-and-frame-window model, over plain Win32.
//
//   CWinApp    the application object: constructed statically, InitInstance
//              called once by the entry point, m_pMainWnd, the message loop.
//   CWnd       a window: handle, message map dispatch, Default. Message
//              boxes and destruction go through the platform seam.
//   CFrameWnd  a top-level frame window with Create.
//   Message maps: BEGIN_MESSAGE_MAP / ON_WM_* / END_MESSAGE_MAP, chained to
//              the base class's map; the unpacking of wParam/lParam for each
//              message happens in the ON_WM_* entry, nowhere else.
//
// This header does not include <windows.h>: the launcher's classes that build
// on it stay free of it. Only Framework.cpp talks to Win32.
#pragma once

#include <cstdint>

#include "platform/Win32Constants.h"

namespace qm {

using WindowHandle = std::uintptr_t;
using MsgParam = std::uintptr_t;   // WPARAM
using MsgLParam = std::intptr_t;   // LPARAM
using MsgResult = std::intptr_t;   // LRESULT

struct CPoint {
  int x = 0;
  int y = 0;
};

class CWnd;

// One message map entry: a message and the thunk that unpacks its parameters
// and calls the handler on the window.
using MessageThunk = void (*)(CWnd* window, MsgParam wParam, MsgLParam lParam);
struct MessageMapEntry {
  unsigned message;
  MessageThunk thunk;  // null ends the table
};
struct MessageMap {
  const MessageMap* base;  // the base class's map; null for CWnd
  const MessageMapEntry* entries;
};

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  WindowHandle GetSafeHwnd() const { return m_hWnd; }

  // Hands the message being dispatched to the default window procedure.
  MsgResult Default();
  // Default painting: validates the window and draws nothing.
  void OnPaint();

  virtual const MessageMap* GetMessageMap() const;

  // Finds the handler for `message` along the map chain and calls it.
  // Returns false when no map names the message.
  bool DispatchToMap(unsigned message, MsgParam wParam, MsgLParam lParam);

  WindowHandle m_hWnd = 0;

 protected:
  static const MessageMap messageMap_;

 private:
  friend struct WindowProcAccess;
  struct CurrentMessage {
    unsigned message = 0;
    MsgParam wParam = 0;
    MsgLParam lParam = 0;
  };
  CurrentMessage current_;
};

class CFrameWnd : public CWnd {
 public:
  struct Rect {
    int left, top, right, bottom;
  };
  // className null means the framework's own registered frame class. The
  // window has no parent, no menu, extended style 0 and no creation context.
  bool Create(const char* className, const char* title, std::uint32_t style, const Rect& rect);

  const MessageMap* GetMessageMap() const override;

 protected:
  static const MessageMap messageMap_;
};

class CWinApp {
 public:
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual bool InitInstance();
  // Runs the message loop until the main window is destroyed; returns the
  // quit code (0), or -1 when GetMessage fails.
  virtual int Run();
  // After the loop: deletes the main window object.
  virtual void ExitInstance();

  // The main window, set by InitInstance; the application owns it from then
  // on and deletes it in ExitInstance.
  CWnd* m_pMainWnd = nullptr;
};

// The one application object, registered by its constructor.
CWinApp* AfxGetApp();

}  // namespace qm

// --- message map macros ---
#define DECLARE_MESSAGE_MAP()                         \
 protected:                                           \
  static const ::qm::MessageMap messageMap_;          \
                                                      \
 public:                                              \
  const ::qm::MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(ThisClass, BaseClass)                                         \
  const ::qm::MessageMap* ThisClass::GetMessageMap() const { return &messageMap_; }     \
  namespace qm_map_##ThisClass {                                                        \
  using MapClass = ThisClass;                                                           \
  using MapBase = BaseClass;                                                            \
  static const ::qm::MessageMapEntry entries[] = {

#define END_MESSAGE_MAP(ThisClass)                                                      \
  {0, nullptr}};                                                                         \
  }                                                                                      \
  const ::qm::MessageMap ThisClass::messageMap_ = {&qm_map_##ThisClass::MapBase::messageMap_, \
                                                   qm_map_##ThisClass::entries};

// void OnTimer(std::uintptr_t timerId)
#define ON_WM_TIMER()                                                                  \
  {::qm::win::kWmTimer, [](::qm::CWnd* w, ::qm::MsgParam wp, ::qm::MsgLParam) {          \
     static_cast<MapClass*>(w)->OnTimer(static_cast<std::uintptr_t>(wp));              \
   }},
// void OnPaint()
#define ON_WM_PAINT() \
  {::qm::win::kWmPaint, [](::qm::CWnd* w, ::qm::MsgParam, ::qm::MsgLParam) { static_cast<MapClass*>(w)->OnPaint(); }},
// void OnMouseMove(unsigned flags, CPoint point)
#define QM_ON_MOUSE_MESSAGE(message, Handler)                                          \
  {message, [](::qm::CWnd* w, ::qm::MsgParam wp, ::qm::MsgLParam lp) {                 \
     ::qm::CPoint point;                                                               \
     point.x = static_cast<short>(lp & 0xFFFF);                                        \
     point.y = static_cast<short>((lp >> 16) & 0xFFFF);                                \
     static_cast<MapClass*>(w)->Handler(static_cast<unsigned>(wp), point);             \
   }},
#define ON_WM_MOUSEMOVE() QM_ON_MOUSE_MESSAGE(::qm::win::kWmMouseMove, OnMouseMove)
// void OnLButtonDown(unsigned flags, CPoint point)
#define ON_WM_LBUTTONDOWN() QM_ON_MOUSE_MESSAGE(::qm::win::kWmLButtonDown, OnLButtonDown)
