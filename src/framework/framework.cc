// The application framework's portable part: the application object and the start-up order.
#include "framework/framework.h"

#include <new>

#include "os/dialog.h"
#include "os/registry.h"

namespace {
CWinApp* g_app = nullptr;
}  // namespace

CWinApp::CWinApp(const char* appName) : m_strAppName(appName ? appName : "") { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

int CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(const char* registryKey) {
  m_strRegistryKey = registryKey ? registryKey : "";
  m_strProfileName = m_strAppName;
}

bool CWinApp::WriteProfileInt(const char* section, const char* entry, int value) {
  if (m_strRegistryKey.empty()) return false;
  const uint32_t access = os::kKeyRead | os::kKeyWrite;
  os::RegKey software, company, application, sectionKey;
  if (software.Open(os::Hive::kCurrentUser, "software", access) != os::kErrorSuccess ||
      company.Create(software, m_strRegistryKey.c_str(), nullptr, access) != os::kErrorSuccess ||
      application.Create(company, m_strProfileName.c_str(), nullptr, access) != os::kErrorSuccess ||
      sectionKey.Create(application, section, nullptr, access) != os::kErrorSuccess) {
    return false;
  }
  return sectionKey.WriteDword(entry, static_cast<uint32_t>(value)) == os::kErrorSuccess;
}

CWinApp* AfxGetApp() { return g_app; }

int AfxMessageBox(const char* text, unsigned type, unsigned /*helpContext*/) {
  const char* caption = g_app ? g_app->m_strAppName.c_str() : "";
  return os::ShowMessageBox(caption, text, type);
}

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 0;
  // No message loop: whatever the start-up routine answers, the program ends after it.
  try {
    app->InitInstance();
  } catch (const std::bad_alloc&) {
    // Out of memory where no step handles it: the run ends here, as a refused one would, and
    // the log still closes with its banner.
  }
  return app->ExitInstance();
}
