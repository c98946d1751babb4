// The batch kernels sixteen points at a time, with AVX-512F. This file alone is compiled for
// AVX-512F; height_batch.cpp calls it only on a CPU that has it.
// GCC 12 warns that the intrinsics' deliberately undefined fill-in vectors (__Y in
// avx512fintrin.h) may be used uninitialized; they are never read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "kernel_body.hpp"

namespace sarnivelle_scenery_bake::height::batch {
namespace {

struct Avx512 {
    static constexpr std::size_t width = 16;
    using F = __m512;
    using I = __m512i;
    using M = __mmask16;

    static F load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F splat(float v) { return _mm512_set1_ps(v); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F div(F a, F b) { return _mm512_div_ps(a, b); }
    static F min(F a, F b) { return _mm512_min_ps(a, b); }
    static F max(F a, F b) { return _mm512_max_ps(a, b); }
    static M lt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
    static M gt(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
    static M ge(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
    static M either(M a, M b) { return _kor_mask16(a, b); }
    static F select(M m, F a, F b) { return _mm512_mask_blend_ps(m, b, a); }
    static I select_i(M m, I a, I b) { return _mm512_mask_blend_epi32(m, b, a); }
    static I truncate(F v) { return _mm512_cvttps_epi32(v); }
    static F to_float(I v) { return _mm512_cvtepi32_ps(v); }
    static I splat_i(std::int32_t v) { return _mm512_set1_epi32(v); }
    static I add_i(I a, I b) { return _mm512_add_epi32(a, b); }
    template <int N>
    static I shl(I v) {
        return _mm512_slli_epi32(v, N);
    }
    static M lt_i(I a, I b) { return _mm512_cmplt_epi32_mask(a, b); }
    static F gather(const float* base, I index) { return _mm512_i32gather_ps(index, base, 4); }
};

} // namespace

constinit const Kernels avx512_kernels = kernels_of<Avx512>();

} // namespace sarnivelle_scenery_bake::height::batch
