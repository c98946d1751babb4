// The batch kernels one point at a time in plain C++: the path for a CPU without vector
// instructions worth using, and the one a user can force.
#include <cstddef>
#include <cstdint>

#include "kernel_body.hpp"

namespace sarnivelle_scenery_bake::height::batch {
namespace {

struct Scalar {
    static constexpr std::size_t width = 1;
    using F = float;
    using I = std::int32_t;
    using M = bool;

    static F load(const float* p) { return *p; }
    static void store(float* p, F v) { *p = v; }
    static F splat(float v) { return v; }
    static F add(F a, F b) { return a + b; }
    static F sub(F a, F b) { return a - b; }
    static F mul(F a, F b) { return a * b; }
    static F div(F a, F b) { return a / b; }
    static F min(F a, F b) { return a < b ? a : b; }
    static F max(F a, F b) { return a > b ? a : b; }
    static M lt(F a, F b) { return a < b; }
    static M gt(F a, F b) { return a > b; }
    static M ge(F a, F b) { return a >= b; }
    static M either(M a, M b) { return a || b; }
    static F select(M m, F a, F b) { return m ? a : b; }
    static I select_i(M m, I a, I b) { return m ? a : b; }
    // Only ever given values from 0.0 to 8.0.
    static I truncate(F v) { return static_cast<I>(v); }
    static F to_float(I v) { return static_cast<F>(v); }
    static I splat_i(I v) { return v; }
    static I add_i(I a, I b) { return a + b; }
    template <int N>
    static I shl(I v) {
        return v * (1 << N);
    }
    static M lt_i(I a, I b) { return a < b; }
    // Tables are the arrays themselves.
    static const float* grid_table(const float* p) { return p; }
    static const float* cell_table(const float* p) { return p; }
    static F lookup(const float* base, I index) { return base[index]; }
    static F lookup_either(const float* first, const float* second, M m, I index) {
        return m ? second[index] : first[index];
    }
};

} // namespace

constinit const Kernels scalar_kernels = kernels_of<Scalar>();

} // namespace sarnivelle_scenery_bake::height::batch
