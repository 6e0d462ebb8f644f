// The application framework's portable part: the application object and the start-up order.
#include "platform/framework.h"

#include "platform/dialog.h"

namespace {
CWinApp* g_app = nullptr;
}  // namespace

CWinApp::CWinApp(const char* appName) : m_strAppName(appName ? appName : "") { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

int CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_app; }

int AfxMessageBox(const char* text, unsigned type, unsigned /*helpContext*/) {
  const char* caption = g_app ? g_app->m_strAppName.c_str() : "";
  return platform::ShowMessageBox(caption, text, type);
}

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 0;
  // No message loop: whatever the start-up routine answers, the program ends after it.
  app->InitInstance();
  return app->ExitInstance();
}
