// Deterministic pseudo-random placement of scenery objects: which scene and material a cell
// takes, and how far each object of a cell is moved, turned and scaled from its base placement.
//
// Every draw is a pure function of the cell's global coordinates and of what is being drawn, so
// a given cell looks the same in every call, on every thread and in every run. All functions are
// pure: they keep no state, never allocate and never fail; NaN and infinite limits give defined
// results, never undefined behaviour.
#pragma once

#include <cstdint>

namespace sarnivelle_scenery_bake::noise {

// ---- Reference constants ------------------------------------------------------------------------
//
// The cell hash (see `cell_hash`) is a wrapping polynomial over the cell coordinates, of the same
// family as the cell split rule of the height module, with constants of its own so that the two
// are not correlated. Their reference values:
//
//   hash_k_xy     0x9B9B1325 = 2610631461   factor of x * y
//   hash_k_y      0xD1A6E55F = 3517375839   factor of y
//   hash_k_x      0xC55A45F9 = 3311027705   factor of x, subtracted
//   hash_k_0      0x566BF9D7 = 1449916887   constant term, subtracted
//   seed_step_x   0x4243ED53 = 1111747923   shift of x per seed
//   seed_step_y   0xCF0C26EF = 3473680111   shift of y per seed
//
// All six are odd. Changing any of them changes where every object of the world stands.
inline constexpr std::uint32_t hash_k_xy = 0x9B9B1325U;
inline constexpr std::uint32_t hash_k_y = 0xD1A6E55FU;
inline constexpr std::uint32_t hash_k_x = 0xC55A45F9U;
inline constexpr std::uint32_t hash_k_0 = 0x566BF9D7U;
inline constexpr std::uint32_t seed_step_x = 0x4243ED53U;
inline constexpr std::uint32_t seed_step_y = 0xCF0C26EFU;

// ---- Cells and draws ----------------------------------------------------------------------------

// Global cell coordinates: cell (cx, cy) of the landblock (KX, KY) is (8 * KX + cx, 8 * KY + cy).
struct GlobalCell {
    std::uint32_t gx = 0;
    std::uint32_t gy = 0;
};

// The global cell of cell (cx, cy), each 0 to 7, of the landblock whose key holds KX in bits 8 to
// 15 and KY in bits 0 to 7.
constexpr GlobalCell global_cell(std::uint16_t landblock_key, std::uint32_t cx, std::uint32_t cy) {
    const std::uint32_t kx = static_cast<std::uint32_t>(landblock_key) >> 8U;
    const std::uint32_t ky = static_cast<std::uint32_t>(landblock_key) & 0xFFU;
    return {8U * kx + cx, 8U * ky + cy};
}

// What a draw decides. Each kind of draw, and each object of a cell, has a seed of its own, so
// the draws of one cell do not repeat one another.
enum class Draw : std::uint32_t {
    Scene,     // which scene a cell takes
    Material,  // which material a cell takes
    Object,    // whether an object of the scene is placed
    DisplaceX, // the object's move along x
    DisplaceY, // the object's move along y
    Rotation,  // the object's turn about the vertical axis
    Scale,     // the object's scale
};
inline constexpr std::uint32_t draw_kinds = 7;

// The seed of draw `draw` for object `object` of a cell; the per-cell draws (scene, material) use
// object 0. Wraps modulo 2^32.
constexpr std::uint32_t draw_seed(Draw draw, std::uint32_t object = 0) {
    return object * draw_kinds + static_cast<std::uint32_t>(draw);
}

// The 32-bit hash of a cell for a seed, every operation wrapping modulo 2^32:
//   x = gx + seed * seed_step_x,  y = gy + seed * seed_step_y,
//   hash = x * y * hash_k_xy + y * hash_k_y - x * hash_k_x - hash_k_0.
// Its high bits are the well-mixed ones; the draws use those.
std::uint32_t cell_hash(GlobalCell cell, std::uint32_t seed);

// The pseudo-random draw of a cell for a seed: the top 24 bits of `cell_hash` as a fraction,
// a value in [0, 1) that is a whole multiple of 2^-24 (so exact as a 32-bit float).
float prng(GlobalCell cell, std::uint32_t seed);

// ---- Object placement ---------------------------------------------------------------------------

// An object's origin in landblock-local world units; z is the vertical axis.
struct Origin {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// `base` moved by up to `max_displacement` along x and along y, each independently between
// -max_displacement and +max_displacement; z is kept. A maximum of zero, below zero or NaN
// returns `base` unchanged, bit for bit.
Origin displace_obj(const Origin& base, GlobalCell cell, std::uint32_t object,
                    float max_displacement);

// The object's turn about the vertical axis, in degrees, from 0 up to `max_rotation_degrees`.
// A maximum of zero, below zero or NaN gives exactly +0.
float rotate_obj(GlobalCell cell, std::uint32_t object, float max_rotation_degrees);

// The object's uniform scale, from `min_scale` to `max_scale`. A maximum that is not above the
// minimum (equal, smaller or NaN) gives `min_scale` exactly.
float scale_obj(GlobalCell cell, std::uint32_t object, float min_scale, float max_scale);

// How far the placement of an object may stray from its base; the defaults change nothing.
struct NoiseLimits {
    float max_displacement = 0.0f;
    float max_rotation_degrees = 0.0f;
    float min_scale = 1.0f;
    float max_scale = 1.0f;
};

// Where object `object` of a cell stands once its noise is applied.
struct ObjectNoise {
    Origin origin;
    float rotation_degrees = 0.0f;
    float scale = 1.0f;
};

// The displacement, rotation and scale of one object together.
ObjectNoise object_noise(const Origin& base, GlobalCell cell, std::uint32_t object,
                         const NoiseLimits& limits);

} // namespace sarnivelle_scenery_bake::noise
