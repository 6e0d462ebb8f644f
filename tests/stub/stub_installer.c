/* A stand-in for the patch installer: records how it was started, then exits with a chosen code.
   STUB_RECORD: file to write; STUB_EXIT: exit code (decimal, may be 4294967295);
   STUB_SLEEP_MS: time to wait before writing the last line "done"; STUB_WAIT_FOR: a file whose
   existence the stub then waits for too (up to two minutes); STUB_CHILD_MS: a program of its own
   to leave running that long after it ends (itself again, without a record). The record names
   its Temp folders (TEMP's and TMP's), the stub's own file, the current directory and every
   regular file the stub holds open from its start, which it can only have inherited. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#define SLEEP_MS(ms) Sleep(ms)
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#define SLEEP_MS(ms) usleep((ms) * 1000u)
#endif

#define MAX_INHERITED 16

/* Fills |paths| with the paths of the open regular files, as the system names them; returns how
   many. Called before the stub opens anything itself. */
static int InheritedFiles(char paths[MAX_INHERITED][1024]) {
  int count = 0;
#ifdef _WIN32
  /* Handle values are multiples of 4; a fresh process holds few, with low values. */
  ULONG_PTR value;
  for (value = 4; value < 0x4000 && count < MAX_INHERITED; value += 4) {
    HANDLE handle = (HANDLE)value;
    BY_HANDLE_FILE_INFORMATION info;
    char* path = paths[count];
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      continue;
    }
    if (!GetFinalPathNameByHandleA(handle, path, 1024, 0)) continue;
    if (strncmp(path, "\\\\?\\", 4) == 0) memmove(path, path + 4, strlen(path + 4) + 1);
    ++count;
  }
#else
  DIR* fds = opendir("/proc/self/fd");
  struct dirent* entry;
  int own = fds ? dirfd(fds) : -1;
  while (fds && (entry = readdir(fds)) != NULL && count < MAX_INHERITED) {
    char link[64];
    ssize_t n;
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd < 3 || fd == own) continue; /* the standard streams stay */
    snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    struct stat st;
    n = readlink(link, paths[count], 1023);
    /* pipes, sockets and folders, which Windows leaves out too */
    if (n <= 0 || paths[count][0] != '/' || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    paths[count][n] = '\0';
    ++count;
  }
  if (fds) closedir(fds);
#endif
  return count;
}

/* Leaves a program of its own running for |ms| milliseconds: itself, with no record to write. */
static void StartChild(const char* ms) {
#ifdef _WIN32
  char self[1024];
  STARTUPINFOA startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  GetModuleFileNameA(NULL, self, sizeof(self));
  SetEnvironmentVariableA("STUB_SLEEP_MS", ms);
  SetEnvironmentVariableA("STUB_CHILD_MS", NULL);
  SetEnvironmentVariableA("STUB_RECORD", NULL);
  if (CreateProcessA(self, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
#else
  if (fork() == 0) {
    SLEEP_MS((unsigned)strtoul(ms, NULL, 10));
    _exit(0);
  }
#endif
}

int main(int argc, char** argv) {
  const char* record = getenv("STUB_RECORD");
  const char* code = getenv("STUB_EXIT");
  const char* sleep_ms = getenv("STUB_SLEEP_MS");
  const char* wait_for = getenv("STUB_WAIT_FOR");
  static char inherited[MAX_INHERITED][1024];
  int inheritedCount = InheritedFiles(inherited);
  FILE* out = record ? fopen(record, "wb") : NULL;
  if (out) {
    int i;
    char cwd[1024] = "";
    char self[1024] = "";
#ifdef _WIN32
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    fprintf(out, "cmdline=[%s]\n", GetCommandLineA());
    fprintf(out, "show=%u\n", (unsigned)((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : 0xFFFF));
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    GetModuleFileNameA(NULL, self, sizeof(self));
#else
    if (!getcwd(cwd, sizeof(cwd))) cwd[0] = '\0';
    if (readlink("/proc/self/exe", self, sizeof(self) - 1) < 0) self[0] = '\0';
#endif
    fprintf(out, "temp=[%s]\ntmp=[%s]\n", getenv("TEMP") ? getenv("TEMP") : "",
            getenv("TMP") ? getenv("TMP") : "");
    fprintf(out, "exe=[%s]\n", self);
    fprintf(out, "cwd=[%s]\n", cwd);
    for (i = 0; i < inheritedCount; ++i) fprintf(out, "inherited=[%s]\n", inherited[i]);
    fprintf(out, "argc=%d\n", argc);
    for (i = 1; i < argc; ++i) fprintf(out, "arg%d=[%s]\n", i, argv[i]);
    fflush(out);
  }
  if (getenv("STUB_CHILD_MS")) StartChild(getenv("STUB_CHILD_MS"));
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
