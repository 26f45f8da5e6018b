// The launcher's application object and hidden main window, on the window
// framework. All their decisions are made by the start-up and watch code.
#pragma once

#include <cstdint>

#include "framework/Framework.h"

namespace qm {

class MyApp : public CWinApp {
 public:
  MyApp() : CWinApp(nullptr) {}
  ~MyApp() override {}
  bool InitInstance() override;
  // Whatever ended the loop, a tool still on disk is cleaned up first.
  void ExitInstance() override;
};

class MyFrame : public CFrameWnd {
 public:
  // Creates the hidden window and runs the whole start-up.
  MyFrame();
  ~MyFrame() override {}

  void OnTimer(std::uintptr_t timerId);
  void OnMouseMove(unsigned flags, CPoint point);
  void OnLButtonDown(unsigned flags, CPoint point);

  DECLARE_MESSAGE_MAP()
};

extern MyApp theApp;

}  // namespace qm
