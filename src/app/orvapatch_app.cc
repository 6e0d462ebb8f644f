// The main sequence of the patch launcher.
#include "app/orvapatch_app.h"

#include "app/product_family.h"
#include "app/run_program.h"

namespace {

const char kDefaultInstallPath[] = "C:\\WORVA32\\";
const char kInstallerName[] = "K220_V2014_V2014.4.2.exe";
const int kShowNormal = 1;

}  // namespace

COrvaPatchApp::COrvaPatchApp() = default;

COrvaPatchApp::~COrvaPatchApp() = default;

int COrvaPatchApp::InitInstance() {
  CWinApp::InitInstance();
  m_strInstallPath = kDefaultInstallPath;
  InitProductFamily(*this);
  RunProgram(kInstallerName, "", kShowNormal, 1);
  return 0;
}
