#pragma once

// The shape model's two large dense products on raw column-major matrices, built once for each
// vector-unit level: _v3 for x86-64-v3 (AVX2 and FMA), _v4 for x86-64-v4 (AVX-512). Eigen picks its
// vector width when it is compiled, so code built for the baseline gains nothing from a newer
// processor; these copies are picked at run time instead (anatomy/shapemodel/DenseProducts.cpp).

extern "C" {
/// gram (cols x cols, lower triangle; the rest is zero) = dataᵀ · data, for data of rows x cols
/// with leading dimension `stride`.
void orbitane_gram_lower_v3(const double* data, long stride, long rows, long cols, double* gram);
void orbitane_gram_lower_v4(const double* data, long stride, long rows, long cols, double* gram);
/// The leading k columns of `rows` rows of data (rows x cols, leading dimension `stride`) become
/// data · weights (cols x k), in place.
void orbitane_multiply_in_place_v3(double* data, long stride, long rows, long cols, const double* weights, long k);
void orbitane_multiply_in_place_v4(double* data, long stride, long rows, long cols, const double* weights, long k);
}
