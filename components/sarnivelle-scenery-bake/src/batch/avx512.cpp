// The batch kernels sixteen points at a time, with AVX-512F. This file alone is compiled for
// AVX-512F; height_batch.cpp calls it only on a CPU that has it.
// GCC 12 warns that the intrinsics' deliberately undefined fill-in vectors (__Y in
// avx512fintrin.h) are or may be used uninitialized; they are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

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
    // Gathers are slow on some CPUs that have AVX-512: tables live in registers instead, 32
    // entries to a pair, looked up with two-register permutes.
    struct Table64 {
        F part[4];
    };
    struct Table96 {
        F part[6];
    };
    static Table64 cell_table(const float* p) {
        return {{load(p), load(p + 16), load(p + 32), load(p + 48)}};
    }
    // The 81 heights of a grid, then zeros.
    static Table96 grid_table(const float* p) {
        return {{load(p), load(p + 16), load(p + 32), load(p + 48), load(p + 64),
                 _mm512_maskz_loadu_ps(0x0001, p + 80)}};
    }
    // Entry index & 31 of parts 0 and 1, 2 and 3 or 4 and 5.
    static F pair(const F* part, I index) {
        return _mm512_permutex2var_ps(part[0], index, part[1]);
    }
    static F lookup(const Table64& table, I index) {
        const M upper = _mm512_test_epi32_mask(index, _mm512_set1_epi32(32));
        return select(upper, pair(table.part + 2, index), pair(table.part, index));
    }
    static F lookup(const Table96& table, I index) {
        const M from_32 = _mm512_test_epi32_mask(index, _mm512_set1_epi32(32));
        const M from_64 = _mm512_cmpge_epi32_mask(index, _mm512_set1_epi32(64));
        const F below_64 = select(from_32, pair(table.part + 2, index), pair(table.part, index));
        return select(from_64, pair(table.part + 4, index), below_64);
    }
    static F lookup_either(const Table64& first, const Table64& second, M m, I index) {
        return select(m, lookup(second, index), lookup(first, index));
    }
};

} // namespace

constinit const Kernels avx512_kernels = kernels_of<Avx512>();

} // namespace sarnivelle_scenery_bake::height::batch
