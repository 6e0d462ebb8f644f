// The program's two global objects, in the one order that puts the log around everything else,
// and its entry point.
#include "app/orvapatch_app.h"
#include "framework/framework.h"
#include "log/setup_log.h"

CSetupLog theLog;
COrvaPatchApp theApp;

// Both builds start here: the Windows C runtime calls main too, and the program is a windowed one
// by its link (-mwindows), so no console opens.
int main() { return AfxWinMain(); }
