/* Another program holding a file open with no sharing for a while: hold_file FILE MS opens FILE
   so that nobody else may open it (on POSIX an exclusive flock, which the program's POSIX build
   takes for that), creates FILE.held once it holds it, waits MS milliseconds, then lets go.
   hold_file FILE MS shared holds it as a viewer does, letting others read and write it (on POSIX
   with no lock). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  char mark[1024];
  FILE* ready;
  unsigned long ms;
  int shared = argc == 4 && strcmp(argv[3], "shared") == 0;
  if ((argc != 3 && !shared) || strlen(argv[1]) + sizeof(".held") > sizeof(mark)) {
    fputs("usage: hold_file FILE MS [shared]\n", stderr);
    return 2;
  }
  ms = strtoul(argv[2], NULL, 10);
  {
#ifdef _WIN32
    HANDLE held = CreateFileA(argv[1], GENERIC_READ,
                              shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0, NULL, OPEN_EXISTING,
                              0, NULL);
    if (held == INVALID_HANDLE_VALUE) return 1;
#else
    int held = open(argv[1], O_RDONLY);
    if (held < 0 || (!shared && flock(held, LOCK_EX | LOCK_NB) != 0)) return 1;
#endif
    /* The mark tells the caller that the file is held from now on. */
    snprintf(mark, sizeof(mark), "%s.held", argv[1]);
    ready = fopen(mark, "wb");
    if (ready == NULL) return 1;
    fclose(ready);
#ifdef _WIN32
    Sleep(ms);
    CloseHandle(held);
#else
    {
      struct timespec wait;
      wait.tv_sec = (time_t)(ms / 1000);
      wait.tv_nsec = (long)(ms % 1000) * 1000000L;
      nanosleep(&wait, NULL);
    }
    close(held);
#endif
  }
  return 0;
}
