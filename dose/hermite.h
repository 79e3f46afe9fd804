// Monotone cubic Hermite interpolation of a rate table: slope estimation and exact integrals.
// Arrays are 0-based here (x[0] is time point 1); positions passed as numbers (ia, ib) count
// from 1, as the table positions do. No allocation, no tolerances.
#pragma once

namespace kestrane {

// Fills d[0..n-1] with shape-preserving slopes of the table (x, f) (Fritsch and Carlson;
// Brodlie's weighted harmonic mean at interior points): the interpolant is monotone wherever
// the data are, and the slope is 0 at every strict extremum and next to every flat interval.
// status: 0 normal; 1..n-2 the number of changes of direction in the data; -1 fewer than two
// points; -3 times not strictly increasing. On a negative status d is not written.
void estimate_monotone_slopes(int n, const double* x, const double* f, double* d, int& status);

// +1 when a and b are non-zero with the same sign, -1 when non-zero with different signs,
// 0 when either is zero.
double sign_product(double a, double b);

// |m| with the sign of s (a negative zero in s counts as positive).
double transfer_sign(double m, double s);

// Integral of the interpolant from a to b (negative when b < a); below x[0] the first piece
// is continued, above x[n-1] the last. skip: 0 asks for n and x to be checked, set to 1 once
// checked or when the check is skipped (a caller that passes a non-zero skip guarantees
// n >= 2 and non-decreasing times). status: 0 both limits inside the table, +1 when a lies
// outside it, +2 when b does; -1 fewer than two points, -3 decreasing times, -5 the sum over
// whole intervals failed. Every negative status returns 0. Equal neighbouring times are
// accepted.
double integrate_hermite(int n, const double* x, const double* f, const double* d, int& skip,
                         double a, double b, int& status);

// Integral from x(ia) to x(ib), positions counting from 1. skip as above. status: 0, or -1,
// -3 as above, -4 when ia or ib lies outside 1..n; every negative status returns 0.
double integrate_between_nodes(int n, const double* x, const double* f, const double* d, int& skip,
                               int ia, int ib, int& status);

// Integral over [a, b] of the cubic with values f1, f2 and slopes d1, d2 at x1, x2; a and b
// may lie outside [x1, x2] (the cubic is continued). Swapping a and b flips only the sign;
// a piece of zero width gives 0.
double integrate_cubic_piece(double x1, double x2, double f1, double f2, double d1, double d2,
                             double a, double b);

}  // namespace kestrane
