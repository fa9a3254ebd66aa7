// Prints the time of a whole run on the simulated machine with 10, 1,000 and
// 15,000 one-letter arguments (a small package, "/s" among them so that every
// scan walks the whole list), with its goals: time per argument flat (15,000
// at most 1.5 times 15 times the 1,000 run) and under 50 ms at 15,000.
// Figures, not a test.
#include <chrono>
#include <cstdio>
#include <string>

#include "launcher/main_sequence.h"
#include "platform/sim/sim_machine.h"
#include "tests/helpers/test_packages.h"

namespace {

double RunWith(int count, const packaging::Bytes& package) {
  std::string arguments;
  for (int i = 0; i < count; ++i) arguments += i == count / 2 ? "/s " : "x ";
  double best = 1e9;
  for (int attempt = 0; attempt < 3; ++attempt) {
    sim::Machine machine;
    machine.administrator = true;
    testing_support::PlacePackage(&machine, package, arguments);
    const auto start = std::chrono::steady_clock::now();
    testing_support::RunLauncherOn(&machine);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (machine.starts.size() != 1) std::fprintf(stderr, "run with %d arguments did not start\n", count);
    if (seconds < best) best = seconds;
  }
  return best;
}

}  // namespace

int main() {
  const packaging::Bytes package = testing_support::GoodPackage().bytes;
  const double t10 = RunWith(10, package), t1000 = RunWith(1000, package), t15000 = RunWith(15000, package);
  std::printf("command line on the simulated machine (whole run, best of 3):\n");
  std::printf("  %6d arguments: %8.2f ms\n", 10, t10 * 1000);
  std::printf("  %6d arguments: %8.2f ms\n", 1000, t1000 * 1000);
  std::printf("  %6d arguments: %8.2f ms (goal under 50 ms: %s)\n", 15000, t15000 * 1000,
              t15000 < 0.050 ? "met" : "not met");
  const double ratio = (t15000 - t10) / (t1000 - t10) / 15.0;
  std::printf("  growth beyond the 10-argument run, 15,000 vs 1,000, per argument: %.2fx "
              "(goal at most 1.5x: %s)\n", ratio, ratio <= 1.5 ? "met" : "not met");
  return 0;
}
