// Monotone cubic Hermite interpolation of a rate table: slope estimation and exact integrals.
// Arrays are 0-based here (x[0] is time point 1); positions passed as numbers (ia, ib) count
// from 1, as the table positions do. No allocation, no tolerances.
#pragma once

namespace kestrane {

// Fills d[0..n-1] with shape-preserving slopes of the table (x, f).
// status: 0 normal; 1..n-2 count of sign changes found; negative: refused (d not written).
void estimate_monotone_slopes(int n, const double* x, const double* f, double* d, int& status);

// +1 when a and b are non-zero with the same sign, -1 when non-zero with different signs,
// 0 when either is zero.
double sign_product(double a, double b);

// |m| with the sign of s (a negative zero in s counts as positive).
double transfer_sign(double m, double s);

// Integral of the interpolant from a to b (negative when b < a). skip: 0 asks for n and x
// to be checked, set to 1 once checked or when the check is skipped. status: 0 inside the
// table, 1..3 a limit outside the table, negative: refused.
double integrate_hermite(int n, const double* x, const double* f, const double* d, int& skip,
                         double a, double b, int& status);

// Integral from x(ia) to x(ib), positions counting from 1.
double integrate_between_nodes(int n, const double* x, const double* f, const double* d,
                               int& skip, int ia, int ib, int& status);

// Integral over [a, b] of the cubic with values f1, f2 and slopes d1, d2 at x1, x2.
double integrate_cubic_piece(double x1, double x2, double f1, double f2, double d1, double d2,
                             double a, double b);

}  // namespace kestrane
