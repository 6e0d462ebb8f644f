// The program's two global objects, in the one order that puts the log around everything else.
#include "app/orvapatch_app.h"
#include "log/setup_log.h"

CSetupLog theLog;
COrvaPatchApp theApp;
