// The POSIX entry point.
#include "platform/framework.h"

int main() { return AfxWinMain(); }
