/* The control of the planting test: a program that loads the version library by its bare name
   with the default search, as an unhardened program would. Exit status 0 when it loaded. */
#include <windows.h>

int main(void) { return LoadLibraryA("version.dll") != NULL ? 0 : 1; }
