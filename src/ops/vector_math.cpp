// Four-lane AVX2 exp, log and hypot that reproduce the scalar libm results bit
// for bit, the one-time self-check that decides whether each is used, and the
// math-behaviour signature.
//
// exp and log follow the table-driven algorithms of Arm's optimized-routines,
// the source of glibc's exp and log. Their tables and coefficients below are
// transcribed from ARM-software/optimized-routines, math/exp_data.c and
// math/log_data.c (Copyright (c) 2018, Arm Limited; MIT or Apache-2.0 WITH
// LLVM-exception): 128-entry tables, a degree-5 polynomial for exp, a degree-6
// one for log and a degree-12 one for log near 1. Which multiply-adds are fused
// is that of glibc's FMA build, settled by comparison with the live library.
//
// hypot follows Carlos F. Borges, "An Improved Algorithm for hypot(a,b)"
// (arXiv:1904.09481): the square root of the sum of squares, then one
// correction step, all without fused operations as in glibc's generic hypot.
//
// The file is compiled with -ffp-contract=off: every fused operation is an FMA
// intrinsic and every other operation rounds on its own.
#include "ops/vector_math.hpp"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tov::vmath {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Routines {
  bool exp = false;
  bool log = false;
  bool hypot = false;
};

#if defined(__x86_64__)

#define TOV_AVX2 __attribute__((target("avx2,fma")))

// exp: x = k ln2/128 + r with |r| <= ln2/256, exp(x) = 2^(k/128) exp(r).
constexpr double kExpInvLn2N = 0x1.71547652b82fep0 * 128;
constexpr double kExpShift = 0x1.8p52;
constexpr double kExpNegLn2HiN = -0x1.62e42fefa0000p-8;
constexpr double kExpNegLn2LoN = -0x1.cf79abc9e3b3ap-47;
constexpr double kExpC2 = 0x1.ffffffffffdbdp-2;
constexpr double kExpC3 = 0x1.555555555543cp-3;
constexpr double kExpC4 = 0x1.55555cf172b91p-5;
constexpr double kExpC5 = 0x1.1111167a4d017p-7;

// 2^(j/128) ~= H[j] (1 + T[j]); entry 2j holds the bits of T[j], entry 2j+1
// the bits of H[j] minus j << 45 (the exponent of 2^(k/128) is added later).
alignas(64) constexpr std::uint64_t kExpTable[256] = {
    0x0000000000000000, 0x3ff0000000000000, 0x3c9b3b4f1a88bf6e, 0x3feff63da9fb3335,
    0xbc7160139cd8dc5d, 0x3fefec9a3e778061, 0xbc905e7a108766d1, 0x3fefe315e86e7f85,
    0x3c8cd2523567f613, 0x3fefd9b0d3158574, 0xbc8bce8023f98efa, 0x3fefd06b29ddf6de,
    0x3c60f74e61e6c861, 0x3fefc74518759bc8, 0x3c90a3e45b33d399, 0x3fefbe3ecac6f383,
    0x3c979aa65d837b6d, 0x3fefb5586cf9890f, 0x3c8eb51a92fdeffc, 0x3fefac922b7247f7,
    0x3c3ebe3d702f9cd1, 0x3fefa3ec32d3d1a2, 0xbc6a033489906e0b, 0x3fef9b66affed31b,
    0xbc9556522a2fbd0e, 0x3fef9301d0125b51, 0xbc5080ef8c4eea55, 0x3fef8abdc06c31cc,
    0xbc91c923b9d5f416, 0x3fef829aaea92de0, 0x3c80d3e3e95c55af, 0x3fef7a98c8a58e51,
    0xbc801b15eaa59348, 0x3fef72b83c7d517b, 0xbc8f1ff055de323d, 0x3fef6af9388c8dea,
    0x3c8b898c3f1353bf, 0x3fef635beb6fcb75, 0xbc96d99c7611eb26, 0x3fef5be084045cd4,
    0x3c9aecf73e3a2f60, 0x3fef54873168b9aa, 0xbc8fe782cb86389d, 0x3fef4d5022fcd91d,
    0x3c8a6f4144a6c38d, 0x3fef463b88628cd6, 0x3c807a05b0e4047d, 0x3fef3f49917ddc96,
    0x3c968efde3a8a894, 0x3fef387a6e756238, 0x3c875e18f274487d, 0x3fef31ce4fb2a63f,
    0x3c80472b981fe7f2, 0x3fef2b4565e27cdd, 0xbc96b87b3f71085e, 0x3fef24dfe1f56381,
    0x3c82f7e16d09ab31, 0x3fef1e9df51fdee1, 0xbc3d219b1a6fbffa, 0x3fef187fd0dad990,
    0x3c8b3782720c0ab4, 0x3fef1285a6e4030b, 0x3c6e149289cecb8f, 0x3fef0cafa93e2f56,
    0x3c834d754db0abb6, 0x3fef06fe0a31b715, 0x3c864201e2ac744c, 0x3fef0170fc4cd831,
    0x3c8fdd395dd3f84a, 0x3feefc08b26416ff, 0xbc86a3803b8e5b04, 0x3feef6c55f929ff1,
    0xbc924aedcc4b5068, 0x3feef1a7373aa9cb, 0xbc9907f81b512d8e, 0x3feeecae6d05d866,
    0xbc71d1e83e9436d2, 0x3feee7db34e59ff7, 0xbc991919b3ce1b15, 0x3feee32dc313a8e5,
    0x3c859f48a72a4c6d, 0x3feedea64c123422, 0xbc9312607a28698a, 0x3feeda4504ac801c,
    0xbc58a78f4817895b, 0x3feed60a21f72e2a, 0xbc7c2c9b67499a1b, 0x3feed1f5d950a897,
    0x3c4363ed60c2ac11, 0x3feece086061892d, 0x3c9666093b0664ef, 0x3feeca41ed1d0057,
    0x3c6ecce1daa10379, 0x3feec6a2b5c13cd0, 0x3c93ff8e3f0f1230, 0x3feec32af0d7d3de,
    0x3c7690cebb7aafb0, 0x3feebfdad5362a27, 0x3c931dbdeb54e077, 0x3feebcb299fddd0d,
    0xbc8f94340071a38e, 0x3feeb9b2769d2ca7, 0xbc87deccdc93a349, 0x3feeb6daa2cf6642,
    0xbc78dec6bd0f385f, 0x3feeb42b569d4f82, 0xbc861246ec7b5cf6, 0x3feeb1a4ca5d920f,
    0x3c93350518fdd78e, 0x3feeaf4736b527da, 0x3c7b98b72f8a9b05, 0x3feead12d497c7fd,
    0x3c9063e1e21c5409, 0x3feeab07dd485429, 0x3c34c7855019c6ea, 0x3feea9268a5946b7,
    0x3c9432e62b64c035, 0x3feea76f15ad2148, 0xbc8ce44a6199769f, 0x3feea5e1b976dc09,
    0xbc8c33c53bef4da8, 0x3feea47eb03a5585, 0xbc845378892be9ae, 0x3feea34634ccc320,
    0xbc93cedd78565858, 0x3feea23882552225, 0x3c5710aa807e1964, 0x3feea155d44ca973,
    0xbc93b3efbf5e2228, 0x3feea09e667f3bcd, 0xbc6a12ad8734b982, 0x3feea012750bdabf,
    0xbc6367efb86da9ee, 0x3fee9fb23c651a2f, 0xbc80dc3d54e08851, 0x3fee9f7df9519484,
    0xbc781f647e5a3ecf, 0x3fee9f75e8ec5f74, 0xbc86ee4ac08b7db0, 0x3fee9f9a48a58174,
    0xbc8619321e55e68a, 0x3fee9feb564267c9, 0x3c909ccb5e09d4d3, 0x3feea0694fde5d3f,
    0xbc7b32dcb94da51d, 0x3feea11473eb0187, 0x3c94ecfd5467c06b, 0x3feea1ed0130c132,
    0x3c65ebe1abd66c55, 0x3feea2f336cf4e62, 0xbc88a1c52fb3cf42, 0x3feea427543e1a12,
    0xbc9369b6f13b3734, 0x3feea589994cce13, 0xbc805e843a19ff1e, 0x3feea71a4623c7ad,
    0xbc94d450d872576e, 0x3feea8d99b4492ed, 0x3c90ad675b0e8a00, 0x3feeaac7d98a6699,
    0x3c8db72fc1f0eab4, 0x3feeace5422aa0db, 0xbc65b6609cc5e7ff, 0x3feeaf3216b5448c,
    0x3c7bf68359f35f44, 0x3feeb1ae99157736, 0xbc93091fa71e3d83, 0x3feeb45b0b91ffc6,
    0xbc5da9b88b6c1e29, 0x3feeb737b0cdc5e5, 0xbc6c23f97c90b959, 0x3feeba44cbc8520f,
    0xbc92434322f4f9aa, 0x3feebd829fde4e50, 0xbc85ca6cd7668e4b, 0x3feec0f170ca07ba,
    0x3c71affc2b91ce27, 0x3feec49182a3f090, 0x3c6dd235e10a73bb, 0x3feec86319e32323,
    0xbc87c50422622263, 0x3feecc667b5de565, 0x3c8b1c86e3e231d5, 0x3feed09bec4a2d33,
    0xbc91bbd1d3bcbb15, 0x3feed503b23e255d, 0x3c90cc319cee31d2, 0x3feed99e1330b358,
    0x3c8469846e735ab3, 0x3feede6b5579fdbf, 0xbc82dfcd978e9db4, 0x3feee36bbfd3f37a,
    0x3c8c1a7792cb3387, 0x3feee89f995ad3ad, 0xbc907b8f4ad1d9fa, 0x3feeee07298db666,
    0xbc55c3d956dcaeba, 0x3feef3a2b84f15fb, 0xbc90a40e3da6f640, 0x3feef9728de5593a,
    0xbc68d6f438ad9334, 0x3feeff76f2fb5e47, 0xbc91eee26b588a35, 0x3fef05b030a1064a,
    0x3c74ffd70a5fddcd, 0x3fef0c1e904bc1d2, 0xbc91bdfbfa9298ac, 0x3fef12c25bd71e09,
    0x3c736eae30af0cb3, 0x3fef199bdd85529c, 0x3c8ee3325c9ffd94, 0x3fef20ab5fffd07a,
    0x3c84e08fd10959ac, 0x3fef27f12e57d14b, 0x3c63cdaf384e1a67, 0x3fef2f6d9406e7b5,
    0x3c676b2c6c921968, 0x3fef3720dcef9069, 0xbc808a1883ccb5d2, 0x3fef3f0b555dc3fa,
    0xbc8fad5d3ffffa6f, 0x3fef472d4a07897c, 0xbc900dae3875a949, 0x3fef4f87080d89f2,
    0x3c74a385a63d07a7, 0x3fef5818dcfba487, 0xbc82919e2040220f, 0x3fef60e316c98398,
    0x3c8e5a50d5c192ac, 0x3fef69e603db3285, 0x3c843a59ac016b4b, 0x3fef7321f301b460,
    0xbc82d52107b43e1f, 0x3fef7c97337b9b5f, 0xbc892ab93b470dc9, 0x3fef864614f5a129,
    0x3c74b604603a88d3, 0x3fef902ee78b3ff6, 0x3c83c5ec519d7271, 0x3fef9a51fbc74c83,
    0xbc8ff7128fd391f0, 0x3fefa4afa2a490da, 0xbc8dae98e223747d, 0x3fefaf482d8e67f1,
    0x3c8ec3bc41aa2008, 0x3fefba1bee615a27, 0x3c842b94c3a9eb32, 0x3fefc52b376bba97,
    0x3c8a64a931d185ee, 0x3fefd0765b6e4540, 0xbc8e37bae43be3ed, 0x3fefdbfdad9cbe14,
    0x3c77893b4d91cd9d, 0x3fefe7c1819e90d8, 0x3c5305c14160cc89, 0x3feff3c22b8f71f1,
};

// log: x = 2^k z with z in [0x1.6p-1, 0x1.6p0), z near the centre c of one of
// 128 cells, log(x) = k ln2 + log(c) + log1p(z/c - 1).
constexpr std::uint64_t kLogOff = 0x3fe6000000000000;
constexpr double kLogLn2Hi = 0x1.62e42fefa3800p-1;
constexpr double kLogLn2Lo = 0x1.ef35793c76730p-45;
constexpr double kLogA0 = -0x1.0000000000001p-1;
constexpr double kLogA1 = 0x1.555555551305bp-2;
constexpr double kLogA2 = -0x1.fffffffeb459p-3;
constexpr double kLogA3 = 0x1.999b324f10111p-3;
constexpr double kLogA4 = -0x1.55575e506c89fp-3;
// Near 1 a single polynomial in r = x - 1 replaces the table; B0 is -1/2.
constexpr double kLogNearLow = 1.0 - 0x1p-4;
constexpr double kLogNearHigh = 1.0 + 0x1.09p-4;
constexpr double kLogB[11] = {
    -0x1p-1,
    0x1.5555555555577p-2,
    -0x1.ffffffffffdcbp-3,
    0x1.999999995dd0cp-3,
    -0x1.55555556745a7p-3,
    0x1.24924a344de3p-3,
    -0x1.fffffa4423d65p-4,
    0x1.c7184282ad6cap-4,
    -0x1.999eb43b068ffp-4,
    0x1.78182f7afd085p-4,
    -0x1.5521375d145cdp-4,
};

// Cell i: entry 2i is 1/c, entry 2i+1 is log(c).
alignas(64) constexpr double kLogTable[256] = {
    0x1.734f0c3e0de9fp+0, -0x1.7cc7f79e69000p-2, 0x1.713786a2ce91fp+0, -0x1.76feec20d0000p-2,
    0x1.6f26008fab5a0p+0, -0x1.713e31351e000p-2, 0x1.6d1a61f138c7dp+0, -0x1.6b85b38287800p-2,
    0x1.6b1490bc5b4d1p+0, -0x1.65d5590807800p-2, 0x1.69147332f0cbap+0, -0x1.602d076180000p-2,
    0x1.6719f18224223p+0, -0x1.5a8ca86909000p-2, 0x1.6524f99a51ed9p+0, -0x1.54f4356035000p-2,
    0x1.63356aa8f24c4p+0, -0x1.4f637c36b4000p-2, 0x1.614b36b9ddc14p+0, -0x1.49da7fda85000p-2,
    0x1.5f66452c65c4cp+0, -0x1.445923989a800p-2, 0x1.5d867b5912c4fp+0, -0x1.3edf439b0b800p-2,
    0x1.5babccb5b90dep+0, -0x1.396ce448f7000p-2, 0x1.59d61f2d91a78p+0, -0x1.3401e17bda000p-2,
    0x1.5805612465687p+0, -0x1.2e9e2ef468000p-2, 0x1.56397cee76bd3p+0, -0x1.2941b3830e000p-2,
    0x1.54725e2a77f93p+0, -0x1.23ec58cda8800p-2, 0x1.52aff42064583p+0, -0x1.1e9e129279000p-2,
    0x1.50f22dbb2bddfp+0, -0x1.1956d2b48f800p-2, 0x1.4f38f4734ded7p+0, -0x1.141679ab9f800p-2,
    0x1.4d843cfde2840p+0, -0x1.0edd094ef9800p-2, 0x1.4bd3ec078a3c8p+0, -0x1.09aa518db1000p-2,
    0x1.4a27fc3e0258ap+0, -0x1.047e65263b800p-2, 0x1.4880524d48434p+0, -0x1.feb224586f000p-3,
    0x1.46dce1b192d0bp+0, -0x1.f474a7517b000p-3, 0x1.453d9d3391854p+0, -0x1.ea4443d103000p-3,
    0x1.43a2744b4845ap+0, -0x1.e020d44e9b000p-3, 0x1.420b54115f8fbp+0, -0x1.d60a22977f000p-3,
    0x1.40782da3ef4b1p+0, -0x1.cc00104959000p-3, 0x1.3ee8f5d57fe8fp+0, -0x1.c202956891000p-3,
    0x1.3d5d9a00b4ce9p+0, -0x1.b81178d811000p-3, 0x1.3bd60c010c12bp+0, -0x1.ae2c9ccd3d000p-3,
    0x1.3a5242b75dab8p+0, -0x1.a45402e129000p-3, 0x1.38d22cd9fd002p+0, -0x1.9a877681df000p-3,
    0x1.3755bc5847a1cp+0, -0x1.90c6d69483000p-3, 0x1.35dce49ad36e2p+0, -0x1.87120a645c000p-3,
    0x1.34679984dd440p+0, -0x1.7d68fb4143000p-3, 0x1.32f5cceffcb24p+0, -0x1.73cb83c627000p-3,
    0x1.3187775a10d49p+0, -0x1.6a39a9b376000p-3, 0x1.301c8373e3990p+0, -0x1.60b3154b7a000p-3,
    0x1.2eb4ebb95f841p+0, -0x1.5737d76243000p-3, 0x1.2d50a0219a9d1p+0, -0x1.4dc7b8fc23000p-3,
    0x1.2bef9a8b7fd2ap+0, -0x1.4462c51d20000p-3, 0x1.2a91c7a0c1babp+0, -0x1.3b08abc830000p-3,
    0x1.293726014b530p+0, -0x1.31b996b490000p-3, 0x1.27dfa5757a1f5p+0, -0x1.2875490a44000p-3,
    0x1.268b39b1d3bbfp+0, -0x1.1f3b9f879a000p-3, 0x1.2539d838ff5bdp+0, -0x1.160c8252ca000p-3,
    0x1.23eb7aac9083bp+0, -0x1.0ce7f57f72000p-3, 0x1.22a012ba940b6p+0, -0x1.03cdc49fea000p-3,
    0x1.2157996cc4132p+0, -0x1.f57bdbc4b8000p-4, 0x1.201201dd2fc9bp+0, -0x1.e370896404000p-4,
    0x1.1ecf4494d480bp+0, -0x1.d17983ef94000p-4, 0x1.1d8f5528f6569p+0, -0x1.bf9674ed8a000p-4,
    0x1.1c52311577e7cp+0, -0x1.adc79202f6000p-4, 0x1.1b17c74cb26e9p+0, -0x1.9c0c3e7288000p-4,
    0x1.19e010c2c1ab6p+0, -0x1.8a646b372c000p-4, 0x1.18ab07bb670bdp+0, -0x1.78d01b3ac0000p-4,
    0x1.1778a25efbcb6p+0, -0x1.674f145380000p-4, 0x1.1648d354c31dap+0, -0x1.55e0e6d878000p-4,
    0x1.151b990275fddp+0, -0x1.4485cdea1e000p-4, 0x1.13f0ea432d24cp+0, -0x1.333d94d6aa000p-4,
    0x1.12c8b7210f9dap+0, -0x1.22079f8c56000p-4, 0x1.11a3028ecb531p+0, -0x1.10e4698622000p-4,
    0x1.107fbda8434afp+0, -0x1.ffa6c6ad20000p-5, 0x1.0f5ee0f4e6bb3p+0, -0x1.dda8d4a774000p-5,
    0x1.0e4065d2a9fcep+0, -0x1.bbcece4850000p-5, 0x1.0d244632ca521p+0, -0x1.9a1894012c000p-5,
    0x1.0c0a77ce2981ap+0, -0x1.788583302c000p-5, 0x1.0af2f83c636d1p+0, -0x1.5715e67d68000p-5,
    0x1.09ddb98a01339p+0, -0x1.35c8a49658000p-5, 0x1.08cabaf52e7dfp+0, -0x1.149e364154000p-5,
    0x1.07b9f2f4e28fbp+0, -0x1.e72c082eb8000p-6, 0x1.06ab58c358f19p+0, -0x1.a55f152528000p-6,
    0x1.059eea5ecf92cp+0, -0x1.63d62cf818000p-6, 0x1.04949cdd12c90p+0, -0x1.228fb8caa0000p-6,
    0x1.038c6c6f0ada9p+0, -0x1.c317b20f90000p-7, 0x1.02865137932a9p+0, -0x1.419355daa0000p-7,
    0x1.0182427ea7348p+0, -0x1.81203c2ec0000p-8, 0x1.008040614b195p+0, -0x1.0040979240000p-9,
    0x1.fe01ff726fa1ap-1, 0x1.feff384900000p-9,  0x1.fa11cc261ea74p-1, 0x1.7dc41353d0000p-7,
    0x1.f6310b081992ep-1, 0x1.3cea3c4c28000p-6,  0x1.f25f63ceeadcdp-1, 0x1.b9fc114890000p-6,
    0x1.ee9c8039113e7p-1, 0x1.1b0d8ce110000p-5,  0x1.eae8078cbb1abp-1, 0x1.58a5bd001c000p-5,
    0x1.e741aa29d0c9bp-1, 0x1.95c8340d88000p-5,  0x1.e3a91830a99b5p-1, 0x1.d276aef578000p-5,
    0x1.e01e009609a56p-1, 0x1.07598e598c000p-4,  0x1.dca01e577bb98p-1, 0x1.253f5e30d2000p-4,
    0x1.d92f20b7c9103p-1, 0x1.42edd8b380000p-4,  0x1.d5cac66fb5ccep-1, 0x1.606598757c000p-4,
    0x1.d272caa5ede9dp-1, 0x1.7da76356a0000p-4,  0x1.cf26e3e6b2ccdp-1, 0x1.9ab434e1c6000p-4,
    0x1.cbe6da2a77902p-1, 0x1.b78c7bb0d6000p-4,  0x1.c8b266d37086dp-1, 0x1.d431332e72000p-4,
    0x1.c5894bd5d5804p-1, 0x1.f0a3171de6000p-4,  0x1.c26b533bb9f8cp-1, 0x1.067152b914000p-3,
    0x1.bf583eeece73fp-1, 0x1.147858292b000p-3,  0x1.bc4fd75db96c1p-1, 0x1.2266ecdca3000p-3,
    0x1.b951e0c864a28p-1, 0x1.303d7a6c55000p-3,  0x1.b65e2c5ef3e2cp-1, 0x1.3dfc33c331000p-3,
    0x1.b374867c9888bp-1, 0x1.4ba366b7a8000p-3,  0x1.b094b211d304ap-1, 0x1.5933928d1f000p-3,
    0x1.adbe885f2ef7ep-1, 0x1.66acd2418f000p-3,  0x1.aaf1d31603da2p-1, 0x1.740f8ec669000p-3,
    0x1.a82e63fd358a7p-1, 0x1.815c0f51af000p-3,  0x1.a5740ef09738bp-1, 0x1.8e92954f68000p-3,
    0x1.a2c2a90ab4b27p-1, 0x1.9bb3602f84000p-3,  0x1.a01a01393f2d1p-1, 0x1.a8bed1c2c0000p-3,
    0x1.9d79f24db3c1bp-1, 0x1.b5b515c01d000p-3,  0x1.9ae2505c7b190p-1, 0x1.c2967ccbcc000p-3,
    0x1.9852ef297ce2fp-1, 0x1.cf635d5486000p-3,  0x1.95cbaeea44b75p-1, 0x1.dc1bd3446c000p-3,
    0x1.934c69de74838p-1, 0x1.e8c01b8cfe000p-3,  0x1.90d4f2f6752e6p-1, 0x1.f5509c0179000p-3,
    0x1.8e6528effd79dp-1, 0x1.00e6c121fb800p-2,  0x1.8bfce9fcc007cp-1, 0x1.071b80e93d000p-2,
    0x1.899c0dabec30ep-1, 0x1.0d46b9e867000p-2,  0x1.87427aa2317fbp-1, 0x1.13687334bd000p-2,
    0x1.84f00acb39a08p-1, 0x1.1980d67234800p-2,  0x1.82a49e8653e55p-1, 0x1.1f8ffe0cc8000p-2,
    0x1.8060195f40260p-1, 0x1.2595fd7636800p-2,  0x1.7e22563e0a329p-1, 0x1.2b9300914a800p-2,
    0x1.7beb377dcb5adp-1, 0x1.3187210436000p-2,  0x1.79baa679725c2p-1, 0x1.377266dec1800p-2,
    0x1.77907f2170657p-1, 0x1.3d54ffbaf3000p-2,  0x1.756cadbd6130cp-1, 0x1.432eee32fe000p-2,
};

__m256d TOV_AVX2 broadcast(double v) { return _mm256_set1_pd(v); }

__m256d TOV_AVX2 in_range(__m256d x, double low, double high) {
  return _mm256_and_pd(_mm256_cmp_pd(x, broadcast(low), _CMP_GE_OQ),
                       _mm256_cmp_pd(x, broadcast(high), _CMP_LE_OQ));
}

// first[i], second[i] = table[2 cell[i]], table[2 cell[i] + 1]. Four 16-byte
// loads and two shuffles are faster than two gathers on many CPUs.
void TOV_AVX2 load_pairs(const double* table, __m256i cell, __m256d& first, __m256d& second) {
  const __m128d p0 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 0));
  const __m128d p1 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 1));
  const __m128d p2 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 2));
  const __m128d p3 = _mm_load_pd(table + 2 * _mm256_extract_epi64(cell, 3));
  const __m256d even = _mm256_set_m128d(p2, p0);
  const __m256d odd = _mm256_set_m128d(p3, p1);
  first = _mm256_unpacklo_pd(even, odd);
  second = _mm256_unpackhi_pd(even, odd);
}

struct ExpRoutine {
  static double scalar(double x) { return std::exp(x); }

  // Bit i of on_path is set when lane i is on glibc's main path, 2^-54 <=
  // |x| < 512; the other lanes of the result are meaningless.
  static __m256d TOV_AVX2 lanes(__m256d x, int& on_path) {
    const __m256d abs_x = _mm256_andnot_pd(broadcast(-0.0), x);
    on_path = _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(abs_x, broadcast(0x1p-54), _CMP_GE_OQ),
                                               _mm256_cmp_pd(abs_x, broadcast(512.0), _CMP_LT_OQ)));
    // Adding the shift rounds x 128/ln2 to the integer k, left in the low bits.
    __m256d kd = _mm256_fmadd_pd(x, broadcast(kExpInvLn2N), broadcast(kExpShift));
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, broadcast(kExpShift));
    const __m256d r = _mm256_fmadd_pd(kd, broadcast(kExpNegLn2LoN),
                                      _mm256_fmadd_pd(kd, broadcast(kExpNegLn2HiN), x));
    const __m256i cell = _mm256_and_si256(ki, _mm256_set1_epi64x(127));
    __m256d tail;
    __m256d head;
    load_pairs(reinterpret_cast<const double*>(kExpTable), cell, tail, head);
    const __m256d scale =
        _mm256_castsi256_pd(_mm256_add_epi64(_mm256_castpd_si256(head), _mm256_slli_epi64(ki, 45)));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d low = _mm256_fmadd_pd(
        r2, _mm256_fmadd_pd(r, broadcast(kExpC3), broadcast(kExpC2)), _mm256_add_pd(tail, r));
    const __m256d tmp = _mm256_fmadd_pd(
        _mm256_mul_pd(r2, r2), _mm256_fmadd_pd(r, broadcast(kExpC5), broadcast(kExpC4)), low);
    return _mm256_fmadd_pd(scale, tmp, scale);
  }
};

struct LogRoutine {
  static double scalar(double x) { return std::log(x); }

  // B[i] + r B[i+1] + r^2 B[i+2].
  static __m256d TOV_AVX2 terms(__m256d r, __m256d r2, int i) {
    return _mm256_fmadd_pd(r2, broadcast(kLogB[i + 2]),
                           _mm256_fmadd_pd(r, broadcast(kLogB[i + 1]), broadcast(kLogB[i])));
  }

  // log for x in [kLogNearLow, kLogNearHigh), where glibc does not use the
  // table.
  static __m256d TOV_AVX2 near_one(__m256d x) {
    const __m256d r = _mm256_sub_pd(x, broadcast(1.0));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d r3 = _mm256_mul_pd(r, r2);
    const __m256d p7 = _mm256_fmadd_pd(r3, broadcast(kLogB[10]), terms(r, r2, 7));
    const __m256d p4 = _mm256_fmadd_pd(r3, p7, terms(r, r2, 4));
    const __m256d p1 = _mm256_fmadd_pd(r3, p4, terms(r, r2, 1));
    // r + B0 r^2 in two parts: r is split so that the square of its high
    // part loses nothing.
    const __m256d w = _mm256_mul_pd(r, broadcast(0x1p27));
    const __m256d r_hi = _mm256_sub_pd(_mm256_add_pd(r, w), w);
    const __m256d r_lo = _mm256_sub_pd(r, r_hi);
    const __m256d square = _mm256_mul_pd(r_hi, r_hi);
    const __m256d hi = _mm256_fmadd_pd(square, broadcast(kLogB[0]), r);
    __m256d lo = _mm256_fmadd_pd(square, broadcast(kLogB[0]), _mm256_sub_pd(r, hi));
    lo = _mm256_fmadd_pd(_mm256_mul_pd(broadcast(kLogB[0]), r_lo), _mm256_add_pd(r_hi, r), lo);
    return _mm256_add_pd(_mm256_fmadd_pd(r3, p1, lo), hi);
  }

  // Bit i of on_path is set when lane i is a positive normal number (glibc
  // takes 0, negatives, subnormals, inf and NaN aside).
  static __m256d TOV_AVX2 lanes(__m256d x, int& on_path) {
    on_path = _mm256_movemask_pd(
        in_range(x, std::numeric_limits<double>::min(), std::numeric_limits<double>::max()));
    const __m256i ix = _mm256_castpd_si256(x);
    const __m256i tmp = _mm256_sub_epi64(ix, _mm256_set1_epi64x(kLogOff));
    const __m256i cell = _mm256_and_si256(_mm256_srli_epi64(tmp, 45), _mm256_set1_epi64x(127));
    // k is the top 12 bits of tmp, signed; k + 2048 placed in the low bits of
    // 2^52 converts it exactly (AVX2 has no 64-bit arithmetic shift).
    const __m256i k_biased =
        _mm256_xor_si256(_mm256_srli_epi64(tmp, 52), _mm256_set1_epi64x(0x800));
    const __m256d kd = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(k_biased, _mm256_set1_epi64x(0x4330000000000000))),
        broadcast(0x1p52 + 2048.0));
    const __m256d z = _mm256_castsi256_pd(_mm256_sub_epi64(
        ix, _mm256_and_si256(tmp, _mm256_set1_epi64x(static_cast<long long>(0xfffULL << 52)))));
    __m256d inv_c;
    __m256d log_c;
    load_pairs(kLogTable, cell, inv_c, log_c);

    const __m256d r = _mm256_fmadd_pd(z, inv_c, broadcast(-1.0));
    const __m256d w = _mm256_fmadd_pd(kd, broadcast(kLogLn2Hi), log_c);
    const __m256d hi = _mm256_add_pd(w, r);
    const __m256d lo =
        _mm256_fmadd_pd(kd, broadcast(kLogLn2Lo), _mm256_add_pd(_mm256_sub_pd(w, hi), r));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d inner =
        _mm256_fmadd_pd(r2, _mm256_fmadd_pd(r, broadcast(kLogA4), broadcast(kLogA3)),
                        _mm256_fmadd_pd(r, broadcast(kLogA2), broadcast(kLogA1)));
    const __m256d sum =
        _mm256_fmadd_pd(_mm256_mul_pd(r, r2), inner, _mm256_fmadd_pd(r2, broadcast(kLogA0), lo));
    const __m256d y = _mm256_add_pd(sum, hi);

    const __m256d near = _mm256_and_pd(_mm256_cmp_pd(x, broadcast(kLogNearLow), _CMP_GE_OQ),
                                       _mm256_cmp_pd(x, broadcast(kLogNearHigh), _CMP_LT_OQ));
    if (_mm256_movemask_pd(near) == 0) return y;
    return _mm256_blendv_pd(y, near_one(x), near);
  }
};

// Bit i of on_path is set when both arguments of lane i have magnitudes in
// [2^-450, 2^511]. There no product below overflows or is subnormal, so the
// result is the one glibc computes whether or not it scales the arguments
// (it does for tiny or huge ones), and inf, NaN and 0 are left out.
__m256d TOV_AVX2 hypot_lanes(__m256d x, __m256d y, int& on_path) {
  const __m256d abs_x = _mm256_andnot_pd(broadcast(-0.0), x);
  const __m256d abs_y = _mm256_andnot_pd(broadcast(-0.0), y);
  on_path = _mm256_movemask_pd(
      _mm256_and_pd(in_range(abs_x, 0x1p-450, 0x1p511), in_range(abs_y, 0x1p-450, 0x1p511)));
  const __m256d ax = _mm256_max_pd(abs_x, abs_y);
  const __m256d ay = _mm256_min_pd(abs_x, abs_y);
  const __m256d two = broadcast(2.0);
  const __m256d h = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(ax, ax), _mm256_mul_pd(ay, ay)));

  // The correction (h^2 - ax^2 - ay^2) / 2h, its numerator arranged to cancel
  // exactly, in two forms depending on whether h <= 2 ay.
  const __m256d close = _mm256_cmp_pd(h, _mm256_mul_pd(two, ay), _CMP_LE_OQ);
  const __m256d d_close = _mm256_sub_pd(h, ay);
  const __m256d t1_close = _mm256_mul_pd(ax, _mm256_sub_pd(_mm256_mul_pd(two, d_close), ax));
  const __m256d t2_close =
      _mm256_mul_pd(_mm256_sub_pd(d_close, _mm256_mul_pd(two, _mm256_sub_pd(ax, ay))), d_close);
  const __m256d d_far = _mm256_sub_pd(h, ax);
  const __m256d t1_far =
      _mm256_mul_pd(_mm256_mul_pd(two, d_far), _mm256_sub_pd(ax, _mm256_mul_pd(two, ay)));
  const __m256d t2_far =
      _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(broadcast(4.0), d_far), ay), ay),
                    _mm256_mul_pd(d_far, d_far));
  const __m256d t = _mm256_add_pd(_mm256_blendv_pd(t1_far, t1_close, close),
                                  _mm256_blendv_pd(t2_far, t2_close, close));
  const __m256d corrected = _mm256_sub_pd(h, _mm256_div_pd(t, _mm256_mul_pd(two, h)));

  // An argument below 2^-54 of the other only rounds it: glibc returns the sum.
  const __m256d negligible = _mm256_cmp_pd(ay, _mm256_mul_pd(ax, broadcast(0x1p-54)), _CMP_LE_OQ);
  return _mm256_blendv_pd(corrected, _mm256_add_pd(ax, ay), negligible);
}

template <typename Routine>
void TOV_AVX2 unary_avx2(const double* x, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d args = _mm256_loadu_pd(x + i);
    int on_path = 0;
    const __m256d results = Routine::lanes(args, on_path);
    if (on_path == 0xF) {
      _mm256_storeu_pd(out + i, results);
      continue;
    }
    // Copies first: out may be x.
    alignas(32) double arg[4];
    alignas(32) double result[4];
    _mm256_store_pd(arg, args);
    _mm256_store_pd(result, results);
    for (std::size_t j = 0; j < 4; ++j) {
      out[i + j] = (on_path >> j & 1) != 0 ? result[j] : Routine::scalar(arg[j]);
    }
  }
  for (; i < n; ++i) out[i] = Routine::scalar(x[i]);
}

void TOV_AVX2 hypot_avx2(const double* x, const double* y, double* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d xs = _mm256_loadu_pd(x + i);
    const __m256d ys = _mm256_loadu_pd(y + i);
    int on_path = 0;
    const __m256d results = hypot_lanes(xs, ys, on_path);
    if (on_path == 0xF) {
      _mm256_storeu_pd(out + i, results);
      continue;
    }
    alignas(32) double x_arg[4];
    alignas(32) double y_arg[4];
    alignas(32) double result[4];
    _mm256_store_pd(x_arg, xs);
    _mm256_store_pd(y_arg, ys);
    _mm256_store_pd(result, results);
    for (std::size_t j = 0; j < 4; ++j) {
      out[i + j] = (on_path >> j & 1) != 0 ? result[j] : std::hypot(x_arg[j], y_arg[j]);
    }
  }
  for (; i < n; ++i) out[i] = std::hypot(x[i], y[i]);
}

#undef TOV_AVX2

// Inputs of the self-check ------------------------------------------------

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

template <typename Routine>
bool agrees(const std::vector<double>& args) {
  std::vector<double> vector_results(args.size());
  std::vector<double> scalar_results(args.size());
  unary_avx2<Routine>(args.data(), vector_results.data(), args.size());
  for (std::size_t i = 0; i < args.size(); ++i) scalar_results[i] = Routine::scalar(args[i]);
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

Routines check_routines() {
  Routines routines;
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return routines;
  routines.exp = agrees<ExpRoutine>(exp_check_args());
  routines.log = agrees<LogRoutine>(log_check_args());
  routines.hypot = hypot_agrees(hypot_check_args());
  return routines;
}

#else

Routines check_routines() { return {}; }

#endif

const Routines& routines() {
  static const Routines checked = check_routines();
  return checked;
}

std::atomic<bool> vector_paths{true};

// Signature -----------------------------------------------------------------

enum class Function : std::uint8_t {
  kExp,
  kLog,
  kSin,
  kCos,
  kAtan2,
  kSinh,
  kCosh,
  kHypot,
  kSqrt,
  kExpm1
};

struct Probe {
  Function function;
  std::uint64_t a;
  std::uint64_t b;
};

// Mostly arguments where glibc's FMA and SSE2 builds disagree.
constexpr Probe kProbes[] = {
    {Function::kExp, 0xbf92e485efbb8664, 0},
    {Function::kExp, 0x407c58866f49ef2f, 0},
    {Function::kLog, 0x3ff6d3acaf88ad08, 0},
    {Function::kLog, 0x3fee04e2c1b8bf86, 0},
    {Function::kSin, 0xbff3ed54162eb86c, 0},
    {Function::kSin, 0x400a5c5f05339d09, 0},
    {Function::kSin, 0x44b52d02c7e14af6, 0},
    {Function::kCos, 0x401463eb72196b0c, 0},
    {Function::kCos, 0x4020141b96131fa4, 0},
    {Function::kAtan2, 0xbfc6dd66cf304b58, 0x3fe51f53b82a1216},
    {Function::kAtan2, 0xbfc8d5bcc0508fec, 0x3fdc542cdb03b780},
    {Function::kSinh, 0xc022bbc5aac310a7, 0},
    {Function::kSinh, 0x400fa0540f803842, 0},
    {Function::kCosh, 0xc0320767d15fed33, 0},
    {Function::kCosh, 0x4023ef2392b97b88, 0},
    {Function::kHypot, 0x3ff8000000000000, 0x4004000000000000},
    {Function::kHypot, 0x3fe1e0b6f1d3a2c5, 0xbfd74f8c2a9e60b1},
    {Function::kSqrt, 0x4000000000000000, 0},
    {Function::kSqrt, 0x3fb999999999999a, 0},
    {Function::kExpm1, 0x4009550cb0890f19, 0},
    {Function::kExpm1, 0x3fd87afade8a3420, 0},
};

double evaluate(Function function, double a, double b) {
  switch (function) {
    case Function::kExp:
      return std::exp(a);
    case Function::kLog:
      return std::log(a);
    case Function::kSin:
      return std::sin(a);
    case Function::kCos:
      return std::cos(a);
    case Function::kAtan2:
      return std::atan2(a, b);
    case Function::kSinh:
      return std::sinh(a);
    case Function::kCosh:
      return std::cosh(a);
    case Function::kHypot:
      return std::hypot(a, b);
    case Function::kSqrt:
      return std::sqrt(a);
    case Function::kExpm1:
      return std::expm1(a);
  }
  return 0.0;
}

std::string make_signature() {
  std::uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
  for (const Probe& probe : kProbes) {
    // Read through volatile so that the compiler cannot evaluate the call
    // itself with its own arithmetic.
    const volatile double a = std::bit_cast<double>(probe.a);
    const volatile double b = std::bit_cast<double>(probe.b);
    const auto bits = std::bit_cast<std::uint64_t>(evaluate(probe.function, a, b));
    for (int byte = 0; byte < 8; ++byte) {
      hash ^= (bits >> (8 * byte)) & 0xff;
      hash *= 0x100000001b3;
    }
  }
  char hex[13];
  std::snprintf(hex, sizeof hex, "%012llx",
                static_cast<unsigned long long>(hash & 0xffffffffffffULL));

#if defined(__x86_64__)
  std::string signature = "x86_64";
#elif defined(__aarch64__)
  std::string signature = "aarch64";
#else
  std::string signature = "unknown";
#endif
#if defined(__GLIBC__)
  signature += std::string("-glibc") + gnu_get_libc_version();
#else
  signature += "-libc";
#endif
  signature += std::string("-") + hex + "-v:";
  const Routines& checked = routines();
  std::string names;
  for (const auto& [on, name] : {std::pair{checked.exp, "exp"}, std::pair{checked.log, "log"},
                                 std::pair{checked.hypot, "hypot"}}) {
    if (!on) continue;
    if (!names.empty()) names += ',';
    names += name;
  }
  return signature + (names.empty() ? "none" : names);
}

}  // namespace

void use_vector_paths(bool enabled) { vector_paths.store(enabled, std::memory_order_relaxed); }

void exp_n(const double* x, double* out, std::size_t n) {
#if defined(__x86_64__)
  if (routines().exp && vector_paths.load(std::memory_order_relaxed))
    return unary_avx2<ExpRoutine>(x, out, n);
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = std::exp(x[i]);
}

void log_n(const double* x, double* out, std::size_t n) {
#if defined(__x86_64__)
  if (routines().log && vector_paths.load(std::memory_order_relaxed))
    return unary_avx2<LogRoutine>(x, out, n);
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = std::log(x[i]);
}

void hypot_n(const double* x, const double* y, double* out, std::size_t n) {
#if defined(__x86_64__)
  if (routines().hypot && vector_paths.load(std::memory_order_relaxed))
    return hypot_avx2(x, y, out, n);
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = std::hypot(x[i], y[i]);
}

bool exp_vectorised() { return routines().exp; }
bool log_vectorised() { return routines().log; }
bool hypot_vectorised() { return routines().hypot; }

std::string math_signature() {
  static const std::string signature = make_signature();
  return signature;
}

}  // namespace tov::vmath
