// How the OpenMP team's idle threads wait. The runtime's default spins for
// milliseconds at every barrier and between parallel regions before it
// sleeps; on a machine that other processes keep busy, those spinning threads
// take the cores the working ones need, and the short passes of a turn-rooted
// tree took ten times as long. The engine asks for passive waiting instead,
// unless the user chose a policy.
//
// The runtime reads its settings once, at load time. It is linked into the
// program (see CMakeLists.txt), and a constructor with a priority runs ahead of
// those without one, so the setting below is in place when it reads. With a
// shared runtime this runs too late and changes nothing: the user's
// environment then decides alone.
#include <cstdlib>

namespace {

// An empty variable counts as unset.
bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

[[gnu::constructor(101)]] void DefaultToPassiveWaiting() {
  if (IsSet("OMP_WAIT_POLICY") || IsSet("GOMP_SPINCOUNT")) return;
  setenv("OMP_WAIT_POLICY", "passive", 1);
}

}  // namespace
