// Times the log's append and its shortening of a log just over 1 MiB, in milliseconds per write.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/setup_log.h"

namespace {

double Millis(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Fill(const std::string& hostPath, long long size) {
  std::string line = "12:00:00 - SoftVersion dans la base de regsitre - 2014.4\r\n";
  FILE* f = std::fopen(hostPath.c_str(), "wb");
  for (long long n = 0; n < size; n += static_cast<long long>(line.size()))
    std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: log_bench <machine root>\n");
    return 2;
  }
  setenv("ORVAPATCH_ROOT", argv[1], 1);
  std::string host = std::string(argv[1]) + "/drive_c/bench.log";
  const int rounds = 200;
  CSetupLog log;
  Fill(host, 0);
  log.OpenFile("C:\\bench.log", 0);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) log.Log("SoftVersion dans la base de regsitre - %s", "2014.4");
  double append = Millis(std::chrono::steady_clock::now() - start) / rounds;
  std::chrono::steady_clock::duration shortening{};
  for (int i = 0; i < rounds / 10; ++i) {
    log.OpenFile("C:\\other.log", 0);
    Fill(host, CSetupLog::kMaxLength + 100);
    log.OpenFile("C:\\bench.log", 0);
    start = std::chrono::steady_clock::now();
    log.Log("SoftVersion dans la base de regsitre - %s", "2014.4");
    shortening += std::chrono::steady_clock::now() - start;
  }
  std::printf("log_append_ms %.4f\nlog_shorten_ms %.4f\n", append,
              Millis(shortening) / (rounds / 10));
  return 0;
}
