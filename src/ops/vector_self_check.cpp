// The self-check's inputs and the comparison of each vector routine with the
// scalar call.
#include "ops/vector_self_check.hpp"

#if defined(__x86_64__)

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "ops/vector_routines.hpp"
#include "ops/vector_tables.hpp"

namespace tov::vmath {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Arguments where glibc's SSE2 exp differs from its FMA exp.
constexpr std::uint64_t kExpSeparating[] = {
    0xbf92e485efbb8664, 0xc040561f9d292dc4, 0xc0126b5e5202fb9c, 0xc031fb7e632fc15c,
    0xc03ee9971c2f920f, 0xbf888bba1c1e7568, 0x4043829ba0ceb03f, 0x407c58866f49ef2f,
    0xbf93aaea0895d63e, 0xbfe427b2d7318bac, 0xbfe9407ac88f6410, 0x3ff173af19716acc,
    0xc075ccd6118ec2d9, 0xbf8ced49b3c298aa, 0xc05845ae81e51d43, 0xbf8090faaee2b42a,
    0xc04529e4edfc8ba1, 0xc079bc5256105fa1, 0xbf7e5976898ce415, 0xbf92150b64252376,
    0xbf7088c13b652a3e, 0x3fee60c4eba87df0, 0xc07d497fd8a7e670, 0x406fda9e180b956a,
    0x407f21ab55c66bfc, 0xc041ce5d85ffbe5e, 0xbfe11c1c7109b0b0, 0xbf933d485d8f16b5,
    0xc04870c91ad327e3, 0x3fff906b66fc28e0, 0x40679ffbab380b6d, 0x3fecb8519817d4e8,
    0x3f812884fc05beec, 0xc0674128e3f39225, 0x4035a52a15253083, 0xbff72d91505eda48,
    0xbf819a63b498f06a, 0xbfe16e0ff33f7c02, 0x40430512cb04ee74, 0xbff7d5f4a810c66a,
    0xc030def513a7b25e, 0xc061825f6a02dc2d, 0xbf7cbd4255cb51a1, 0x3fffd490279c1456,
    0xc06977c0939e0fbf, 0xc0721f143bb106fd, 0x40261eb390ac6b65, 0x3f9184ffcd78f53a,
    0xc0427d39dbd38ffa, 0xc04221bc28cab8f5, 0xc02ba2144ada7cee, 0x407c2f2ef304be74,
    0x407f1b19546fe116, 0x3fff9b583490f780, 0x40712d7857337971, 0x3fde54cbf653fc80,
    0xbf8b3a71ff3926f7, 0x3ff21ebf97bed3aa, 0xc06e12555e7fda58, 0xbfb858f2087f6a00,
    0xc03f99fdd97ec7dc, 0x3ff667725f238e78, 0xbf7dffb06cec30c3, 0xc07022983e5b72c6,
    0xc0677ca805e03980, 0xc06e963417b1dd36, 0x3f88172fd65092fe, 0x407b37ebd2b13cce,
    0x404f437651c321ec, 0x406be1a995c9007b, 0x3ffba1fd586bc076, 0x3ffccf1577aafd44,
    0x4068c7eeb2181390, 0xc0406bcef12735b1, 0x403943da25bcbea8, 0xc0391f71aa723da7,
    0xbf920b20418212ba, 0x3ff2af288a3651b0, 0x403fa63d7ba50042, 0x4020856246bb5a10,
    0x4045a13594e9ed26, 0x405701cfc483fb5c, 0x3fec8787241eb7bc, 0x3f91df74c01ae580,
    0x3ffdda0730aa171e, 0x4040289ecdc9d8af, 0x3fd3f946c5c075d8, 0x3fb282fcfddc03c0,
    0x4024e2d25294a53b, 0xbf7fb8a434c35a76, 0xc0180f1ec146f3b9, 0x3fe22b37cf2b6188,
    0xc06560752a955f70, 0x4036838ef26ea7c6, 0xc0579c533034aa64, 0xbff20d5786ea488e,
    0xc070be781d19d291, 0xbf9357ddf4dd54c9, 0xc03cb5b9d2f229f2, 0xbfec4a1f1d4f413a,
    0x40718e2762a752e2, 0xc04b30d6a3e43605, 0xc04270effd3a9deb, 0x40380e5fcb9380ac,
    0x4072066a0cdbd2a5, 0xc060af1b706c342b, 0x3f8c9a681d1ab367, 0x4020daabdc6c03e8,
    0xc060ea2b3c305dd1, 0xc0736325ffd2f672, 0xbfdc2ca87cff72b0, 0xc041bece58390de1,
    0xc05c6ce269ac9c7f, 0xc03fecf9e96970b7, 0xbfbd6ec673a86940, 0xc06eca380fa973d4,
    0xc06b0489cf152676, 0xc073c5f0f7e5f298, 0xbf8dab87136d4ec8, 0x3ffd286fbc25fe88,
    0x3f8bd1a7a224a490, 0xc06c71e588627333, 0xc0405c170dd2c024, 0xbf8e96a6d34a7bee,
    0x3f931d2a505eebf6, 0xc02b57697ca87288, 0x4047cf23b3620d38, 0xc033eb6cd1945672,
    0x3ff45617f9de5bfa, 0x4067ccd65beaaf12, 0x405c93b2fa2a84ee, 0xc02e0a14a9af560c,
    0xbf8960aecd8266ec, 0xc02cb50acf234e39, 0xc023db789cfda8c0, 0xc05d3369b946e5e6,
    0xbffd2753447f8cb1, 0xc01aeab227b1290f, 0xc071f90bb53fac8f, 0x4071d4dedf92f643,
    0xc02ccb9ec92fa381, 0xbfec5ad67ebdff3e, 0xbf7747ecc3813178, 0x40650dcf64f3665d,
    0xbf697f8755c8ca6c, 0xc07f9434a21437f7, 0x3f7f0482b8b3a915, 0x3fc54be432a86c50,
    0xbfc22b3db6a58188, 0xbf9381f064bf1a36, 0xc042f72370a3a8fe, 0xbf8d1a03211f6cfc,
    0xbf884cac5379cbac, 0x406c5531d822bd42, 0x407938c6750f9e11, 0xbf6c95d078d2abf6,
    0x40630b2dfeb217cb, 0xc06ddc25dd16c456, 0xc0684412e1f66f64, 0x406adabd2579ceca,
};

// The same for log: first away from 1, then near 1.
constexpr std::uint64_t kLogSeparating[] = {
    0x3ff6d3acaf88ad08, 0x3fecdf3ae504b7b8, 0x3ff4df5c2eb0acbb, 0x3feda8e32da4e4d1,
    0x3ff16cc3e425b710, 0x3feddece045746f5, 0x3fea9330cd25f80f, 0x3fe7578ce42b3c09,
    0x3fe97a227c568ddf, 0x3feb4941d6958ad8, 0x3fe0f5448d8bfe74, 0x3fdb32ebcaab2a91,
    0x3ff58593b4e98438, 0x3ffe046716147222, 0x3ff1b8e9756d8e99, 0x3ff4261f64c882eb,
    0x3fed6890502f30ac, 0x3fd966ccd6cd7ce5, 0x3fd8af2d50f71ec1, 0x3ff272b32b61cfa8,
    0x3fed87821b261c0f, 0x3ff1a96c3e8a7ccc, 0x3fedc5c5868e84f6, 0x3ff1f72b2374bffe,
    0x3ff4128066dcde30, 0x4001cf1f54444b98, 0x3ff21e52b87fd144, 0x3fea84831a18a8e4,
    0x3fe32adfee5208b0, 0x3ff6a7b1a1969542, 0x3fea805dcf888ff1, 0x3fe54b673ce43601,
    0x3fe9741a6ed5e338, 0x3fe5fe2c49b25f60, 0x3fda652f626aa0a4, 0x3ffd4af092a2a1b1,
    0x3fd8f8730f848d4e, 0x3ffda711bd059b07, 0x3feaacefb7a79018, 0x4000ee8ae8659fe6,
    0x3ff47ba504cd10f9, 0x3fe445919412f3b5, 0x3fe11eb93d3326a6, 0x3fff49cbf01d4593,
    0x3fe781f41126ac8d, 0x3ffcaecfe2067999, 0x3ffcfefc3cef08d9, 0x3fe827bd5ecd9104,
    0x3ffe77beca3075ea, 0x3ffbad53fa298d4f, 0x3ff1cb81ea8814c3, 0x3ff4614d3701c8b1,
    0x3ff2ebccf8380b64, 0x3fecd2d4120b7fb1, 0x3ffc845272f08ccf, 0x3ff358c8b443eede,
    0x3fecda8caaa3c934, 0x3fe2071d8524729d, 0x3fe2b2228d07a4e6, 0x3fe5f489dec106c5,
    0x3ffd51b9bd15e613, 0x4000740f904c3292, 0x3fecb45b7bf117b4, 0x3fdc7a6aeac4a266,
    0x3ff3731bfcf6379a, 0x3ff722cf1faf9280, 0x3ff199de66c660d9, 0x3ff352d623b5b5c8,
    0x3fe74a32ea06e4f1, 0x3ff58b38b814a0e2, 0x3fdc9b8173866357, 0x3ff27265ceedd482,
    0x3fec8d4a5a886178, 0x3fe90d98ace5b6a1, 0x3ffd9264e0be19ae, 0x3fe6a88270e20e67,
    0x3fe5a921ced85054, 0x3ff3af85646f7135, 0x3ff19a49ef61fcc7, 0x3fd8928fc2c47052,
    0x3fea4ed65853b86b, 0x3ff4ad6156975125, 0x3ff17cc92bb9f72e, 0x3ffb6d035b0bb008,
    0x3ff1b6137d9ef197, 0x3ff9014f42f33242, 0x3fe17ba86e5dfb81, 0x3fed684aeacea912,
    0x3fd955bb53c527bc, 0x3fff67c13e550d0a, 0x3fe969f4b8f71323, 0x3fec6db4a3b5f881,
    0x40054d726537e454, 0x4000ca97e93e7b00, 0x3fdce7e12fd8a1a5, 0x3fe9aee645bd5deb,
    0x3fee04e2c1b8bf86, 0x3fef40d988bf7265, 0x3fef9d8114765e9f, 0x3fee2fb04378ded0,
    0x3feeb25928125642, 0x3fee7f311d135008, 0x3feea704716714b9, 0x3fef858144a916b4,
    0x3ff0f3c99b282808, 0x3ff0e94ec3cfa446, 0x3fee7ccb2d3006d5, 0x3fee2ea7e570157f,
    0x3feec9180cde2d19, 0x3fee30ce2aca6846, 0x3ff0bdbfc8dbae88, 0x3fee477b24732055,
    0x3ff0d5bd3fc0e759, 0x3ff0c0200fb7f93c, 0x3feed67fd04f1ca2, 0x3fee3147df549865,
    0x3ff0d419285672f8, 0x3fef1513d9840617, 0x3fee5c1f0b5de1c5, 0x3ff0d5ea10539dab,
    0x3ff0fb957ed54e60, 0x3fee14456c77a102, 0x3ff0e8e9559a785c, 0x3fee2cba60acc14e,
    0x3fee0f2841b19f92, 0x3fee8e9552506cd8, 0x3fef26b4f8cb9df6, 0x3fee8963dccb4fe6,
    0x3ff0e273484a7d0b, 0x3ff0fd88cae717ca, 0x3ff0fb6711b3e38e, 0x3ff0d2b9a35430e6,
    0x3ff0fcada6629fc0, 0x3ff0bb42bffaafaf, 0x3feebc9e6ef6c392, 0x3ff0ccc12c5a7979,
    0x3ff0c59bf7282073, 0x3feee42be5180ee3, 0x3ff0ddccf51fae33, 0x3ff0b21f1bc85970,
    0x3fee3c81adfeb6f3, 0x3feeeb35d5e84f21, 0x3ff0804a06c2a6ed, 0x3ff09168f707af8d,
    0x3fee13b77bd43cd8, 0x3ff08f832e9bec0f, 0x3ff0ef0aad7b31dc, 0x3ff0d4362c82c84c,
    0x3fee824f68a8f051, 0x3ff0d22389616510, 0x3ff0deb09e8b641a, 0x3fee332ddd38b1ae,
    0x3ff0f1091c4e364d, 0x3ff0d1f171e6c15c, 0x3ff0b511cf06095f, 0x3ff089a1a9740855,
    0x3ff0cb46da3a8ea5, 0x3feeff7ba35c5572, 0x3fee3395acacaea7, 0x3fee497b60c332f0,
    0x3ff0f3c12eea1355, 0x3ff0b512f08cf7b4, 0x3ff0df8ce3d30e77, 0x3fee85b39ac8c40b,
    0x3ff09754c5040fce, 0x3ff03581cb66d050, 0x3fef54f0cfbfee42, 0x3ff082687521c070,
    0x3ff0fa65d31709c2, 0x3ff0f6f8774a11e6, 0x3ff0da2c6307ce39, 0x3fee492a73c66c42,
    0x3ff0f0a1ef1eafd6, 0x3ff055e824f1a257, 0x3ff07953f43a9441, 0x3fee3008f6148484,
    0x3feeb419bd4f1fdb, 0x3fee65ddaef7ed23, 0x3ff0eeb928673d2c, 0x3ff0a05335c53f64,
    0x3ff0bcb6aca2d4aa, 0x3fee6fa13d2d2227, 0x3fee1c52007fb791, 0x3fee19ae853165ce,
    0x3ff0e6c2ef049351, 0x3fee3e9e19b6585a, 0x3feea128e4b85687, 0x3fef52b3e246c22e,
    0x3fee34aa0e192782, 0x3ff0bf7ff3a3f01c, 0x3fee449498651038, 0x3ff0c8279e021c0b,
};

// A fixed pseudo-random sequence (SplitMix64).
class Sequence {
 public:
  std::uint64_t next() {
    state_ += 0x9e3779b97f4a7c15;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high).
  double uniform(double low, double high) {
    return low + (high - low) * (static_cast<double>(next() >> 11) * 0x1p-53);
  }
  // Random sign and mantissa, biased exponent in [low, high].
  double with_exponent(int low, int high) {
    const std::uint64_t bits = next();
    const auto exponent =
        static_cast<std::uint64_t>(low + static_cast<int>(bits % (high - low + 1)));
    return std::bit_cast<double>((bits & 0x800fffffffffffffULL) | exponent << 52);
  }

 private:
  std::uint64_t state_ = 0x5eed;
};

void add_bits(std::vector<double>& values, std::span<const std::uint64_t> bits) {
  for (const std::uint64_t b : bits) values.push_back(std::bit_cast<double>(b));
}

// v and the k representable numbers on each side of it.
void add_neighbours(std::vector<double>& values, double v, int k) {
  double below = v;
  double above = v;
  values.push_back(v);
  for (int i = 0; i < k; ++i) {
    below = std::nextafter(below, -kInfinity);
    above = std::nextafter(above, kInfinity);
    values.push_back(below);
    values.push_back(above);
  }
}

void add_specials(std::vector<double>& values) {
  using Limits = std::numeric_limits<double>;
  for (const double v : {0.0, 1.0, 2.0, Limits::infinity(), Limits::denorm_min(),
                         Limits::min() - Limits::denorm_min(), Limits::min(), Limits::max()}) {
    values.push_back(v);
    values.push_back(-v);
  }
  values.push_back(Limits::quiet_NaN());
  values.push_back(-Limits::quiet_NaN());
}

std::vector<double> exp_check_args() {
  std::vector<double> args;
  add_bits(args, kExpSeparating);
  add_specials(args);
  // Ends of the main path, overflow, the start of subnormal results, and
  // underflow to zero.
  for (const double t :
       {0x1p-54, 512.0, 1024.0, 709.782712893384, 708.3964185322641, 745.1332191019411}) {
    add_neighbours(args, t, 4);
    add_neighbours(args, -t, 4);
  }
  // Where x 128/ln2 is half an odd integer the cell changes.
  for (int j = -96000; j <= 90000; j += 997) {
    add_neighbours(args, (j + 0.5) * (0x1.62e42fefa39efp-1 / 128), 2);
  }
  Sequence random;
  for (int i = 0; i < 1024; ++i) args.push_back(random.uniform(-750.0, 750.0));
  for (int i = 0; i < 1024; ++i) args.push_back(random.with_exponent(0x3c0, 0x3ff));
  return args;
}

std::vector<double> log_check_args() {
  std::vector<double> args;
  add_bits(args, kLogSeparating);
  add_specials(args);
  for (const double t : {1.0, kLogNearLow, kLogNearHigh}) add_neighbours(args, t, 8);
  // Cell edges, in binades from the smallest normal to the largest.
  for (const std::uint64_t binade : {0x3fe, 0x001, 0x002, 0x200, 0x3fd, 0x3ff, 0x600, 0x7fd}) {
    for (std::uint64_t i = 0; i < 128; ++i) {
      const std::uint64_t edge = kLogOff + (i << 45) + ((binade - 0x3fe) << 52);
      add_neighbours(args, std::bit_cast<double>(edge), 2);
    }
  }
  Sequence random;
  for (int i = 0; i < 1024; ++i) args.push_back(std::bit_cast<double>(random.next()));
  for (int i = 0; i < 1024; ++i) args.push_back(std::fabs(random.with_exponent(0, 0x7fe)));
  for (int i = 0; i < 1024; ++i) args.push_back(random.uniform(0.9, 1.1));
  return args;
}

struct Pairs {
  std::vector<double> x;
  std::vector<double> y;
  void add(double a, double b) {
    x.push_back(a);
    y.push_back(b);
    x.push_back(-b);
    y.push_back(a);
  }
};

Pairs hypot_check_args() {
  Pairs args;
  std::vector<double> specials;
  add_specials(specials);
  for (const double t : {0x1p-511, 0x1p-450, 0x1p511}) add_neighbours(specials, t, 2);
  for (const double a : specials) {
    for (const double b : specials) args.add(a, b);
  }
  std::vector<double> near;
  for (const int e : {-500, -40, 0, 40, 500}) {
    // Where the smaller argument stops being negligible, and where h = 2 ay
    // (ax = sqrt(3) ay) switches the form of the correction.
    const double ax = std::ldexp(1.375, e);
    near.clear();
    add_neighbours(near, ax * 0x1p-54, 4);
    for (const double ay : near) args.add(ax, ay);
    const double ay = std::ldexp(0.8125, e);
    near.clear();
    add_neighbours(near, ay * 1.7320508075688772, 4);
    for (const double v : near) args.add(v, ay);
  }
  Sequence random;
  for (int i = 0; i < 1024; ++i) {
    args.add(random.with_exponent(0x1f0, 0x610), random.with_exponent(0x1f0, 0x610));
  }
  // Both arguments tiny, where glibc scales them.
  for (int i = 0; i < 256; ++i) {
    args.add(random.with_exponent(0x1f0, 0x240), random.with_exponent(0x1f0, 0x240));
  }
  for (int i = 0; i < 1024; ++i) {
    const double a = random.with_exponent(0x3c0, 0x440);
    args.add(a, a * random.uniform(-2.0, 2.0));
  }
  return args;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

double scalar_exp(double x) { return std::exp(x); }
double scalar_log(double x) { return std::log(x); }

bool agrees(void (*vector)(const double*, double*, std::size_t), double (*scalar)(double),
            const std::vector<double>& args) {
  std::vector<double> vector_results(args.size());
  std::vector<double> scalar_results(args.size());
  vector(args.data(), vector_results.data(), args.size());
  for (std::size_t i = 0; i < args.size(); ++i) scalar_results[i] = scalar(args[i]);
  return same_bits(vector_results, scalar_results);
}

bool hypot_agrees(const Pairs& args) {
  std::vector<double> vector_results(args.x.size());
  std::vector<double> scalar_results(args.x.size());
  hypot_avx2(args.x.data(), args.y.data(), vector_results.data(), args.x.size());
  for (std::size_t i = 0; i < args.x.size(); ++i) {
    scalar_results[i] = std::hypot(args.x[i], args.y[i]);
  }
  return same_bits(vector_results, scalar_results);
}

}  // namespace

VectorRoutines check_vector_routines() {
  VectorRoutines routines;
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return routines;
  routines.exp = agrees(exp_avx2, scalar_exp, exp_check_args());
  routines.log = agrees(log_avx2, scalar_log, log_check_args());
  routines.hypot = hypot_agrees(hypot_check_args());
  return routines;
}

}  // namespace tov::vmath

#else

namespace tov::vmath {

VectorRoutines check_vector_routines() { return {}; }

}  // namespace tov::vmath

#endif
