// Runs one configuration update, for timing: config_bench TEMPLATE CONFIGURATION (Windows paths,
// under the machine root of ORVAPATCH_ROOT on POSIX). Exit status 0 when the configuration opened.
#include <cstdio>

#include "config/configuration.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: config_bench TEMPLATE CONFIGURATION\n");
    return 2;
  }
  return UpdateConfigurationFile(argv[1], argv[2]) == 1 ? 0 : 1;
}
