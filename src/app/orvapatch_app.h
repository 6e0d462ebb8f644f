// The launcher's application object: its start-up routine is the whole patch.
#pragma once

#include <string>

#include "framework/framework.h"

struct RunReport;

class COrvaPatchApp : public CWinApp {
 public:
  COrvaPatchApp();
  ~COrvaPatchApp() override;

  // The main sequence; answers 0 on every road, so no message loop runs.
  int InitInstance() override;

  std::string m_strSettingsKey;  // set by family detection
  std::string m_strInstallPath;  // the product's directory, with a trailing backslash

 private:
  // The stages of the main sequence, each told in |run| as far as it got.
  void RunSequence(RunReport* run);
};

extern COrvaPatchApp theApp;
