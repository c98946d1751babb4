// The batch kernels eight points at a time, with AVX2 gathers. This file alone is compiled for
// AVX2 (without FMA); height_batch.cpp calls it only on a CPU that has AVX2.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "kernel_body.hpp"

namespace sarnivelle_scenery_bake::height::batch {
namespace {

struct Avx2 {
    static constexpr std::size_t width = 8;
    using F = __m256;
    using I = __m256i;
    using M = __m256;

    static F load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F splat(float v) { return _mm256_set1_ps(v); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F div(F a, F b) { return _mm256_div_ps(a, b); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }
    static F max(F a, F b) { return _mm256_max_ps(a, b); }
    static M lt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static M gt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static M ge(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static M either(M a, M b) { return _mm256_or_ps(a, b); }
    static F select(M m, F a, F b) { return _mm256_blendv_ps(b, a, m); }
    static I select_i(M m, I a, I b) {
        return _mm256_castps_si256(
            _mm256_blendv_ps(_mm256_castsi256_ps(b), _mm256_castsi256_ps(a), m));
    }
    static I truncate(F v) { return _mm256_cvttps_epi32(v); }
    static F to_float(I v) { return _mm256_cvtepi32_ps(v); }
    static I splat_i(std::int32_t v) { return _mm256_set1_epi32(v); }
    static I add_i(I a, I b) { return _mm256_add_epi32(a, b); }
    template <int N>
    static I shl(I v) {
        return _mm256_slli_epi32(v, N);
    }
    static M lt_i(I a, I b) { return _mm256_castsi256_ps(_mm256_cmpgt_epi32(b, a)); }
    // Tables are the arrays themselves.
    static const float* grid_table(const float* p) { return p; }
    static const float* cell_table(const float* p) { return p; }
    static F lookup(const float* base, I index) { return _mm256_i32gather_ps(base, index, 4); }
    // first and second are parts of one array: one look-up, at an offset where m holds.
    static F lookup_either(const float* first, const float* second, M m, I index) {
        const auto offset = static_cast<std::int32_t>(second - first);
        return lookup(first, select_i(m, add_i(index, splat_i(offset)), index));
    }
};

} // namespace

constinit const Kernels avx2_kernels = kernels_of<Avx2>();

} // namespace sarnivelle_scenery_bake::height::batch
