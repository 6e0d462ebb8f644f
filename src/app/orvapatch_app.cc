// The main sequence of the patch launcher.
#include "app/orvapatch_app.h"

#include <new>

#include "app/product_family.h"
#include "app/released_installer.h"
#include "app/run_account.h"
#include "app/run_event.h"
#include "app/run_program.h"
#include "config/configuration.h"
#include "log/setup_log.h"
#include "os/account.h"
#include "os/dialog.h"
#include "os/watchdog.h"
#include "version/check_version.h"

namespace {

const char kDefaultInstallPath[] = "C:\\WORVA32\\";
const char kInstallerName[] = "K220_V2014_V2014.4.2.exe";
const int kShowNormal = 1;   // SW_SHOWNORMAL
const int kWaitForExit = 1;  // RunProgram blocks until the installer ends
// The administrator's texts are written in cp1252 with \x escapes, split where a hex digit
// follows one; the formatter would put each piece on a line of its own.
// clang-format off
const char kRefusal[] =
    "Vous devez avoir pr\xE9" "alablement install\xE9 K220 V2014, V2014.1, V2014.2, V2014.3 et "
    "V2014.4 pour installer ce patch!\n\nVeuillez v\xE9rifier votre installation ORVANE!";
// clang-format on

}  // namespace

COrvaPatchApp::COrvaPatchApp() = default;

COrvaPatchApp::~COrvaPatchApp() = default;

int COrvaPatchApp::InitInstance() {
  CWinApp::InitInstance();
  RunReport run;
  TrackRun(&m_strAppName, &run);
  try {
    RunSequence(&run);
  } catch (const std::bad_alloc&) {
    // Out of memory where no step handles it: the run ends here, and its event says so.
    run.outOfMemory = true;
  } catch (...) {
    // Whatever else is thrown ends the run here too, never the process without its event. The
    // library throws for memory alone in this code: a string asked to hold more than it can
    // (std::length_error) is memory that runs short, and the event says so.
    run.outOfMemory = true;
  }
  ReportRun(m_strAppName, run);
  TrackRun(nullptr, nullptr);
  return 0;
}

void COrvaPatchApp::RunSequence(RunReport* run) {
  m_strInstallPath = kDefaultInstallPath;
  // First: family detection reads HKEY_CURRENT_USER already.
  ChooseAccount(&run->account);
  InitProductFamily(*this);
  run->accepted = CheckVersion(*this, &run->check) != 0;
  run->checked = true;
  if (!run->accepted) {
    // Refused: nothing of the product is touched; the log holds the reasons. Where nobody can
    // see a box, none is shown and the run ends at once. The administrator takes their time.
    os::UnboundedWait reading;
    AfxMessageBox(kRefusal, os::kMbOk | os::kMbIconHand, 0);
    return;
  }
  // Neither result changes the road; both go into the run's event. The product's files are
  // the user's: updated with their rights, or not at all.
  {
    os::UserRights rights;
    if (rights.Held()) UpdateConfiguration(m_strInstallPath, &run->config);
  }
  run->installerExitCode =
      RunProgram(kInstallerName, "", kShowNormal, kWaitForExit, &run->installerStart,
                 &theLog.SharedFile(), ReleasedInstallerSha256());
}
