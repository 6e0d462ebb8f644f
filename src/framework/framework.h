// The small application framework: one application object whose start-up routine is the program.
#pragma once

#include <string>

// The application class. The one object of a derived class is a global; the platform's entry
// point calls its InitInstance and, when that answers false, runs no message loop and returns
// ExitInstance's result as the exit status, so the globals are destroyed in reverse order.
class CWinApp {
 public:
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Base start-up routine; always succeeds.
  virtual int InitInstance();
  // Default exit routine; its result is the exit status.
  virtual int ExitInstance();

  // Keeps the profile settings in the registry from now on, under
  // HKEY_CURRENT_USER\software\<registryKey>\<the current application name>.
  void SetRegistryKey(const char* registryKey);

  // Stores |value| as the REG_DWORD |entry| of the profile section |section|, creating the keys
  // below "software" that are missing. False when it could not be stored, or when no registry
  // key has been set (the program keeps no settings file).
  bool WriteProfileInt(const char* section, const char* entry, int value);

  // The application name: caption of every message box.
  std::string m_strAppName;
  // The settings key and the profile name, as SetRegistryKey took them.
  std::string m_strRegistryKey;
  std::string m_strProfileName;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();

// A modal message box captioned with the application name (help context unused).
int AfxMessageBox(const char* text, unsigned type, unsigned helpContext);

// The body of the platform's entry point: start-up routine, no message loop, exit status.
int AfxWinMain();
