// The batch kernels four points at a time, on the SSE2 instructions every x86-64 CPU has.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "kernel_body.hpp"

namespace sarnivelle_scenery_bake::height::batch {
namespace {

struct Sse2 {
    static constexpr std::size_t width = 4;
    using F = __m128;
    using I = __m128i;
    using M = __m128;

    static F load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, F v) { _mm_storeu_ps(p, v); }
    static F splat(float v) { return _mm_set1_ps(v); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F div(F a, F b) { return _mm_div_ps(a, b); }
    static F min(F a, F b) { return _mm_min_ps(a, b); }
    static F max(F a, F b) { return _mm_max_ps(a, b); }
    static M lt(F a, F b) { return _mm_cmplt_ps(a, b); }
    static M gt(F a, F b) { return _mm_cmpgt_ps(a, b); }
    static M ge(F a, F b) { return _mm_cmpge_ps(a, b); }
    static M either(M a, M b) { return _mm_or_ps(a, b); }
    static F select(M m, F a, F b) { return _mm_or_ps(_mm_and_ps(m, a), _mm_andnot_ps(m, b)); }
    static I select_i(M m, I a, I b) {
        const I mi = _mm_castps_si128(m);
        return _mm_or_si128(_mm_and_si128(mi, a), _mm_andnot_si128(mi, b));
    }
    static I truncate(F v) { return _mm_cvttps_epi32(v); }
    static F to_float(I v) { return _mm_cvtepi32_ps(v); }
    static I splat_i(std::int32_t v) { return _mm_set1_epi32(v); }
    static I add_i(I a, I b) { return _mm_add_epi32(a, b); }
    template <int N>
    static I shl(I v) {
        return _mm_slli_epi32(v, N);
    }
    static M lt_i(I a, I b) { return _mm_castsi128_ps(_mm_cmplt_epi32(a, b)); }
    // Tables are the arrays themselves.
    static const float* grid_table(const float* p) { return p; }
    static const float* cell_table(const float* p) { return p; }
    // SSE2 has no gather: one load per lane.
    static F lookup(const float* base, I index) {
        alignas(16) std::int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<I*>(lanes), index);
        return _mm_setr_ps(base[lanes[0]], base[lanes[1]], base[lanes[2]], base[lanes[3]]);
    }
    // first and second are parts of one array: one look-up, at an offset where m holds.
    static F lookup_either(const float* first, const float* second, M m, I index) {
        const auto offset = static_cast<std::int32_t>(second - first);
        return lookup(first, select_i(m, add_i(index, splat_i(offset)), index));
    }
};

} // namespace

constinit const Kernels sse2_kernels = kernels_of<Sse2>();

} // namespace sarnivelle_scenery_bake::height::batch
