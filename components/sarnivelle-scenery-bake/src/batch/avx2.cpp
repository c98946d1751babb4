// The batch kernels eight points at a time with AVX2. This file alone is compiled for AVX2
// (without FMA); height_batch.cpp calls it only on a CPU that has AVX2.
//
// Gathers are slow on many CPUs that have AVX2, so no kernel here gathers: a slope or normal
// is one scalar load per point from the 64-entry cell table, at a cell number the vector code
// computed a few vectors earlier; the bilinear corners come in pairs, one 64-bit load per lane
// and row; the triangle planes come as one 128-bit record per lane.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

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

    // The grid with rows of ten entries, ix * 10 + iy, for ix from 0 to 9: entry 9 of a row
    // repeats entry 8 and row 9 repeats row 8. The pair at entry ix * 10 + iy is then the
    // heights at iy and at the blend's upper iy, and row ix + 1 is the blend's upper row, for
    // every ix and iy from 0 to 8.
    struct PaddedGrid {
        alignas(32) float h[100];
    };
    static PaddedGrid grid_table(const float* grid) {
        PaddedGrid padded;
        for (std::size_t ix = 0; ix < 10; ++ix) {
            const float* row = grid + (ix < 8 ? ix : 8) * 9;
            float* to = padded.h + ix * 10;
            _mm256_storeu_ps(to, _mm256_loadu_ps(row));
            to[8] = row[8];
            to[9] = row[8];
        }
        return padded;
    }
    // Lanes a and b of one row: [h(a), h(a + 1), h(b), h(b + 1)].
    static __m128 pairs(const float* a, const float* b) {
        const __m128 low = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(a));
        return _mm_loadh_pi(low, reinterpret_cast<const __m64*>(b));
    }
    // A template, so that Corners is made once the class is complete.
    template <class Self = Avx2>
    static Corners<Self> corners(const PaddedGrid& grid, I ix, I iy) {
        // ix * 10 + iy
        const I entry = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_slli_epi32(ix, 3), _mm256_slli_epi32(ix, 1)), iy);
        alignas(32) std::int32_t lane[8];
        _mm256_store_si256(reinterpret_cast<I*>(lane), entry);
        const float* p[8];
        for (int l = 0; l < 8; ++l) {
            p[l] = grid.h + lane[l];
        }
        // Lanes 0, 1 | 4, 5 and 2, 3 | 6, 7 of one row, then the even and the odd floats of
        // the two: the heights at iy and at the upper iy, in lane order.
        const auto row = [&p](std::ptrdiff_t offset, F& at_iy, F& at_upper_iy) {
            const F a = _mm256_set_m128(pairs(p[4] + offset, p[5] + offset),
                                        pairs(p[0] + offset, p[1] + offset));
            const F b = _mm256_set_m128(pairs(p[6] + offset, p[7] + offset),
                                        pairs(p[2] + offset, p[3] + offset));
            at_iy = _mm256_shuffle_ps(a, b, 0x88);
            at_upper_iy = _mm256_shuffle_ps(a, b, 0xDD);
        };
        Corners<Self> c;
        row(0, c.h00, c.h01);
        row(10, c.h10, c.h11);
        return c;
    }

    class TriangleTables {
    public:
        explicit TriangleTables(const CellArrays& cells) {
            // Bit cell of diag_00_to_11 is set where the cell is split Diag00To11 (split 0).
            std::uint64_t diag_00_to_11 = 0;
            for (int part = 0; part < 4; ++part) {
                const __m128i split =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells.split + 16 * part));
                const auto bits = static_cast<std::uint32_t>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(split, _mm_setzero_si128())));
                diag_00_to_11 |= std::uint64_t{bits} << (16 * part);
            }
            // Byte cx of the mask to lane cx.
            split_rows_ =
                _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(diag_00_to_11)));

            // Records d, nx, ny, 0 of the 128 triangles, eight at a time.
            for (std::size_t t = 0; t < 128; t += 8) {
                const F d = load(cells.plane_d + t);
                const F nx = load(cells.plane_nx + t);
                const F ny = load(cells.plane_ny + t);
                const F zero = _mm256_setzero_ps();
                const F d_nx_low = _mm256_unpacklo_ps(d, nx);  // d0 nx0 d1 nx1 | d4 nx4 d5 nx5
                const F d_nx_high = _mm256_unpackhi_ps(d, nx); // d2 nx2 d3 nx3 | d6 ...
                const F ny_low = _mm256_unpacklo_ps(ny, zero);
                const F ny_high = _mm256_unpackhi_ps(ny, zero);
                const F r04 = _mm256_shuffle_ps(d_nx_low, ny_low, 0x44);
                const F r15 = _mm256_shuffle_ps(d_nx_low, ny_low, 0xEE);
                const F r26 = _mm256_shuffle_ps(d_nx_high, ny_high, 0x44);
                const F r37 = _mm256_shuffle_ps(d_nx_high, ny_high, 0xEE);
                float* to = plane_[t];
                _mm256_store_ps(to, _mm256_permute2f128_ps(r04, r15, 0x20));
                _mm256_store_ps(to + 8, _mm256_permute2f128_ps(r26, r37, 0x20));
                _mm256_store_ps(to + 16, _mm256_permute2f128_ps(r04, r15, 0x31));
                _mm256_store_ps(to + 24, _mm256_permute2f128_ps(r26, r37, 0x31));
            }
        }

        F diagonal_end(I cx, I cy, F x0, F x1) const {
            // The row of cx, shifted so that the bit of cy lands in the sign bit.
            const I row = _mm256_permutevar8x32_epi32(split_rows_, cx);
            const I shifted = _mm256_sllv_epi32(row, _mm256_sub_epi32(_mm256_set1_epi32(31), cy));
            return _mm256_blendv_ps(x0, x1, _mm256_castsi256_ps(shifted));
        }

        template <class Self = Avx2>
        Plane<Self> plane(I cell, M second) const {
            const I triangle = _mm256_add_epi32(
                cell, _mm256_and_si256(_mm256_castps_si256(second), _mm256_set1_epi32(64)));
            alignas(32) std::int32_t lane[8];
            _mm256_store_si256(reinterpret_cast<I*>(lane), triangle);
            // Lanes l and l + 4 in one register each, then a 4 x 4 transpose in each half.
            F r[4];
            for (int l = 0; l < 4; ++l) {
                r[l] =
                    _mm256_set_m128(_mm_load_ps(plane_[lane[l + 4]]), _mm_load_ps(plane_[lane[l]]));
            }
            const F d_nx_01 = _mm256_unpacklo_ps(r[0], r[1]); // d0 d1 nx0 nx1 | ...
            const F ny_01 = _mm256_unpackhi_ps(r[0], r[1]);
            const F d_nx_23 = _mm256_unpacklo_ps(r[2], r[3]);
            const F ny_23 = _mm256_unpackhi_ps(r[2], r[3]);
            return {_mm256_shuffle_ps(d_nx_01, d_nx_23, 0x44),
                    _mm256_shuffle_ps(d_nx_01, d_nx_23, 0xEE),
                    _mm256_shuffle_ps(ny_01, ny_23, 0x44)};
        }

    private:
        I split_rows_;
        alignas(32) float plane_[128][4];
    };
};

// Slopes and normals: the vector code computes the cell numbers of eight points and leaves
// them in a ring of buffers; the table look-ups of those points happen `lag` vectors later,
// as one scalar load and store per point. Looking a 64-entry table up in registers takes
// eight permutes and seven blends per vector, and those share two pipes with the division;
// scalar loads and stores run on the load and store ports instead, which the vector code
// hardly uses, so the two overlap. The lag keeps a look-up from reading a buffer whose store
// may still be in flight (lags of 2 and 4 vectors measured slower).
constexpr std::size_t lag = 8;
constexpr std::size_t ring_size = 16;
static_assert(lag < ring_size);

// cx * 8 + cy of the eight points, each from 0 to 63.
__m256i cell_numbers(__m256 x, __m256 y) {
    return cell_number<Avx2>(cell_index<Avx2>(x), cell_index<Avx2>(y));
}

// out[k] = table[cell[k]] for the eight points of one buffer, two cell numbers to a load.
// Scalar on purpose: a compiler that turned this into a gather would undo the point of it.
void look_up(const float* table, const std::uint32_t* cell, float* out) {
    for (int k = 0; k < 8; k += 2) {
        std::uint64_t pair;
        std::memcpy(&pair, cell + k, sizeof pair);
        out[k] = table[static_cast<std::uint32_t>(pair)];
        out[k + 1] = table[pair >> 32];
    }
}

void cell_lookup_staged(const float* table, const float* x, const float* y, float* out,
                        std::size_t n) {
    alignas(32) std::uint32_t ring[ring_size][8];
    const auto buffer = [&ring](std::size_t vector) { return ring[vector % ring_size]; };
    std::size_t vectors = 0;
    for (; 8 * vectors + 8 <= n; ++vectors) {
        const std::size_t i = 8 * vectors;
        _mm256_store_si256(reinterpret_cast<__m256i*>(buffer(vectors)),
                           cell_numbers(_mm256_loadu_ps(x + i), _mm256_loadu_ps(y + i)));
        // The results of an earlier vector, whose coordinates were read before: out may be x
        // or y.
        if (vectors >= lag) {
            look_up(table, buffer(vectors - lag), out + (i - 8 * lag));
        }
    }
    for (std::size_t v = vectors >= lag ? vectors - lag : 0; v < vectors; ++v) {
        look_up(table, buffer(v), out + 8 * v);
    }
    // The tail, through buffers of one vector padded with zeros.
    const std::size_t i = 8 * vectors;
    const std::size_t rest = n - i;
    if (rest == 0) {
        return;
    }
    alignas(32) float tail_x[8] = {};
    alignas(32) float tail_y[8] = {};
    alignas(32) float tail_out[8];
    for (std::size_t k = 0; k < rest; ++k) {
        tail_x[k] = x[i + k];
        tail_y[k] = y[i + k];
    }
    alignas(32) std::uint32_t tail_cell[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(tail_cell),
                       cell_numbers(_mm256_load_ps(tail_x), _mm256_load_ps(tail_y)));
    look_up(table, tail_cell, tail_out);
    for (std::size_t k = 0; k < rest; ++k) {
        out[i + k] = tail_out[k];
    }
}

} // namespace

constinit const Kernels avx2_kernels = {&bilinear<Avx2>, &triangle_plane<Avx2>,
                                        &cell_lookup_staged};

} // namespace sarnivelle_scenery_bake::height::batch
