// The program's two global objects, in the one order that puts the log around everything else,
// and its entry point.
#include "app/orvapatch_app.h"
#include "app/run_event.h"
#include "framework/framework.h"
#include "log/setup_log.h"

// The watchdog watches from before the log opens: no step of the run, the log's own included,
// waits past its patience for another program.
namespace {
struct Watch {
  Watch() { WatchRun(); }
};
__attribute__((init_priority(102))) Watch g_watch;
}  // namespace

CSetupLog theLog;
COrvaPatchApp theApp;

// Both builds start here: the Windows C runtime calls main too, and the program is a windowed one
// by its link (-mwindows), so no console opens.
int main() { return AfxWinMain(); }
