#include "app/MyApp.h"

#include <memory>

#include "app/LauncherState.h"
#include "app/StartSequence.h"
#include "app/Startup.h"
#include "app/Watch.h"

namespace qm {

MyApp theApp;

bool MyApp::InitInstance() {
  auto frame = std::make_unique<MyFrame>();
  // Nothing to watch: the application ends without a message loop.
  if (!LauncherState.keepRunning) return false;
  m_pMainWnd = frame.release();  // the application's from now on
  return true;
}

void MyApp::ExitInstance() {
  FinishAfterMessageLoop(m_pMainWnd != nullptr ? m_pMainWnd->GetSafeHwnd() : 0);
  CWinApp::ExitInstance();
}

MyFrame::MyFrame() {
  FrameRect rect = ComputeFrameRect();
  // The result is not looked at: the start-up runs whether or not the
  // window exists.
  Create(nullptr, kFrameTitle, kFrameStyle, {rect.left, rect.top, rect.right, rect.bottom});
  RunFrameStartup(GetSafeHwnd());
}

BEGIN_MESSAGE_MAP(MyFrame, CFrameWnd)
ON_WM_TIMER()
ON_WM_PAINT()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP(MyFrame)

void MyFrame::OnTimer(std::uintptr_t timerId) { WatchTick(GetSafeHwnd(), timerId); }

void MyFrame::OnMouseMove(unsigned, CPoint) { Default(); }

void MyFrame::OnLButtonDown(unsigned, CPoint) { Default(); }

}  // namespace qm
