// The exact per-hand end-node kernels against a plain scalar walk that performs
// the same additions in the same order: the results must agree to the bit in
// both builds (the fold's add-back fused in the AVX2 build, separate in the AVX
// build). Random hand lists of every length modulo 4, reach that is empty,
// sparse, dense or full, and strength groups that do or do not cover the list.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu_features.h"
#include "solver/terminal_kernels.h"
#include "support/kernel_builds.h"

namespace {

struct Hands {
  std::vector<uint16_t> cards;
  std::vector<int16_t> groups;
};

// n two-card hands (random, repeats allowed) in random strength groups. With
// covering false the sizes include zeros and negatives and need not add up to
// n; the kernels then read them as their runs (below).
Hands RandomHands(std::mt19937& rng, int32_t n, bool covering) {
  Hands h;
  std::uniform_int_distribution<int> card(0, 51);
  for (int32_t i = 0; i < n; ++i) {
    int a = card(rng), b = card(rng);
    while (b == a) b = card(rng);
    if (a > b) std::swap(a, b);
    h.cards.push_back(static_cast<uint16_t>(a | b << 8));
  }
  std::uniform_int_distribution<int> size(1, 16);
  for (int32_t left = n; left > 0;) {
    int s = std::min(left, rng() % 4 == 0 ? 1 : size(rng));
    h.groups.push_back(static_cast<int16_t>(s));
    left -= s;
  }
  if (!covering) {
    h.groups.insert(h.groups.begin() + static_cast<long>(rng() % (h.groups.size() + 1)), 0);
    h.groups.insert(h.groups.begin() + static_cast<long>(rng() % (h.groups.size() + 1)), -3);
    if (rng() % 2)
      h.groups.back() = static_cast<int16_t>(h.groups.back() + 5);  // past n
    else if (h.groups.size() > 1)
      h.groups.pop_back();  // short of n
  }
  return h;
}

// The group sizes as runs over n hands, as the kernels read them: sizes of zero
// or below are skipped, a run never passes n, hands past the listed groups form
// one last run.
std::vector<std::pair<int32_t, int32_t>> Runs(const std::vector<int16_t>& groups, int32_t n) {
  std::vector<std::pair<int32_t, int32_t>> runs;
  int32_t pos = 0;
  for (size_t g = 0; pos < n; ++g) {
    int32_t size = g < groups.size() ? groups[g] : n - pos;
    if (size <= 0) continue;
    size = std::min(size, n - pos);
    runs.push_back({pos, pos + size});
    pos += size;
  }
  return runs;
}

// The scalar reference, one build's multiply-add.
struct Reference {
  bool fused;
  double MulAdd(double a, double b, double c) const { return fused ? std::fma(a, b, c) : a * b + c; }

  static int Low(uint16_t pair) { return pair & 0xFF; }
  static int High(uint16_t pair) { return pair >> 8; }

  // Card sums of the counted payoffs v * in[j] (in[j] > 0): even and odd
  // entries in two tables, each in entry order, then added; the total from the
  // 52 sums in four lanes of thirteen, lanes added pairwise, halved.
  static double Collect(const std::vector<double>& in, const Hands& h, double v, double* s) {
    double part[2][52] = {};
    int k = 0;
    for (size_t j = 0; j < in.size(); ++j) {
      if (!(in[j] > 0.0)) continue;
      const double x = v * in[j];
      part[k & 1][Low(h.cards[j])] += x;
      part[k & 1][High(h.cards[j])] += x;
      ++k;
    }
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    for (int c = 0; c < 52; ++c) {
      s[c] = part[0][c] + part[1][c];
      lane[c % 4] += s[c];
    }
    return 0.5 * ((lane[0] + lane[1]) + (lane[2] + lane[3]));
  }

  // The showdown walk, one strength group after the other.
  static void Walk(double* out, const std::vector<double>& in, const Hands& h, double v,
                   const double* p, double pt, double f) {
    const int32_t n = static_cast<int32_t>(in.size());
    double s[52];
    for (int c = 0; c < 52; ++c) s[c] = -p[c];
    double t = -pt;
    for (const auto& [begin, end] : Runs(h.groups, n)) {
      bool any = false;
      double sum = 0.0;
      for (int32_t j = begin; j < end; ++j) {
        if (!(in[j] > 0.0)) continue;
        const double x = v * in[j];
        s[Low(h.cards[j])] += x;
        s[High(h.cards[j])] += x;
        sum += x;
        any = true;
      }
      if (any) t += sum;
      for (int32_t i = begin; i < end; ++i)
        out[i] = f * ((t - s[Low(h.cards[i])]) - s[High(h.cards[i])]);
      if (!any) continue;
      for (int32_t j = begin; j < end; ++j) {
        if (!(in[j] > 0.0)) continue;
        const double x = v * in[j];
        s[Low(h.cards[j])] += x;
        s[High(h.cards[j])] += x;
      }
      t += sum;
    }
  }

  void Fill(double* out, const std::vector<double>& in, const Hands& h, double t, const double* s,
            double v) const {
    for (size_t i = 0; i < in.size(); ++i)
      out[i] = MulAdd(v, in[i] > 0.0 ? in[i] : 0.0,
                      (t - s[Low(h.cards[i])]) - s[High(h.cards[i])]);
  }

  void Fold(double* out, const std::vector<double>& in, const Hands& h, double v) const {
    double s[52];
    const double t = Collect(in, h, v, s);
    if (std::fabs(t) <= kFoldTotalFloor) return Zeros(out, in.size());
    Fill(out, in, h, t, s, v);
  }
  void Showdown(double* out, const std::vector<double>& in, const Hands& h, double v) const {
    double p[52];
    const double pt = Collect(in, h, v, p);
    if (std::fabs(pt) <= kShowdownTotalFloor) return Zeros(out, in.size());
    Walk(out, in, h, v, p, pt, 1.0);
  }
  void ShowdownAndFold(double* out_a, double* out_b, const std::vector<double>& in,
                       const Hands& h, double a, double b) const {
    double p[52];
    const double pt = Collect(in, h, 1.0, p);
    if (std::fabs(pt) <= kShowdownTotalFloor) {
      Zeros(out_a, in.size());
      return Zeros(out_b, in.size());
    }
    Walk(out_a, in, h, 1.0, p, pt, a);
    for (double& x : p) x *= b;
    Fill(out_b, in, h, b * pt, p, b);
  }
  void Pair(double* out_a, double* out_b, const std::vector<double>* in_a,
            const std::vector<double>* in_b, const Hands& h, double a, double b) const {
    const size_t n = h.cards.size();
    double w[52], q[52];
    const double wt = in_a ? Collect(*in_a, h, a, w) : 0.0;
    const double qt = in_b ? Collect(*in_b, h, b, q) : 0.0;
    if (std::fabs(wt) <= kShowdownTotalFloor && std::fabs(qt) <= kShowdownTotalFloor) {
      Zeros(out_a, n);
      return Zeros(out_b, n);
    }
    if (in_a)
      Walk(out_a, *in_a, h, a, w, wt, 1.0);
    else
      Zeros(out_a, n);
    if (in_b)
      Fill(out_b, *in_b, h, qt, q, b);
    else
      Zeros(out_b, n);
  }
  static void Zeros(double* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = 0.0;
  }
};

using Build = BuildUnderTest<TerminalKernels>;
std::vector<Build> Builds() {
  return BuildsUnderTest(isa_avx::kTerminalKernels,
                         isa_avx2::kTerminalKernels, isa_avx512::kTerminalKernels);
}

// Reach with the share `density` of entries above zero; the others zero, -0.0
// or NaN (all skipped).
std::vector<double> Reach(std::mt19937& rng, int32_t n, double density) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> r(static_cast<size_t>(n));
  for (double& x : r) {
    if (u(rng) < density) {
      x = u(rng) < 0.1 ? 1e-7 * u(rng) : 0.05 + u(rng);
    } else {
      const double pick = u(rng);
      x = pick < 0.8 ? 0.0 : pick < 0.9 ? -0.0 : std::nan("");
    }
  }
  return r;
}

void ExpectSameBits(const std::vector<double>& got, const std::vector<double>& want,
                    const std::string& what) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i)
    ASSERT_EQ(std::memcmp(&got[i], &want[i], sizeof(double)), 0)
        << what << " hand " << i << ": " << got[i] << " vs " << want[i];
}

TEST(TerminalKernelsExact, BuildsMatchTheScalarWalkBitForBit) {
  std::mt19937 rng(4711);
  std::vector<int32_t> sizes;
  for (int32_t n = 1; n <= 24; ++n) sizes.push_back(n);
  for (int32_t n : {61, 62, 63, 64, 403, 404, 405, 406, 1081}) sizes.push_back(n);
  const double densities[] = {0.0, 0.005, 0.05, 0.3, 0.7, 0.97, 1.0};
  const std::vector<Build> builds = Builds();
  for (int32_t n : sizes) {
    for (bool covering : {true, false}) {
      const Hands h = RandomHands(rng, n, covering);
      const auto gc = static_cast<int32_t>(h.groups.size());
      for (double density : densities) {
        const std::vector<double> ra = Reach(rng, n, density), rb = Reach(rng, n, density);
        const double a = rng() % 5 == 0 ? -2.5 : 1.75, b = rng() % 2 ? -0.75 : 3.0;
        for (const Build& build : builds) {
          SCOPED_TRACE(std::string(build.name) + " n " + std::to_string(n) + " density " +
                       std::to_string(density) + (covering ? "" : " loose groups"));
          const Reference ref{build.avx2};
          const size_t un = static_cast<size_t>(n);
          std::vector<double> got_a(un, 9.0), got_b(un, 9.0), want_a(un), want_b(un);

          build.ComputeBlockedReach(got_a.data(), ra.data(), n, h.cards.data(), b);
          ref.Fold(want_a.data(), ra, h, b);
          ExpectSameBits(got_a, want_a, "fold");

          build.ComputeShowdownValues(got_a.data(), ra.data(), n, h.groups.data(), gc,
                                      h.cards.data(), a);
          ref.Showdown(want_a.data(), ra, h, a);
          ExpectSameBits(got_a, want_a, "showdown");

          build.ComputeShowdownAndFold(got_a.data(), got_b.data(), ra.data(), n, h.groups.data(),
                                       gc, h.cards.data(), a, b);
          ref.ShowdownAndFold(want_a.data(), want_b.data(), ra, h, a, b);
          ExpectSameBits(got_a, want_a, "combined showdown");
          ExpectSameBits(got_b, want_b, "combined fold");

          build.ComputeShowdownAndFoldPair(got_a.data(), got_b.data(), ra.data(), rb.data(), n,
                                           h.groups.data(), gc, h.cards.data(), a, b);
          ref.Pair(want_a.data(), want_b.data(), &ra, &rb, h, a, b);
          ExpectSameBits(got_a, want_a, "pair showdown");
          ExpectSameBits(got_b, want_b, "pair fold");

          build.ComputeShowdownAndFoldPair(got_a.data(), got_b.data(), nullptr, rb.data(), n,
                                           h.groups.data(), gc, h.cards.data(), a, b);
          ref.Pair(want_a.data(), want_b.data(), nullptr, &rb, h, a, b);
          ExpectSameBits(got_a, want_a, "pair without showdown reach");
          ExpectSameBits(got_b, want_b, "pair fold alone");

          build.ComputeShowdownAndFoldPair(got_a.data(), got_b.data(), ra.data(), nullptr, n,
                                           h.groups.data(), gc, h.cards.data(), a, b);
          ref.Pair(want_a.data(), want_b.data(), &ra, nullptr, h, a, b);
          ExpectSameBits(got_a, want_a, "pair showdown alone");
          ExpectSameBits(got_b, want_b, "pair without fold reach");
        }
      }
    }
  }
}

// A zero payoff makes every counted entry +0.0: the walk's running total starts
// at -0.0 and the outputs keep the signs of zero that the scalar walk gives.
TEST(TerminalKernelsExact, ZeroPayoffKeepsTheSignsOfZero) {
  std::mt19937 rng(99);
  const Hands h = RandomHands(rng, 37, true);
  const std::vector<double> ra = Reach(rng, 37, 0.6), rb = Reach(rng, 37, 0.6);
  for (const Build& build : Builds()) {
    SCOPED_TRACE(build.name);
    const Reference ref{build.avx2};
    std::vector<double> got_a(37, 9.0), got_b(37, 9.0), want_a(37), want_b(37);
    build.ComputeShowdownAndFoldPair(got_a.data(), got_b.data(), ra.data(), rb.data(), 37,
                                     h.groups.data(), static_cast<int32_t>(h.groups.size()),
                                     h.cards.data(), 0.0, 2.0);
    ref.Pair(want_a.data(), want_b.data(), &ra, &rb, h, 0.0, 2.0);
    ExpectSameBits(got_a, want_a, "pair showdown");
    ExpectSameBits(got_b, want_b, "pair fold");
  }
}

// A hand with a card number of 52 or more is skipped by every kernel (no reach
// taken from it, value 0), wherever it lies in the list: the scans that look
// for such cards work in blocks of eight and of four and one by one at the end.
// Debug builds stop on it instead.
#ifdef NDEBUG
TEST(TerminalKernelsExact, FaultyCardsAnywhereAreSkipped) {
  std::mt19937 rng(5);
  for (int32_t n : {3, 12, 13, 37}) {
    const Hands h = RandomHands(rng, n, true);
    const std::vector<double> ra = Reach(rng, n, 0.8), rb = Reach(rng, n, 0.8);
    const auto gc = static_cast<int32_t>(h.groups.size());
    for (int32_t bad : {0, n / 2, n - 1}) {
      Hands faulty = h;
      faulty.cards[static_cast<size_t>(bad)] =
          static_cast<uint16_t>((h.cards[static_cast<size_t>(bad)] & 0xFF) | 77 << 8);
      std::vector<double> clean_a = ra, clean_b = rb;
      clean_a[static_cast<size_t>(bad)] = clean_b[static_cast<size_t>(bad)] = 0.0;
      for (const Build& build : Builds()) {
        SCOPED_TRACE(std::string(build.name) + " n " + std::to_string(n) + " faulty hand " +
                     std::to_string(bad));
        const size_t un = static_cast<size_t>(n);
        std::vector<double> got_a(un), got_b(un), want_a(un), want_b(un);
        build.ComputeShowdownAndFoldPair(want_a.data(), want_b.data(), clean_a.data(),
                                         clean_b.data(), n, h.groups.data(), gc, h.cards.data(),
                                         1.5, -2.0);
        want_a[static_cast<size_t>(bad)] = want_b[static_cast<size_t>(bad)] = 0.0;
        build.ComputeShowdownAndFoldPair(got_a.data(), got_b.data(), ra.data(), rb.data(), n,
                                         faulty.groups.data(), gc, faulty.cards.data(), 1.5, -2.0);
        ExpectSameBits(got_a, want_a, "pair showdown");
        ExpectSameBits(got_b, want_b, "pair fold");
        build.ComputeShowdownAndFoldPair(got_a.data(), got_b.data(), nullptr, rb.data(), n,
                                         faulty.groups.data(), gc, faulty.cards.data(), 1.5, -2.0);
        build.ComputeShowdownAndFoldPair(want_a.data(), want_b.data(), nullptr, clean_b.data(), n,
                                         h.groups.data(), gc, h.cards.data(), 1.5, -2.0);
        want_b[static_cast<size_t>(bad)] = 0.0;
        ExpectSameBits(got_b, want_b, "pair fold alone");
        build.ComputeBlockedReach(got_a.data(), ra.data(), n, faulty.cards.data(), 1.5);
        build.ComputeBlockedReach(want_a.data(), clean_a.data(), n, h.cards.data(), 1.5);
        want_a[static_cast<size_t>(bad)] = 0.0;
        ExpectSameBits(got_a, want_a, "fold");
      }
    }
  }
}
#endif

}  // namespace
