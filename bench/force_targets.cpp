// A library for measuring only, preloaded by bench/run_benchmark.sh when KESTRANE_BENCH_TARGET
// is set: it makes Highway take the named target (AVX2, SSE4, SSSE3 or SCALAR) and those below
// it in the process, as a processor without the wider ones would, so that a run can be timed
// as it goes on such a machine. Every target gives the same bits; only the time differs.
#include <hwy/targets.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::int64_t targets_up_to(const char* name) {
  const std::int64_t below_ssse3 = HWY_EMU128 | HWY_SCALAR;
  if (std::strcmp(name, "AVX2") == 0) return HWY_AVX2 | HWY_SSE4 | HWY_SSSE3 | below_ssse3;
  if (std::strcmp(name, "SSE4") == 0) return HWY_SSE4 | HWY_SSSE3 | below_ssse3;
  if (std::strcmp(name, "SSSE3") == 0) return HWY_SSSE3 | below_ssse3;
  if (std::strcmp(name, "SCALAR") == 0) return below_ssse3;
  return 0;
}

__attribute__((constructor)) void force_target() {
  const char* name = std::getenv("KESTRANE_BENCH_TARGET");
  if (name == nullptr || *name == '\0') return;
  const std::int64_t targets = targets_up_to(name);
  if (targets == 0) {
    std::fprintf(stderr, "force_targets: unknown target '%s' (AVX2, SSE4, SSSE3, SCALAR)\n", name);
    std::exit(2);
  }
  hwy::SetSupportedTargetsForTest(targets);
  // Settled now, as the first dispatch on such a processor would settle it, so that no call
  // goes through Highway's chooser.
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace
