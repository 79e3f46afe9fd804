// Building blocks of the numeric reading rule shared by the line reader and the dose-rate
// file: digit runs read eight at a time, exact scaling by powers of ten, and the fast reading
// of the fields the data files usually hold.
#pragma once

#include <fast_float/fast_float.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrane::number_detail {

// Powers of ten that 64 bits hold, up to 10^16.
// clang-format off
inline constexpr std::uint64_t kIntegerPowersOfTen[] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000, 10000000000,
    100000000000, 1000000000000, 10000000000000, 100000000000000, 1000000000000000,
    10000000000000000};
// clang-format on

// The value of a decimal digit; above 9 for any other character.
inline unsigned digit_value(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'};
}

// The run of decimal digits at the start of `chunk` (8 bytes, first in the lowest byte), at
// most 8 of them, read in one step: returns their count and stores their value.
inline int read_digit_run(std::uint64_t chunk, std::uint64_t& value) {
  // High bit set in each byte that is not a digit; exact up to the first such byte.
  const std::uint64_t not_digit =
      ((chunk + 0x4646464646464646) | (chunk - 0x3030303030303030)) & 0x8080808080808080;
  const int count = not_digit == 0 ? 8 : std::countr_zero(not_digit) >> 3;
  if (count == 0) {
    value = 0;
    return 0;
  }
  // Keep the digits, moved up so that zeros lead them, and combine them pairwise.
  chunk = (chunk - 0x3030303030303030) << (8 * (8 - count));
  chunk = chunk * 10 + (chunk >> 8);
  chunk = (((chunk & 0x000000FF000000FF) * 0x000F424000000064) +
           (((chunk >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >>
          32;
  value = chunk & 0xFFFFFFFF;
  return count;
}

// The double nearest to mantissa x 10^exponent, by the full parser on the digits written out:
// for the few products that to_double cannot settle.
double settle_by_full_parse(std::uint64_t mantissa, std::int64_t exponent);

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr std::int64_t kMaxExactPower = 22;
inline constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;

// The double nearest to mantissa x 10^exponent, for a mantissa of at most 19 digits.
// Where both factors are exact doubles one multiplication or division rounds correctly
// (Clinger's fast path); elsewhere the 128-bit product of the Eisel-Lemire method
// (fast_float's compute_float) settles it, which also rounds halfway cases to even.
inline double to_double(std::uint64_t mantissa, std::int64_t exponent) {
  if (exponent >= -kMaxExactPower && exponent <= kMaxExactPower && mantissa <= kMaxExactMantissa) {
    const double value = static_cast<double>(mantissa);
    return exponent < 0 ? value / kExactPowersOfTen[-exponent]
                        : value * kExactPowersOfTen[exponent];
  }
  using Binary = fast_float::binary_format<double>;
  const fast_float::adjusted_mantissa am = fast_float::compute_float<Binary>(exponent, mantissa);
  if (am.power2 < 0) return settle_by_full_parse(mantissa, exponent);
  double value;
  fast_float::to_float(false, am, value);
  return value;
}

// 10^e for e = -102 to 96, the exponents of "d.dddEsdd", as three doubles whose sum is within
// a few units of 2^-100 of it: the nearest double to 10^e cut into its upper 26 significant bits
// and the rest (each of them times a mantissa of at most four digits is exact), then the double
// nearest to what those two leave out. Together they give the correctly rounded double of every
// one of those numbers, as the tests check one by one.
inline constexpr int kFieldScaleLowest = -102;
// clang-format off
inline constexpr double kFieldScales[][3] = {
    {0x1.1eaff48000000p-339, 0x1.4c2a9e8000000p-366, 0x1.5b4fd4a341251p-393},  // 1e-102
    {0x1.665bf18000000p-336, 0x1.4f9aa34000000p-362, -0x1.4ddc3633ee91bp-390},  // 1e-101
    {0x1.bff2ee0000000p-333, 0x1.23814c0000000p-359, -0x1.42a68781d46c4p-388},  // 1e-100
    {0x1.17f7d48000000p-329, 0x1.b630cf8000000p-355, -0x1.9350296249875p-385},  // 1e-99
    {0x1.5df5ca0000000p-326, 0x1.477a068000000p-353, 0x1.81f6f3114905bp-380},  // 1e-98
    {0x1.b5733c8000000p-323, 0x1.9958888000000p-350, -0x1.1d8b502a64b8ep-377},  // 1e-97
    {0x1.1168058000000p-319, 0x1.bfebaa8000000p-345, 0x1.cd88ede5810c7p-373},  // 1e-96
    {0x1.55c2070000000p-316, 0x1.afe6954000000p-342, 0x1.03aca57b853e5p-372},  // 1e-95
    {0x1.ab32890000000p-313, 0x1.1be03a8000000p-339, 0x1.5125f3b699a38p-367},  // 1e-94
    {0x1.0aff958000000p-309, 0x1.316c248000000p-335, 0x1.d2b7b85220063p-363},  // 1e-93
    {0x1.4dbf7b0000000p-306, 0x1.fb8e5b8000000p-333, 0x1.1d96999aa01edp-362},  // 1e-92
    {0x1.a12f5a0000000p-303, 0x1.e9c7ca0000000p-332, -0x1.4d81dfff5beccp-358},  // 1e-91
    {0x1.04bd980000000p-299, 0x1.26439bc000000p-325, 0x1.7c76a00334606p-357},  // 1e-90
    {0x1.45ecfe0000000p-296, 0x1.6fd482c000000p-322, -0x1.c48d76ff7fd0fp-351},  // 1e-89
    {0x1.97683d8000000p-293, 0x1.cbc9a34000000p-319, 0x1.e52795a0501d7p-347},  // 1e-88
    {0x1.fd424d0000000p-290, 0x1.bebc0c4000000p-316, -0x1.431d09ef37b68p-345},  // 1e-87
    {0x1.3e49700000000p-286, 0x1.973587c000000p-312, -0x1.e4f9131ac1690p-340},  // 1e-86
    {0x1.8ddbcc0000000p-283, 0x1.fd02e98000000p-309, 0x1.4391503d1c797p-338},  // 1e-85
    {0x1.f152bf8000000p-280, 0x1.f10e900000000p-308, -0x1.35c52dd9ce342p-334},  // 1e-84
    {0x1.36d3b78000000p-276, 0x1.0daa468000000p-302, -0x1.8336795041c12p-331},  // 1e-83
    {0x1.8488a58000000p-273, 0x1.a229b00000000p-300, 0x1.0dfdf42dd6e75p-327},  // 1e-82
    {0x1.e5aacf0000000p-270, 0x1.0ab41c0000000p-297, 0x1.517d71394ca12p-324},  // 1e-81
    {0x1.2f8ac10000000p-266, 0x1.d35848c000000p-292, 0x1.a5dccd879fc96p-321},  // 1e-80
    {0x1.7b6d718000000p-263, 0x1.482e5b0000000p-289, 0x1.ea801d30f7784p-323},  // 1e-79
    {0x1.da48ce0000000p-260, 0x1.1a39f1c000000p-286, 0x1.3290123e9aab2p-319},  // 1e-78
    {0x1.286d808000000p-256, 0x1.b064370000000p-282, 0x1.85fcd05b39055p-310},  // 1e-77
    {0x1.7288e10000000p-253, 0x1.38fa898000000p-280, 0x1.e77c04720746bp-307},  // 1e-76
    {0x1.cf2b190000000p-250, 0x1.c39c960000000p-276, 0x1.615b058e89186p-304},  // 1e-75
    {0x1.217aef8000000p-246, 0x1.9a41ddc000000p-272, 0x1.b9b1c6f22b5e7p-301},  // 1e-74
    {0x1.69d9ab8000000p-243, 0x1.80d2554000000p-269, 0x1.40f1c575b1b06p-301},  // 1e-73
    {0x1.c450168000000p-240, 0x1.6106ea8000000p-266, 0x1.1912e36d31e1cp-294},  // 1e-72
    {0x1.1ab20e0000000p-236, 0x1.1ca4528000000p-262, 0x1.afabce243f2d2p-290},  // 1e-71
    {0x1.615e918000000p-233, 0x1.63cd674000000p-259, 0x1.b96c1ad4ef863p-291},  // 1e-70
    {0x1.b9b6360000000p-230, 0x1.3cc0c10000000p-256, 0x1.227c7218a2b68p-284},  // 1e-69
    {0x1.1411e18000000p-226, 0x1.c5f878c000000p-252, -0x1.4a7238b09a4dfp-280},  // 1e-68
    {0x1.59165a0000000p-223, 0x1.b77696c000000p-249, 0x1.62f139233f1e9p-277},  // 1e-67
    {0x1.af5bf10000000p-220, 0x1.2aa1e40000000p-249, 0x1.775b0ed81dcc7p-275},  // 1e-66
    {0x1.0d99768000000p-216, 0x1.2ea94b8000000p-243, 0x1.754c74a3894fep-270},  // 1e-65
    {0x1.50ffd40000000p-213, 0x1.3d29cf4000000p-239, 0x1.a53f2398d747bp-268},  // 1e-64
    {0x1.a53fc90000000p-210, 0x1.8c74434000000p-236, -0x1.f8b889c079733p-264},  // 1e-63
    {0x1.0747dd8000000p-206, 0x1.77c8aa0000000p-232, -0x1.76e6ac3097d00p-261},  // 1e-62
    {0x1.4919d50000000p-203, 0x1.55bad48000000p-229, -0x1.d4a0573cbdc40p-258},  // 1e-61
    {0x1.9b604a8000000p-200, 0x1.5653130000000p-227, 0x1.b63792f412cb0p-255},  // 1e-60
    {0x1.011c2e8000000p-196, 0x1.55f3ec0000000p-223, -0x1.dc3a884ee8823p-252},  // 1e-59
    {0x1.41633a0000000p-193, 0x1.55b8738000000p-219, -0x1.29a4953151516p-248},  // 1e-58
    {0x1.91bc088000000p-190, 0x1.ab26904000000p-216, 0x1.45f922c12d2d2p-244},  // 1e-57
    {0x1.f62b0b0000000p-187, 0x1.2be0690000000p-214, -0x1.6888948e87879p-241},  // 1e-56
    {0x1.39dae68000000p-183, 0x1.ddb620c000000p-209, 0x1.eaaa326eb4b43p-241},  // 1e-55
    {0x1.8851a08000000p-180, 0x1.aa47520000000p-207, -0x1.b355681eb3c3ep-235},  // 1e-54
    {0x1.ea66088000000p-177, 0x1.8a6c934000000p-203, -0x1.10156113305a6p-231},  // 1e-53
    {0x1.327fc58000000p-173, 0x1.b41ee00000000p-202, -0x1.506ae55ff1c40p-230},  // 1e-52
    {0x1.7f1fb68000000p-170, 0x1.c424d30000000p-196, -0x1.a4859eb7ee351p-227},  // 1e-51
    {0x1.dee7a48000000p-167, 0x1.6a5c0f8000000p-194, -0x1.06d38332f4e12p-223},  // 1e-50
    {0x1.2b50c68000000p-163, 0x1.b13cc4c000000p-189, 0x1.56eef38009bcdp-217},  // 1e-49
    {0x1.7624f88000000p-160, 0x1.3b17ec0000000p-187, 0x1.595560c018581p-215},  // 1e-48
    {0x1.d3ae368000000p-157, 0x1.44eef38000000p-183, 0x1.afaab8f01e6e1p-212},  // 1e-47
    {0x1.244ce20000000p-153, 0x1.0b15584000000p-179, -0x1.e46a98d3d9f67p-209},  // 1e-46
    {0x1.6d601a8000000p-150, 0x1.4ddaae4000000p-176, 0x1.a27ac0f72f8c0p-206},  // 1e-45
    {0x1.c8b8218000000p-147, 0x1.0a8ace0000000p-176, 0x1.82c65c4d3edbcp-201},  // 1e-44
    {0x1.1d73148000000p-143, 0x1.d4d2d84000000p-169, -0x1.8e44064fb8b6bp-197},  // 1e-43
    {0x1.64cfda0000000p-140, 0x1.940f1c8000000p-167, -0x1.e3aa0fc74dc8ap-195},  // 1e-42
    {0x1.be03d08000000p-137, 0x1.f912e38000000p-164, -0x1.72524ee484eb4p-194},  // 1e-41
    {0x1.16c2620000000p-133, 0x1.ddd5e70000000p-159, 0x1.631191d6259dap-187},  // 1e-40
    {0x1.5c72fb0000000p-130, 0x1.552d830000000p-158, 0x1.bbd5f64baf050p-184},  // 1e-39
    {0x1.b38fb98000000p-127, 0x1.6a9e390000000p-153, 0x1.2acb73de9ac65p-181},  // 1e-38
    {0x1.1039d40000000p-123, 0x1.4545c78000000p-150, -0x1.4540d794df441p-177},  // 1e-37
    {0x1.5448490000000p-120, 0x1.9697390000000p-147, 0x1.696ef285e8eafp-174},  // 1e-36
    {0x1.a95a5b0000000p-117, 0x1.fe1e83c000000p-143, -0x1.e1aa86c4e6d2fp-174},  // 1e-35
    {0x1.09d8790000000p-113, 0x1.7da6248000000p-140, 0x1.5a5ead789df78p-167},  // 1e-34
    {0x1.4c4e970000000p-110, 0x1.ee87d70000000p-136, -0x1.4f09a7293a8aap-164},  // 1e-33
    {0x1.9f623d0000000p-107, 0x1.6a29ccc000000p-133, -0x1.a2cc10f3892d4p-161},  // 1e-32
    {0x1.039d660000000p-103, 0x1.625a200000000p-129, -0x1.85bf8a9835bc4p-157},  // 1e-31
    {0x1.4484bf8000000p-100, 0x1.baf0a80000000p-126, -0x1.e72f6d3e432b6p-154},  // 1e-30
    {0x1.95a5ef8000000p-97, 0x1.a9acd1c000000p-123, 0x1.9f04b7722c09dp-151},  // 1e-29
    {0x1.fb0f6b8000000p-94, 0x1.9418064000000p-120, 0x1.06c5e54eb70c4p-148},  // 1e-28
    {0x1.3ce9a30000000p-90, 0x1.bc8f040000000p-116, -0x1.b788a15d9b30bp-145},  // 1e-27
    {0x1.8c240c0000000p-87, 0x1.2bb2c50000000p-113, -0x1.12b564da80fe7p-141},  // 1e-26
    {0x1.ef2d0f0000000p-84, 0x1.769f764000000p-110, -0x1.5762be11213e0p-138},  // 1e-25
    {0x1.357c298000000p-80, 0x1.a88ea70000000p-108, 0x1.a96249354b394p-134},  // 1e-24
    {0x1.82db340000000p-77, 0x1.2b25100000000p-109, 0x1.13badb829e079p-131},  // 1e-23
    {0x1.e392010000000p-74, 0x1.75ee600000000p-106, -0x1.a7566d9cba769p-128},  // 1e-22
    {0x1.2e3b408000000p-70, 0x1.074da78000000p-97, 0x1.f769fb7e0b75ep-124},  // 1e-21
    {0x1.79ca108000000p-67, 0x1.249088c000000p-93, 0x1.75447a5d8e536p-121},  // 1e-20
    {0x1.d83c948000000p-64, 0x1.edb4ab0000000p-90, 0x1.a52b31e9e3d07p-119},  // 1e-19
    {0x1.2725dd0000000p-60, 0x1.d243ac0000000p-88, -0x1.7c628066e8ceep-114},  // 1e-18
    {0x1.70ef540000000p-57, 0x1.91b525c000000p-83, -0x1.db7b2080a3029p-111},  // 1e-17
    {0x1.cd2b290000000p-54, 0x1.f6226f0000000p-80, 0x1.5b4c2ebe68799p-109},  // 1e-16
    {0x1.203af98000000p-50, 0x1.b9d5858000000p-76, -0x1.937831647f5a0p-104},  // 1e-15
    {0x1.6849b80000000p-47, 0x1.a84ae6c000000p-73, 0x1.ea70909833de7p-107},  // 1e-14
    {0x1.c25c268000000p-44, 0x1.25da080000000p-74, -0x1.ecd79a5a0df95p-99},  // 1e-13
    {0x1.1979980000000p-40, 0x1.2dea110000000p-68, 0x1.97f27f0f6e886p-96},  // 1e-12
    {0x1.5fd7fe0000000p-37, 0x1.7964950000000p-65, 0x1.7f7bc7b4d28aap-91},  // 1e-11
    {0x1.b7cdfd8000000p-34, 0x1.d7bdbb0000000p-62, -0x1.20a5465df8d2cp-88},  // 1e-10
    {0x1.12e0be8000000p-30, 0x1.36b4a80000000p-61, -0x1.34674bfabb83bp-84},  // 1e-9
    {0x1.5798ee0000000p-27, 0x1.18461d0000000p-54, -0x1.03023df2d4c94p-82},  // 1e-8
    {0x1.ad7f298000000p-24, 0x1.5e57a40000000p-51, 0x1.5e1e99483b023p-78},  // 1e-7
    {0x1.0c6f7a0000000p-20, 0x1.6bdb1a0000000p-49, 0x1.b5a63f9a49c2cp-75},  // 1e-6
    {0x1.4f8b588000000p-17, 0x1.c6d1e20000000p-46, -0x1.ee78183f91e64p-71},  // 1e-5
    {0x1.a36e2e8000000p-14, 0x1.8e21968000000p-41, -0x1.6a161e4f765fep-68},  // 1e-4
    {0x1.0624dd0000000p-10, 0x1.78d4fe0000000p-37, -0x1.89374bc6a7efap-66},  // 1e-3
    {0x1.47ae140000000p-7, 0x1.eb851ec000000p-33, -0x1.eb851eb851eb8p-63},  // 1e-2
    {0x1.9999998000000p-4, 0x1.99999a0000000p-32, -0x1.999999999999ap-58},  // 1e-1
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},  // 1e0
    {0x1.4000000000000p+3, 0x0.0p+0, 0x0.0p+0},  // 1e1
    {0x1.9000000000000p+6, 0x0.0p+0, 0x0.0p+0},  // 1e2
    {0x1.f400000000000p+9, 0x0.0p+0, 0x0.0p+0},  // 1e3
    {0x1.3880000000000p+13, 0x0.0p+0, 0x0.0p+0},  // 1e4
    {0x1.86a0000000000p+16, 0x0.0p+0, 0x0.0p+0},  // 1e5
    {0x1.e848000000000p+19, 0x0.0p+0, 0x0.0p+0},  // 1e6
    {0x1.312d000000000p+23, 0x0.0p+0, 0x0.0p+0},  // 1e7
    {0x1.7d78400000000p+26, 0x0.0p+0, 0x0.0p+0},  // 1e8
    {0x1.dcd6500000000p+29, 0x0.0p+0, 0x0.0p+0},  // 1e9
    {0x1.2a05f20000000p+33, 0x0.0p+0, 0x0.0p+0},  // 1e10
    {0x1.74876e8000000p+36, 0x0.0p+0, 0x0.0p+0},  // 1e11
    {0x1.d1a94a0000000p+39, 0x1.0000000000000p+12, 0x0.0p+0},  // 1e12
    {0x1.2309ce0000000p+43, 0x1.5000000000000p+17, 0x0.0p+0},  // 1e13
    {0x1.6bcc418000000p+46, 0x1.a400000000000p+20, 0x0.0p+0},  // 1e14
    {0x1.c6bf520000000p+49, 0x1.8d00000000000p+23, 0x0.0p+0},  // 1e15
    {0x1.1c37930000000p+53, 0x1.f820000000000p+27, 0x0.0p+0},  // 1e16
    {0x1.6345780000000p+56, 0x1.7628000000000p+30, 0x0.0p+0},  // 1e17
    {0x1.bc16d60000000p+59, 0x1.d3b2000000000p+33, 0x0.0p+0},  // 1e18
    {0x1.158e460000000p+63, 0x1.227a000000000p+34, 0x0.0p+0},  // 1e19
    {0x1.5af1d78000000p+66, 0x1.6b18800000000p+37, 0x0.0p+0},  // 1e20
    {0x1.b1ae4d0000000p+69, 0x1.b8bbd40000000p+43, 0x0.0p+0},  // 1e21
    {0x1.0f0cf00000000p+73, 0x1.9375648000000p+47, 0x0.0p+0},  // 1e22
    {0x1.52d02c0000000p+76, 0x1.f852bd8000000p+50, 0x1.0000000000000p+23},  // 1e23
    {0x1.a784378000000p+79, 0x1.d99db40000000p+51, 0x1.0000000000000p+24},  // 1e24
    {0x1.08b2a28000000p+83, 0x1.0a00a44000000p+57, -0x1.b000000000000p+29},  // 1e25
    {0x1.4adf4b0000000p+86, 0x1.cc80cd4000000p+60, -0x1.1c00000000000p+32},  // 1e26
    {0x1.9d971e0000000p+89, 0x1.3fa1008000000p+63, -0x1.8c00000000000p+33},  // 1e27
    {0x1.027e728000000p+93, 0x1.c7c4a04000000p+67, 0x1.8440000000000p+38},  // 1e28
    {0x1.431e0f8000000p+96, 0x1.736b908000000p+69, 0x1.f2a8000000000p+42},  // 1e29
    {0x1.93e5938000000p+99, 0x1.a08cea0000000p+71, -0x1.215c000000000p+44},  // 1e30
    {0x1.f8def88000000p+102, 0x1.1604800000000p+69, 0x1.4b26800000000p+48},  // 1e31
    {0x1.3b8b5b0000000p+106, 0x1.415b85c000000p+80, -0x1.3107f00000000p+52},  // 1e32
    {0x1.8a6e320000000p+109, 0x1.2364ce0000000p+82, 0x1.82b6140000000p+55},  // 1e33
    {0x1.ed09be8000000p+112, 0x1.6c3e018000000p+85, 0x1.e363990000000p+58},  // 1e34
    {0x1.3426170000000p+116, 0x1.63a6c10000000p+89, 0x1.5c3c7f4000000p+61},  // 1e35
    {0x1.812f9c8000000p+119, 0x1.de4838c000000p+93, -0x1.265a307800000p+65},  // 1e36
    {0x1.e17b840000000p+122, 0x1.abb48d8000000p+95, 0x1.900f436a00000p+68},  // 1e37
    {0x1.2ced328000000p+126, 0x1.0b50d88000000p+99, 0x1.e826288900000p+70},  // 1e38
    {0x1.78287f0000000p+129, 0x1.2712874000000p+103, 0x1.988becaad0000p+75},  // 1e39
    {0x1.d6329f0000000p+132, 0x1.c35ca50000000p+104, -0x1.0151182a7c000p+78},  // 1e40
    {0x1.25dfa30000000p+136, 0x1.c68679c000000p+110, -0x1.069578d46c000p+79},  // 1e41
    {0x1.6f578c0000000p+139, 0x1.3828184000000p+113, -0x1.29075ae130e00p+85},  // 1e42
    {0x1.cb2d6f0000000p+142, 0x1.86321e4000000p+116, -0x1.cd24c665f4600p+86},  // 1e43
    {0x1.1efc658000000p+146, 0x1.cf7d4c0000000p+118, -0x1.c80dbeffee2f0p+92},  // 1e44
    {0x1.66bb7f0000000p+149, 0x1.0d72780000000p+119, 0x1.c5eed14016454p+95},  // 1e45
    {0x1.c06a5e8000000p+152, 0x1.150cf18000000p+126, 0x1.bb542c80deb48p+95},  // 1e46
    {0x1.18427b0000000p+156, 0x1.da502e0000000p+129, -0x1.babad90bdd33dp+101},  // 1e47
    {0x1.5e531a0000000p+159, 0x1.4390e60000000p+130, -0x1.14b4c7a76a406p+105},  // 1e48
    {0x1.b5e7e08000000p+162, 0x1.94751e0000000p+133, 0x1.a61e066ebb2f9p+108},  // 1e49
    {0x1.11b0ec0000000p+166, 0x1.5f99268000000p+140, -0x1.782d3bfacb025p+112},  // 1e50
    {0x1.561d270000000p+169, 0x1.b77f700000000p+143, 0x1.4e3ba83411e91p+112},  // 1e51
    {0x1.aba4710000000p+172, 0x1.255f4c0000000p+146, 0x1.a1ca924116636p+115},  // 1e52
    {0x1.0b46c68000000p+176, 0x1.375b8f8000000p+150, 0x1.051e9b68adfe2p+119},  // 1e53
    {0x1.4e18788000000p+179, 0x1.4c9ce00000000p+147, -0x1.d73337b7a4d05p+125},  // 1e54
    {0x1.a19e968000000p+182, 0x1.0cfe208000000p+155, -0x1.3400169638118p+126},  // 1e55
    {0x1.05031e0000000p+186, 0x1.281ed48000000p+159, -0x1.b020038778c2cp+132},  // 1e56
    {0x1.4643e58000000p+189, 0x1.7226898000000p+162, -0x1.1c28046956f37p+135},  // 1e57
    {0x1.97d4df0000000p+192, 0x1.9d60570000000p+164, 0x1.9ccdfa7c534fcp+138},  // 1e58
    {0x1.fdca168000000p+195, 0x1.812e1b4000000p+169, 0x1.0401791b6823bp+141},  // 1e59
    {0x1.3e9e4e0000000p+199, 0x1.30bcd10000000p+173, 0x1.2280ebb121165p+145},  // 1e60
    {0x1.8e45e18000000p+202, 0x1.7cec054000000p+176, 0x1.6b21269d695bep+148},  // 1e61
    {0x1.f1d75a0000000p+205, 0x1.5c2706c000000p+179, -0x1.3a168fbb3c4d3p+151},  // 1e62
    {0x1.3726980000000p+209, 0x1.d998644000000p+183, -0x1.444e19d505b04p+155},  // 1e63
    {0x1.84f03e8000000p+212, 0x1.3ff9f50000000p+184, -0x1.2ac340948e389p+157},  // 1e64
    {0x1.e62c4e0000000p+215, 0x1.c7fc390000000p+188, 0x1.1517de8c9c729p+159},  // 1e65
    {0x1.2fdbb08000000p+219, 0x1.8e7ed1c000000p+193, 0x1.2b4bbac5f871ep+165},  // 1e66
    {0x1.7bd29d0000000p+222, 0x1.c87a190000000p+194, 0x1.d87aa5ddda398p+166},  // 1e67
    {0x1.dac7440000000p+225, 0x1.8ea627c000000p+199, 0x1.93a653d55431fp+171},  // 1e68
    {0x1.28bc8a8000000p+229, 0x1.f24fb20000000p+202, -0x1.83b80b9aab60cp+175},  // 1e69
    {0x1.72ebad0000000p+232, 0x1.b771cf4000000p+206, -0x1.e4a60e815638fp+178},  // 1e70
    {0x1.cfa6988000000p+235, 0x1.254e430000000p+209, -0x1.5dcf9221abc73p+181},  // 1e71
    {0x1.21c81f0000000p+239, 0x1.f750e9c000000p+213, 0x1.255e44aaf4a38p+185},  // 1e72
    {0x1.6a3a270000000p+242, 0x1.7525244000000p+216, 0x1.bad75756c7318p+186},  // 1e73
    {0x1.c4c8b10000000p+245, 0x1.a4dcda8000000p+218, 0x1.8a634b4b1e3f7p+191},  // 1e74
    {0x1.1afd6e8000000p+249, 0x1.0385044000000p+223, 0x1.767e0f0ef2e7bp+195},  // 1e75
    {0x1.61bcca0000000p+252, 0x1.c466458000000p+226, -0x1.2be26d2d505e7p+198},  // 1e76
    {0x1.ba2bfd0000000p+255, 0x1.abfeb60000000p+226, 0x1.1249ef0eb713fp+200},  // 1e77
    {0x1.145b7e0000000p+259, 0x1.42dfcc8000000p+232, -0x1.52472a5b364e2p+202},  // 1e78
    {0x1.59725d8000000p+262, 0x1.9397bf8000000p+235, 0x1.9649c2c37f079p+207},  // 1e79
    {0x1.afcef50000000p+265, 0x1.f0fb5f0000000p+237, -0x1.08f322e84da10p+204},  // 1e80
    {0x1.0de1590000000p+269, 0x1.9b4e8d8000000p+242, 0x1.7eb4d0145d9efp+215},  // 1e81
    {0x1.5159af8000000p+272, 0x1.1118800000000p+238, 0x1.bcc40832ea0d7p+217},  // 1e82
    {0x1.a5b01b0000000p+275, 0x1.81555ec000000p+249, -0x1.d40af5c05b6f4p+220},  // 1e83
    {0x1.078e110000000p+279, 0x1.c3556d0000000p+251, -0x1.12436ccc1c92cp+225},  // 1e84
    {0x1.4971950000000p+282, 0x1.8d0ab20000000p+256, -0x1.5b511ffc8edddp+226},  // 1e85
    {0x1.9bcdfa8000000p+285, 0x1.e09abd0000000p+258, -0x1.b22567fbb2954p+229},  // 1e86
    {0x1.0160bc8000000p+289, 0x1.ac60b60000000p+262, 0x1.78544f8158316p+234},  // 1e87
    {0x1.41b8eb8000000p+292, 0x1.8bbc71c000000p+266, 0x1.d6696361ae3dbp+237},  // 1e88
    {0x1.9227268000000p+295, 0x1.6eab8e4000000p+269, 0x1.300ef0e867348p+238},  // 1e89
    {0x1.f6b0f08000000p+298, 0x1.2959c70000000p+270, 0x1.2f8255a450203p+244},  // 1e90
    {0x1.3a2e960000000p+302, 0x1.6e76074000000p+276, -0x1.c24e8a794debep+248},  // 1e91
    {0x1.88ba3b8000000p+305, 0x1.ca13890000000p+279, -0x1.32e22d17a166ep+251},  // 1e92
    {0x1.eae8ca8000000p+308, 0x1.bc986b4000000p+282, -0x1.7f9ab85d89c09p+254},  // 1e93
    {0x1.32d17e8000000p+312, 0x1.55df430000000p+286, -0x1.bf02cce9d8616p+256},  // 1e94
    {0x1.7f85de8000000p+315, 0x1.5ab89e0000000p+286, -0x1.1761c012273cep+260},  // 1e95
    {0x1.df67560000000p+318, 0x1.6c59b18000000p+291, -0x1.ae9d180b58861p+264},  // 1e96
};
// clang-format on

// Reads the most usual number of the data files, "d.dddEsdd" (one digit, the point, three
// digits, an exponent letter E, e, D or d, the exponent sign and two digits), from the nine
// characters at `p`, with a few integer operations on all its bytes at once: true and its
// value, or false (leaving `value` alone) for any other text. The caller makes sure that the nine
// characters are there and that the number ends after them.
inline bool parse_e_digits3(const char* p, double& value) {
  std::uint64_t u;
  std::memcpy(&u, p, sizeof u);
  const unsigned e2 = digit_value(p[8]);
  // Bytes 0, 2, 3, 4 and 7 (the first in the lowest) are digits: high nibble 3, low nibble
  // below 10.
  constexpr std::uint64_t kDigits = 0xFF0000FFFFFF00FF;
  constexpr std::uint64_t kHigh = kDigits & 0xF0F0F0F0F0F0F0F0;
  constexpr std::uint64_t kLow = kDigits & 0x0F0F0F0F0F0F0F0F;
  const bool digits = ((u & kHigh) == (kDigits & 0x3030303030303030)) &
                      ((((u & kLow) + (kDigits & 0x0606060606060606)) & kHigh) == 0);
  // Byte 1 the point, byte 5 E, e, D or d, byte 6 '+' (2B) or '-' (2D).
  constexpr std::uint64_t kFixedMask = 0x00F9DE000000FF00;
  constexpr std::uint64_t kFixed = 0x0029440000002E00;
  const auto sign = static_cast<unsigned>(u >> 48) & 0xFF;
  const bool fixed = ((u & kFixedMask) == kFixed) & (((sign >> 1) ^ (sign >> 2)) & 1);
  if (!(digits & fixed & (e2 <= 9))) return false;
  // The four digits side by side in bytes 1 to 4, then combined pairwise.
  std::uint64_t digits4 = ((u & 0x0000000F0F0F0000) | ((u & 0xF) << 8)) >> 8;
  digits4 = digits4 * 10 + (digits4 >> 8);
  const auto mantissa = static_cast<double>(
      ((digits4 & 0x00FF00FF) * ((std::uint64_t{100} << 16) + 1) >> 16) & 0xFFFF);
  const int written = static_cast<int>(((u >> 56) & 0xF) * 10 + e2);
  const int exponent = (sign == '-' ? -written : written) - 3;
  // The mantissa times 10^exponent in two exact products and a third, far smaller, whose
  // rounding error is too small to move the sum across a rounding boundary.
  const double* scale = kFieldScales[exponent - kFieldScaleLowest];
  value = mantissa * scale[0] + (mantissa * scale[1] + mantissa * scale[2]);
  return true;
}

// Reads `count` fields of ten columns each, from `p` on, into out[0] to out[count - 1], when
// every one of them is the usual " d.dddEsdd" (a blank or sign, then the form parse_e_digits3
// reads): true with the values parse_e_field gives, or false, with `out` partly written, as soon
// as one field is in another form. Two fields per step give the processor two independent
// chains of work to overlap, and a sign is set on the bits of the value, without a branch.
inline bool parse_e_fields10(const char* p, int count, double* out) {
  auto one = [](const char* field, double& value) {
    const char lead = field[0];
    const bool lead_ok = (lead == ' ') | (lead == '-') | (lead == '+');
    if (!(lead_ok && parse_e_digits3(field + 1, value))) return false;
    value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) |
                                  (static_cast<std::uint64_t>(lead == '-') << 63));
    return true;
  };
  int n = 0;
  for (; n + 1 < count; n += 2) {
    const bool first = one(p + 10 * n, out[n]);
    const bool second = one(p + 10 * n + 10, out[n + 1]);
    if (!(first & second)) return false;
  }
  return n == count || one(p + 10 * n, out[n]);
}

// Reads a field of 8 to 10 characters of the form written by Fortran E editing:
// an optional blank or sign, one digit, the point, digits, an exponent letter (E, e, D or d),
// the exponent sign and two exponent digits that end the field, as in " 1.234E-05" or
// "1.2345D+00". Returns false, leaving `value` alone, for any other text; for these forms the
// result is the one of the full rule, found with few steps and no loops.
inline bool parse_e_field(const char* p, std::size_t size, double& value) {
  // The most usual fields first: " 1.234E-05" (or with a sign) and "1.234E-05".
  if (size == 10) {
    const char lead = p[0];
    if ((lead == ' ' || lead == '-' || lead == '+') && parse_e_digits3(p + 1, value)) {
      if (lead == '-') value = -value;
      return true;
    }
  } else if (size == 9 && parse_e_digits3(p, value)) {
    return true;
  }
  if (size < 8 || size > 10) return false;
  std::size_t point;
  if (p[1] == '.') {
    point = 1;
  } else if (p[2] == '.') {
    point = 2;
  } else {
    return false;
  }
  const unsigned lead_digit = digit_value(p[point - 1]);
  const char lead = point == 2 ? p[0] : ' ';
  const char letter = static_cast<char>(p[size - 4] | 0x20);
  const char exponent_sign = p[size - 3];
  const unsigned e1 = digit_value(p[size - 2]);
  const unsigned e2 = digit_value(p[size - 1]);
  if (lead_digit > 9 || (lead != ' ' && lead != '-' && lead != '+') ||
      (letter != 'e' && letter != 'd') || (exponent_sign != '-' && exponent_sign != '+') ||
      e1 > 9 || e2 > 9) {
    return false;
  }
  // The fraction digits run from after the point to the exponent letter; the last 8 bytes of
  // the field, moved down to start after the point, hold them.
  const int fraction_digits = static_cast<int>(size - 5 - point);
  std::uint64_t tail;
  std::memcpy(&tail, p + size - 8, sizeof tail);
  std::uint64_t fraction;
  if (read_digit_run(tail >> (8 * (point + 9 - size)), fraction) != fraction_digits) return false;
  const std::uint64_t mantissa = lead_digit * kIntegerPowersOfTen[fraction_digits] + fraction;
  const int written = static_cast<int>(e1 * 10 + e2);
  const int exponent = (exponent_sign == '-' ? -written : written) - fraction_digits;
  const double magnitude = mantissa == 0 ? 0.0 : to_double(mantissa, exponent);
  value = lead == '-' ? -magnitude : magnitude;
  return true;
}

}  // namespace kestrane::number_detail
