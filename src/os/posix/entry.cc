// The POSIX entry point.
#include "framework/framework.h"

int main() { return AfxWinMain(); }
