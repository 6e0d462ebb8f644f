/* A stand-in for the patch installer: records how it was started, then exits with a chosen code.
   STUB_RECORD: file to write; STUB_EXIT: exit code (decimal, may be 4294967295);
   STUB_SLEEP_MS: time to wait before writing the last line "done"; STUB_WAIT_FOR: a file whose
   existence the stub then waits for too (up to two minutes). */
#include <stdio.h>
#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#define SLEEP_MS(ms) Sleep(ms)
#else
#include <unistd.h>
#define SLEEP_MS(ms) usleep((ms) * 1000u)
#endif

int main(int argc, char** argv) {
  const char* record = getenv("STUB_RECORD");
  const char* code = getenv("STUB_EXIT");
  const char* sleep_ms = getenv("STUB_SLEEP_MS");
  const char* wait_for = getenv("STUB_WAIT_FOR");
  FILE* out = record ? fopen(record, "wb") : NULL;
  if (out) {
    int i;
#ifdef _WIN32
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    fprintf(out, "cmdline=[%s]\n", GetCommandLineA());
    fprintf(out, "show=%u\n", (unsigned)((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 0xFFFF));
#endif
    fprintf(out, "argc=%d\n", argc);
    for (i = 1; i < argc; ++i) fprintf(out, "arg%d=[%s]\n", i, argv[i]);
    fflush(out);
  }
  if (sleep_ms) SLEEP_MS((unsigned)strtoul(sleep_ms, NULL, 10));
  if (wait_for) {
    FILE* flag = NULL;
    int waited;
    for (waited = 0; waited < 120000 && (flag = fopen(wait_for, "rb")) == NULL; waited += 50) {
      SLEEP_MS(50);
    }
    if (flag) fclose(flag);
  }
  if (out) {
    fputs("done\n", out);
    fclose(out);
  }
  return code ? (int)strtoul(code, NULL, 10) : 0;
}
