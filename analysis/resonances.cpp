// From one stage's deflections to its resonances: zeroing, windows, engine
// order by circumferential Fourier fit, single-degree-of-freedom fit.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>

#include <Eigen/Dense>
#include <unsupported/Eigen/NonLinearOptimization>
#include <unsupported/Eigen/NumericalDiff>

#include "analysis/analysis.h"

namespace cdt {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The envelope is found against speed, on a grid of speed bins: a crossing
// swept slowly (thousands of revolutions), quickly (a few) or several times
// (run-up and run-down, repeated runs) is the same curve of speed there, so
// what detects it does not depend on the sweep rate, and every crossing of
// one resonance pools its revolutions into one fit. Bins hold about
// kRowsPerBin revolutions on average, within kMinBins..kMaxBins.
constexpr std::size_t kRowsPerBin = 8;
constexpr std::size_t kMinBins = 16;
constexpr std::size_t kMaxBins = 2000;
// Bins each side of the moving mean of the envelope.
constexpr std::size_t kSmoothing = 3;
// Rows each side of the moving mean of a window's magnitudes (sorted by
// speed), for the fit's starting point.
constexpr std::size_t kStartSmoothing = 10;
// Rows of a crossing the engine order is chosen on, at most.
constexpr std::size_t kOrderRows = 2000;
constexpr int kZeroingPasses = 4;
// Rows a fitted resonance's half-power band must hold at least.
constexpr std::size_t kMinBandRows = 5;

using Complex = std::complex<double>;

double median(std::vector<double> v) {
  if (v.empty()) return kNaN;
  const auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), middle, v.end());
  return *middle;
}

// The circumferential design at order k: columns sin(kθ), cos(kθ), 1.
Eigen::MatrixXd design(const std::vector<double>& angles, uint32_t k) {
  Eigen::MatrixXd a(static_cast<Eigen::Index>(angles.size()), 3);
  for (std::size_t p = 0; p < angles.size(); ++p) {
    const auto i = static_cast<Eigen::Index>(p);
    a(i, 0) = std::sin(k * angles[p]);
    a(i, 1) = std::cos(k * angles[p]);
    a(i, 2) = 1.0;
  }
  return a;
}

// A window of speed bins: where the envelope stands above the floor (core),
// and the bins whose rows the fit takes (with a margin each side).
struct Window {
  std::size_t begin = 0, end = 0;        // core, [begin, end)
  std::size_t fitBegin = 0, fitEnd = 0;  // fit range
};

// Each row's speed bin.
struct SpeedGrid {
  double low = 0, width = 1;
  std::size_t bins = 0;
  std::vector<uint32_t> bin;  // per row

  double centre(std::size_t b) const { return low + (static_cast<double>(b) + 0.5) * width; }
};

SpeedGrid speedGrid(const std::vector<double>& speeds) {
  SpeedGrid g;
  const std::size_t n = speeds.size();
  double low = speeds[0], high = low;
  for (double v : speeds) low = std::min(low, v), high = std::max(high, v);
  g.bins = std::clamp(n / kRowsPerBin, kMinBins, kMaxBins);
  g.low = low;
  g.width = std::max((high - low) / static_cast<double>(g.bins), 1e-9 * std::max(1.0, high));
  g.bin.resize(n);
  for (std::size_t r = 0; r < n; ++r) {
    // A speed that is not a number (none reaches here from a recording)
    // falls into the first bin rather than out of the grid.
    const double at = std::floor((speeds[r] - low) / g.width);
    g.bin[r] = at >= 0 ? static_cast<uint32_t>(std::min(at, static_cast<double>(g.bins - 1))) : 0;
  }
  return g;
}

// One blade's deflections, [row][probe], copied out of the stage's
// [row][blade][probe] once into `x` (the same buffer blade after blade, so
// that a long recording's pages are not mapped anew for each), so that the
// passes over them run through contiguous memory instead of striding over
// every other blade.
void bladeDeflections(const StageDeflections& d, uint32_t b, std::vector<double>& x) {
  const std::size_t n = d.rows();
  const std::size_t np = d.probeNumbers.size();
  x.resize(n * np);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t p = 0; p < np; ++p) x[r * np + p] = d.at(r, b, p);
  }
}

// The quadratic in speed of each probe fitted to the rows not `excluded`,
// subtracted: the zeroed deflections `z` of one blade, [row][probe], from
// its deflections `xb` ([row][probe]). The normal equations of
// x ≈ c0 + c1·s + c2·s² need only the sums of s⁰ to s⁴ and of x·s⁰ to x·s²,
// gathered for every probe in one pass over the rows.
void zeroed(const std::vector<double>& xb, std::size_t np, const std::vector<char>& excluded,
            const std::vector<double>& speed, std::vector<double>& z) {
  const std::size_t n = speed.size();
  std::vector<std::array<double, 8>> sums(np, std::array<double, 8>{});
  for (std::size_t r = 0; r < n; ++r) {
    if (excluded[r]) continue;
    const double s1 = speed[r], s2 = s1 * s1;
    for (std::size_t p = 0; p < np; ++p) {
      const double x = xb[r * np + p];
      if (!std::isfinite(x)) continue;
      std::array<double, 8>& a = sums[p];
      a[0] += 1.0;
      a[1] += s1;
      a[2] += s2;
      a[3] += s2 * s1;
      a[4] += s2 * s2;
      a[5] += x;
      a[6] += x * s1;
      a[7] += x * s2;
    }
  }
  std::vector<Eigen::Vector3d> c(np, Eigen::Vector3d::Constant(kNaN));
  for (std::size_t p = 0; p < np; ++p) {
    const std::array<double, 8>& a = sums[p];
    if (a[0] < 3) continue;
    Eigen::Matrix3d ata;
    ata << a[0], a[1], a[2], a[1], a[2], a[3], a[2], a[3], a[4];
    c[p] = ata.ldlt().solve(Eigen::Vector3d(a[5], a[6], a[7]));
  }
  z.resize(n * np);
  for (std::size_t r = 0; r < n; ++r) {
    const double s1 = speed[r], s2 = s1 * s1;
    for (std::size_t p = 0; p < np; ++p) {
      const double x = xb[r * np + p];
      z[r * np + p] = std::isfinite(x) ? x - (c[p][0] + c[p][1] * s1 + c[p][2] * s2) : kNaN;
    }
  }
}

// The RMS over the probes and the rows of each speed bin and its
// kSmoothing neighbours each side (each row weighing the same): NaN where
// no row has a value.
std::vector<double> envelope(const std::vector<double>& z, std::size_t np, const SpeedGrid& grid) {
  std::vector<double> power(grid.bins, 0.0), count(grid.bins, 0.0);
  for (std::size_t r = 0; r < grid.bin.size(); ++r) {
    for (std::size_t p = 0; p < np; ++p) {
      const double x = z[r * np + p];
      if (std::isfinite(x)) power[grid.bin[r]] += x * x, count[grid.bin[r]] += 1;
    }
  }
  std::vector<double> smooth(grid.bins, kNaN);
  double sum = 0, counted = 0;
  // A running sum over [b - kSmoothing, b + kSmoothing].
  for (std::size_t b = 0; b < grid.bins + kSmoothing; ++b) {
    if (b < grid.bins) sum += power[b], counted += count[b];
    if (b >= 2 * kSmoothing + 1) {
      const std::size_t out = b - 2 * kSmoothing - 1;
      sum -= power[out], counted -= count[out];
    }
    if (b >= kSmoothing && counted > 0.5)
      smooth[b - kSmoothing] = std::sqrt(std::max(sum, 0.0) / counted);
  }
  return smooth;
}

// Windows of bins where `smooth` stands clearly above its floor, the floor
// taken over the bins not `excluded`. Each window is the core of one peak:
// the bins around it down to half its height. Two peaks are two windows
// when the envelope between them falls below half of the lower one (the
// envelope of one crossing wavers by less as its phase moves the probes
// over its pattern); the flank of a window found is never a window of its
// own.
std::vector<Window> findWindows(const std::vector<double>& smooth,
                                const std::vector<char>& excluded) {
  std::vector<double> quiet;
  for (std::size_t r = 0; r < smooth.size(); ++r) {
    if (!excluded[r] && std::isfinite(smooth[r])) quiet.push_back(smooth[r]);
  }
  std::vector<Window> windows;
  if (quiet.size() < 2 * kSmoothing + 2) return windows;
  // Twice the floor's RMS (four times its power). Each bin's value pools
  // the squares of its neighbours' rows and probes, so noise alone keeps
  // within a few per cent of the floor; what varies more is structure (the
  // broad flanks of a well-damped resonance), which a spread measured from
  // the bins would take for noise and hide the crossing under.
  const double threshold = 2.0 * median(quiet);
  // Bins without rows take their left neighbour's value (the first ones
  // their first right neighbour's), so that a gap in the speeds does not
  // cut a window.
  const std::size_t n = smooth.size();
  std::vector<double> v(smooth);
  std::size_t known = 0;
  while (known < n && !std::isfinite(v[known])) ++known;
  if (known == n) return windows;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) v[i] = i < known ? v[known] : v[i - 1];
  }
  struct Segment {
    std::size_t begin, end;
    bool flankAtBegin, flankAtEnd;  // the end borders a window's core
  };
  std::vector<Segment> todo{{0, n, false, false}};
  while (!todo.empty()) {
    Segment g = todo.back();
    todo.pop_back();
    // From a bordering core's flank on to its valley: the least value
    // before the envelope rises to twice it. No such rise: no other peak.
    bool peak = true;
    if (g.flankAtBegin && g.begin < g.end) {
      std::size_t valley = g.begin;
      peak = false;
      for (std::size_t i = g.begin; i < g.end && !peak; ++i) {
        if (v[i] < v[valley]) valley = i;
        peak = v[i] > 2.0 * v[valley];
      }
      g.begin = valley;
    }
    if (peak && g.flankAtEnd && g.begin < g.end) {
      std::size_t valley = g.end - 1;
      peak = false;
      for (std::size_t i = g.end; i-- > g.begin && !peak;) {
        if (v[i] < v[valley]) valley = i;
        peak = v[i] > 2.0 * v[valley];
      }
      g.end = valley + 1;
    }
    if (!peak || g.end <= g.begin) continue;
    std::size_t top = g.begin;
    for (std::size_t i = g.begin; i < g.end; ++i) {
      if (v[i] > v[top]) top = i;
    }
    if (!(v[top] > threshold)) continue;
    Window w;
    w.begin = top;
    while (w.begin > g.begin && v[w.begin - 1] >= 0.5 * v[top]) --w.begin;
    w.end = top + 1;
    while (w.end < g.end && v[w.end] >= 0.5 * v[top]) ++w.end;
    if (w.end - w.begin >= 2) windows.push_back(w);
    todo.push_back({g.begin, w.begin, false, true});
    todo.push_back({w.end, g.end, true, false});
  }
  std::sort(windows.begin(), windows.end(),
            [](const Window& x, const Window& y) { return x.begin < y.begin; });
  // Margins of half the window each side, up to halfway to the neighbours.
  for (std::size_t i = 0; i < windows.size(); ++i) {
    Window& w = windows[i];
    const std::size_t margin = std::max<std::size_t>((w.end - w.begin) / 2, 2 * kSmoothing);
    const std::size_t low = i > 0 ? (windows[i - 1].end + w.begin) / 2 : 0;
    const std::size_t high = i + 1 < windows.size() ? (w.end + windows[i + 1].begin) / 2 : n;
    w.fitBegin = w.begin > low + margin ? w.begin - margin : low;
    w.fitEnd = std::min(high, w.end + margin);
  }
  return windows;
}

// The circumferential fit at order k of one row: its complex coefficient
// B + iA, the sum of squared residuals and how many probes took part.
struct RowFit {
  Complex q;
  double residual = 0;
  std::size_t probes = 0;
};

// The least-squares solution of the circumferential fit at order k when
// every probe has a value, computed once per order: the pseudo-inverse's
// sin and cos rows and the residual maker I − A·A⁺, so that a row's fit is
// a few sums over its probes.
struct OrderFit {
  uint32_t k = 0;
  std::size_t probes = 0;
  std::vector<double> sinRow, cosRow;  // P each
  std::vector<double> residual;        // P x P, row-major
  explicit OrderFit(const std::vector<double>& angles, uint32_t order)
      : k(order), probes(angles.size()) {
    const Eigen::MatrixXd a = design(angles, order);
    const Eigen::MatrixXd inverse = a.completeOrthogonalDecomposition().pseudoInverse();
    const Eigen::MatrixXd maker = Eigen::MatrixXd::Identity(a.rows(), a.rows()) - a * inverse;
    for (std::size_t p = 0; p < probes; ++p) {
      const auto i = static_cast<Eigen::Index>(p);
      sinRow.push_back(inverse(0, i));
      cosRow.push_back(inverse(1, i));
      for (std::size_t q = 0; q < probes; ++q) {
        residual.push_back(maker(i, static_cast<Eigen::Index>(q)));
      }
    }
  }
};

RowFit fitRow(const double* x, const std::vector<double>& angles, uint32_t k);

RowFit fitRow(const double* x, const std::vector<double>& angles, const OrderFit& order) {
  const std::size_t np = order.probes;
  for (std::size_t p = 0; p < np; ++p) {
    if (!std::isfinite(x[p])) return fitRow(x, angles, order.k);
  }
  RowFit f;
  double a = 0, b = 0, r = 0;
  for (std::size_t p = 0; p < np; ++p) {
    a += order.sinRow[p] * x[p];
    b += order.cosRow[p] * x[p];
    double m = 0;
    for (std::size_t q = 0; q < np; ++q) m += order.residual[p * np + q] * x[q];
    r += m * m;
  }
  f.q = Complex(b, a);
  f.residual = r;
  f.probes = np;
  return f;
}

RowFit fitRow(const double* x, const std::vector<double>& angles, uint32_t k) {
  RowFit f;
  std::vector<std::size_t> used;
  for (std::size_t p = 0; p < angles.size(); ++p) {
    if (std::isfinite(x[p])) used.push_back(p);
  }
  f.probes = used.size();
  if (used.size() < 3) return f;
  Eigen::MatrixXd a(static_cast<Eigen::Index>(used.size()), 3);
  Eigen::VectorXd y(static_cast<Eigen::Index>(used.size()));
  for (std::size_t i = 0; i < used.size(); ++i) {
    const auto row = static_cast<Eigen::Index>(i);
    a(row, 0) = std::sin(k * angles[used[i]]);
    a(row, 1) = std::cos(k * angles[used[i]]);
    a(row, 2) = 1.0;
    y(row) = x[used[i]];
  }
  const Eigen::Vector3d c = a.completeOrthogonalDecomposition().solve(y);
  f.q = Complex(c[1], c[0]);
  f.residual = (a * c - y).squaredNorm();
  return f;
}

// The single-degree-of-freedom model of the circumferential coefficients:
// q(Ω) = c·H(kΩ) + d0 + d1·s, H = 1/(1 − r² − 2iζr), r = kΩ/ω_n; for given
// (f_n, ζ) the complex c, d0, d1 are linear and solved in closed form
// (variable projection), the two nonlinear parameters move by
// Levenberg–Marquardt.
struct SdofProblem {
  using Scalar = double;
  enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };
  using InputType = Eigen::VectorXd;
  using ValueType = Eigen::VectorXd;
  using JacobianType = Eigen::MatrixXd;

  std::vector<double> drive;  // kΩ per row, rad/s
  std::vector<double> s;      // speed, normalised over the window
  std::vector<Complex> q;
  double f0 = 1;  // Hz, the start; parameters are (f_n/f0 − 1)·100 and ln ζ

  int inputs() const { return 2; }
  int values() const { return static_cast<int>(2 * q.size()); }

  double frequency(const Eigen::VectorXd& x) const { return f0 * (1.0 + x[0] / 100.0); }
  static double damping(const Eigen::VectorXd& x) { return std::exp(x[1]); }

  // The receptance of row i: 1/(1 − r² − 2iζr), r = kΩ/ω_n.
  Complex response(std::size_t i, double wn, double z) const {
    const double r = drive[i] / wn;
    return 1.0 / Complex(1.0 - r * r, -2.0 * z * r);
  }

  // The linear coefficients (c, d0, d1) for the nonlinear ones `x`: the
  // least-squares solution by its 3 × 3 normal equations, one pass over the
  // rows and no matrix of them.
  Eigen::Vector3cd coefficients(const Eigen::VectorXd& x) const {
    const double wn = kTwoPi * frequency(x);
    const double z = damping(x);
    Eigen::Matrix3cd gram = Eigen::Matrix3cd::Zero();
    Eigen::Vector3cd rhs = Eigen::Vector3cd::Zero();
    for (std::size_t i = 0; i < q.size(); ++i) {
      const Eigen::Vector3cd row(response(i, wn, z), 1.0, s[i]);
      gram.noalias() += row.conjugate() * row.transpose();
      rhs.noalias() += row.conjugate() * q[i];
    }
    return gram.ldlt().solve(rhs);
  }

  int operator()(const Eigen::VectorXd& x, Eigen::VectorXd& fvec) const {
    const Eigen::Vector3cd c = coefficients(x);
    const double wn = kTwoPi * frequency(x);
    const double z = damping(x);
    for (std::size_t i = 0; i < q.size(); ++i) {
      const Complex e = q[i] - (c(0) * response(i, wn, z) + c(1) + c(2) * s[i]);
      fvec(static_cast<Eigen::Index>(2 * i)) = e.real();
      fvec(static_cast<Eigen::Index>(2 * i + 1)) = e.imag();
    }
    return 0;
  }
};

// A slow sweep, or many crossings, give windows of many thousand
// revolutions, and the fit's cost grows with its rows: at most kFitRows
// rows (groups of rows neighbouring in speed, averaged) go into it.
constexpr std::size_t kFitRows = 2000;

// The sense in which the coefficients turn about their offset as the speed
// rises through the window: a single-degree-of-freedom crossing traces a
// circle through it, counterclockwise in the model's convention (its
// mirror image when the data's phase runs the other way). The signed area
// the path sweeps about the offset, over kTurnGroups means of the rows (so
// that noise hardly adds to it), relative to the square of its largest
// distance from the offset: about 0.85 for a crossing's circle, its sign the
// sense; near 0 the data leave the sense open. The offset is the mean of
// the first and last groups, the flanks far from the peak.
constexpr std::size_t kTurnGroups = 48;
constexpr double kClearTurn = 0.1;

double turning(const SdofProblem& problem) {
  const std::size_t n = problem.q.size();
  if (n < 2 * kTurnGroups) return 0;
  std::vector<Complex> means(kTurnGroups);
  for (std::size_t g = 0; g < kTurnGroups; ++g) {
    const std::size_t begin = g * n / kTurnGroups, end = (g + 1) * n / kTurnGroups;
    Complex sum = 0;
    for (std::size_t i = begin; i < end; ++i) sum += problem.q[i];
    means[g] = sum / static_cast<double>(end - begin);
  }
  const Complex offset = (means.front() + means.back()) / 2.0;
  double area = 0, reach = 0;
  for (std::size_t g = 1; g < kTurnGroups; ++g) {
    const Complex u = means[g - 1] - offset, v = means[g] - offset;
    area += 0.5 * std::imag(std::conj(u) * v);
    reach = std::max(reach, std::norm(v));
  }
  return reach > 0 ? area / reach : 0;
}

struct SdofResult {
  double frequency = 0, damping = 0, amplitude = 0, phase = 0, residualRms = kNaN;
};

SdofResult fitSdof(SdofProblem problem, double zeta0, bool conjugate) {
  if (conjugate) {
    for (Complex& v : problem.q) v = std::conj(v);
  }
  Eigen::VectorXd x(2);
  x << 0.0, std::log(zeta0);
  Eigen::NumericalDiff<SdofProblem> diff(problem);
  Eigen::LevenbergMarquardt<Eigen::NumericalDiff<SdofProblem>> lm(diff);
  lm.parameters.maxfev = 400;
  lm.minimize(x);
  SdofResult r;
  if (!x.allFinite() || x[1] > std::log(0.5) || x[1] < std::log(1e-6)) return r;
  const Eigen::Vector3cd c = problem.coefficients(x);
  Eigen::VectorXd fvec(problem.values());
  problem(x, fvec);
  r.frequency = problem.frequency(x);
  r.damping = SdofProblem::damping(x);
  r.amplitude = std::abs(c(0)) / (2.0 * r.damping * std::sqrt(1.0 - r.damping * r.damping));
  r.phase = conjugate ? -std::arg(c(0)) : std::arg(c(0));
  r.residualRms = std::sqrt(fvec.squaredNorm() / std::max<double>(1.0, problem.q.size()));
  return r;
}

// Order, fit and verdict of one window of blade `b`: the rows whose speed
// lies in its bins, from every crossing of them.
Resonance analyseWindow(const StageDeflections& d, uint32_t b, const std::vector<double>& z,
                        const SpeedGrid& grid, const std::vector<double>& smooth, const Window& w,
                        const std::vector<uint32_t>& orders) {
  const std::size_t np = d.probeNumbers.size();
  Resonance res;
  res.stage = d.stage;
  res.blade = b;
  res.probes = static_cast<uint32_t>(np);
  std::size_t peak = w.begin;
  for (std::size_t i = w.begin; i < w.end; ++i) {
    if (smooth[i] > smooth[peak]) peak = i;
  }
  // The fit's rows in the order of their speeds to within a bin, each bin's
  // rows in their own order (a counting sort: a long window's rows are
  // visited nearly in the order memory holds them, not at random).
  std::vector<std::size_t> rows, next(w.fitEnd - w.fitBegin + 1, 0);
  uint64_t first = UINT64_MAX, last = 0;
  for (std::size_t r = 0; r < grid.bin.size(); ++r) {
    if (grid.bin[r] < w.fitBegin || grid.bin[r] >= w.fitEnd) continue;
    ++next[grid.bin[r] - w.fitBegin + 1];
    first = std::min(first, d.revolutions[r]);
    last = std::max(last, d.revolutions[r]);
  }
  for (std::size_t i = 1; i < next.size(); ++i) next[i] += next[i - 1];
  rows.resize(next.back());
  for (std::size_t r = 0; r < grid.bin.size(); ++r) {
    if (grid.bin[r] >= w.fitBegin && grid.bin[r] < w.fitEnd)
      rows[next[grid.bin[r] - w.fitBegin]++] = r;
  }
  res.firstRevolution = rows.empty() ? 0 : first;
  res.lastRevolution = last;
  res.revolutions = static_cast<uint32_t>(rows.size());
  res.speedRpm = grid.centre(peak);
  res.amplitude = smooth[peak] * std::sqrt(2.0);
  if (np < 3) {
    res.note = "fewer than 3 probes on the stage: no engine order";
    return res;
  }
  // The order: least residual over the rows of the crossing that stand a
  // good part of the way up to the peak, not over the peak alone.
  // A long window's rows are taken evenly, kOrderRows at most: the
  // residuals' comparison needs no more.
  std::vector<std::size_t> crossing;
  for (std::size_t r : rows) {
    const std::size_t bin = grid.bin[r];
    if (bin >= w.begin && bin < w.end && smooth[bin] >= 0.3 * smooth[peak]) crossing.push_back(r);
  }
  if (crossing.size() > kOrderRows) {
    std::vector<std::size_t> taken(kOrderRows);
    for (std::size_t i = 0; i < kOrderRows; ++i)
      taken[i] = crossing[i * crossing.size() / kOrderRows];
    crossing = std::move(taken);
  }
  uint32_t best = 0;
  double bestResidual = std::numeric_limits<double>::infinity();
  for (uint32_t k : orders) {
    const OrderFit order(d.angles, k);
    double sum = 0;
    for (std::size_t r : crossing) sum += fitRow(&z[r * np], d.angles, order).residual;
    if (sum < bestResidual * (1.0 - 1e-9)) bestResidual = sum, best = k;
  }
  if (best == 0) {
    res.note = "no engine order to try";
    return res;
  }
  res.engineOrder = best;
  res.aliases = aliasOrders(d.angles, best, orders);
  if (np == 3 && !res.aliases.empty()) {
    // Three values, three unknowns: every order the angles resolve fits
    // them exactly; all are candidates.
    res.aliases.push_back(best);
    std::sort(res.aliases.begin(), res.aliases.end());
    res.engineOrder = 0;
    res.note = "3 probes on the stage fit every engine order exactly: no engine order";
    return res;
  }

  const auto started = std::chrono::steady_clock::now();
  SdofProblem problem;
  if (rows.empty()) {
    res.note = "too few revolutions with 3 probes for a fit";
    return res;
  }
  double low = d.speeds[rows.front()], high = low;
  for (std::size_t r : rows) low = std::min(low, d.speeds[r]), high = std::max(high, d.speeds[r]);
  const double middle = (low + high) / 2, half = std::max((high - low) / 2, 1e-9);
  double top = 0;
  double topSpeed = res.speedRpm;
  // A long window's rows, neighbours in speed, are averaged in groups as
  // they are fitted, kFitRows groups at most: the fit sees the same curve
  // with less noise, and no array of every row is kept.
  const std::size_t group = std::max<std::size_t>(1, (rows.size() + kFitRows - 1) / kFitRows);
  std::vector<double> magnitudes;
  const OrderFit order(d.angles, best);
  double drive = 0, scaled = 0;
  Complex q = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t r = rows[i];
    const RowFit f = fitRow(&z[r * np], d.angles, order);
    if (f.probes >= 3) {
      drive += best * kTwoPi * d.speeds[r] / 60.0;
      scaled += (d.speeds[r] - middle) / half;
      q += f.q;
      ++count;
    }
    if ((i + 1) % group == 0 || i + 1 == rows.size()) {
      if (count > 0) {
        const double n = static_cast<double>(count);
        problem.drive.push_back(drive / n);
        problem.s.push_back(scaled / n);
        problem.q.push_back(q / n);
        magnitudes.push_back(std::abs(q / n));
      }
      drive = scaled = 0, q = 0, count = 0;
    }
  }
  if (problem.q.size() < 10) {
    res.note = "too few revolutions with 3 probes for a fit";
    return res;
  }
  // Start: the peak of the smoothed magnitude, and its half-power width.
  std::vector<double> smoothed(magnitudes.size());
  for (std::size_t i = 0; i < magnitudes.size(); ++i) {
    const std::size_t a = i >= kStartSmoothing ? i - kStartSmoothing : 0;
    const std::size_t e = std::min(magnitudes.size(), i + kStartSmoothing + 1);
    double sum = 0;
    for (std::size_t j = a; j < e; ++j) sum += magnitudes[j];
    smoothed[i] = sum / static_cast<double>(e - a);
    if (smoothed[i] > top) top = smoothed[i], topSpeed = problem.drive[i] * 60.0 / (best * kTwoPi);
  }
  double bandLow = topSpeed, bandHigh = topSpeed;
  for (std::size_t i = 0; i < smoothed.size(); ++i) {
    if (smoothed[i] < top / std::sqrt(2.0)) continue;
    const double speed = problem.drive[i] * 60.0 / (best * kTwoPi);
    bandLow = std::min(bandLow, speed);
    bandHigh = std::max(bandHigh, speed);
  }
  const double zeta0 = std::clamp((bandHigh - bandLow) / (2.0 * topSpeed), 2e-4, 0.1);
  problem.f0 = best * topSpeed / 60.0;
  // The sense in which the response turns decides which of the model and
  // its mirror image fits; where the data leave it open, both are fitted
  // and the better stands.
  const double turned = turning(problem);
  SdofResult fit;
  if (std::abs(turned) >= kClearTurn) {
    fit = fitSdof(problem, zeta0, turned < 0);
  } else {
    fit = fitSdof(problem, zeta0, false);
    const SdofResult other = fitSdof(problem, zeta0, true);
    if (std::isfinite(other.residualRms) && !(fit.residualRms <= other.residualRms)) {
      fit = other;
    }
  }
  res.fitMilliseconds =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  if (!std::isfinite(fit.residualRms)) {
    res.note = "the single-degree-of-freedom fit did not converge";
    return res;
  }
  res.frequencyHz = fit.frequency;
  res.dampingRatio = fit.damping;
  res.amplitude = fit.amplitude;
  res.phase = fit.phase;
  res.residualRms = fit.residualRms;
  res.speedRpm = 60.0 * fit.frequency / best;
  // A resonance narrower than the revolutions sample it (its half-power
  // band, ±ζ of its speed, holding hardly a row) is no fit of the data: the
  // tail of a crossing, or noise, fitted with a vanishing damping.
  std::size_t inBand = 0;
  for (std::size_t r : rows) {
    if (std::abs(d.speeds[r] - res.speedRpm) <= fit.damping * res.speedRpm) ++inBand;
  }
  if (!(res.speedRpm >= low && res.speedRpm <= high)) {
    res.note = "the fitted resonance lies outside its window";
  } else if (inBand < kMinBandRows) {
    res.note = "the fitted resonance is narrower than its revolutions can resolve";
  } else if (!(fit.amplitude > 4.0 * fit.residualRms)) {
    res.note = "the fitted amplitude does not stand above the residual";
  } else if (!(fit.amplitude <= 2.0 * *std::max_element(magnitudes.begin(), magnitudes.end()))) {
    // At its peak a crossing shows about its amplitude; a fit far above
    // every deflection of the window extrapolates from a piece of a tail.
    res.note = "the fitted amplitude is far above any deflection of its window";
  } else {
    res.accepted = true;
  }
  return res;
}

}  // namespace

std::vector<uint32_t> aliasOrders(const std::vector<double>& angles, uint32_t k,
                                  const std::vector<uint32_t>& candidates) {
  std::vector<uint32_t> result;
  if (angles.empty()) return result;
  const double tolerance = 1e-6 * std::sqrt(static_cast<double>(angles.size()));
  // Whether the columns of `b` lie in the span of those of `a`.
  const auto within = [tolerance](const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
    return (a * a.completeOrthogonalDecomposition().solve(b) - b).norm() <= tolerance;
  };
  const Eigen::MatrixXd a = design(angles, k);
  for (uint32_t other : candidates) {
    if (other == k) continue;
    // The same span both ways: an order the probes see as a constant alone
    // (sin and cos flat) is no alias of one they see.
    const Eigen::MatrixXd b = design(angles, other);
    if (within(a, b) && within(b, a)) result.push_back(other);
  }
  return result;
}

std::vector<Resonance> findResonances(const StageDeflections& d, const AnalysisOptions& options) {
  std::vector<Resonance> result;
  const std::size_t n = d.rows();
  const std::size_t np = d.probeNumbers.size();
  if (n < kMinBins * kRowsPerBin || np == 0 || d.blades == 0 ||
      d.values.size() != n * d.blades * np) {
    return result;
  }
  std::vector<uint32_t> orders = options.orders;
  if (orders.empty()) {
    for (uint32_t k = 1; k <= AnalysisOptions::kDefaultMaxOrder; ++k) orders.push_back(k);
  }
  // Speed scaled to [−1, 1] keeps the zeroing's normal equations well conditioned.
  double low = d.speeds[0], high = low;
  for (double s : d.speeds) low = std::min(low, s), high = std::max(high, s);
  const double middle = (low + high) / 2, half = std::max((high - low) / 2, 1e-9);
  std::vector<double> speed(n);
  for (std::size_t r = 0; r < n; ++r) speed[r] = (d.speeds[r] - middle) / half;
  const SpeedGrid grid = speedGrid(d.speeds);

  std::vector<double> xb, z;
  std::vector<char> excludedRows;
  for (uint32_t b = 0; b < d.blades; ++b) {
    bladeDeflections(d, b, xb);
    // Detect, exclude, refit: until the windows stand still.
    std::vector<char> excludedBins(grid.bins, 0);
    excludedRows.assign(n, 0);
    std::vector<double> smooth;
    std::vector<Window> windows;
    for (int pass = 0; pass < kZeroingPasses; ++pass) {
      zeroed(xb, np, excludedRows, speed, z);
      smooth = envelope(z, np, grid);
      windows = findWindows(smooth, excludedBins);
      std::vector<char> next(grid.bins, 0);
      for (const Window& w : windows) {
        std::fill(next.begin() + static_cast<std::ptrdiff_t>(w.fitBegin),
                  next.begin() + static_cast<std::ptrdiff_t>(w.fitEnd), 1);
      }
      if (next == excludedBins) break;
      excludedBins = std::move(next);
      for (std::size_t r = 0; r < n; ++r) excludedRows[r] = excludedBins[grid.bin[r]];
    }
    for (const Window& w : windows) {
      result.push_back(analyseWindow(d, b, z, grid, smooth, w, orders));
    }
  }
  return result;
}

}  // namespace cdt
