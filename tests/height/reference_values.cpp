// Works out the expected values of reference_values_test.cpp, apart from the height library:
// it links nothing of it and evaluates each query's formula step by step in 32-bit floats,
// in the order the query promises. Run it and paste its output over the tables of the test:
//
//   build/bin/height_reference_values > /tmp/tables.txt
//
// Beside each formula it evaluates the same formula rearranged in ways that are equal in exact
// arithmetic (another order of a sum or product, another grouping of the slope's differences,
// the square root elsewhere, another base vertex for a triangle), and picks points on a grid
// of decimal heights until every rearrangement gives other bits at one of the points. So a
// query that drifts to any of them fails the test.
//
// Not a rearrangement: exchanging a triangle's second and third vertex negates the plane's
// normal and d exactly, so the height keeps its bits; and a + b has the bits of b + a.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using Grid = std::array<float, 81>;

// Irregular decimal heights with two places, between 0 and 100.
Grid decimal_grid() {
    Grid grid{};
    for (int k = 0; k < 81; ++k) {
        grid[static_cast<std::size_t>(k)] =
            static_cast<float>((k * k * 7919 + k * 31 + 13) % 10007) / 100.0f;
    }
    return grid;
}

// Corner heights and fractions of the cell that holds (x, y), located as the bilinear query
// locates it.
struct Cell {
    float h00, h10, h01, h11, fx, fy;
};

Cell locate(const Grid& grid, float x, float y) {
    const auto axis = [](float v, int& i, int& i1, float& f) {
        const float g = std::clamp(v / 24.0f, 0.0f, 8.0f);
        i = static_cast<int>(std::floor(g));
        i1 = std::min(i + 1, 8);
        f = g - static_cast<float>(i);
    };
    int ix, ix1, iy, iy1;
    Cell c{};
    axis(x, ix, ix1, c.fx);
    axis(y, iy, iy1, c.fy);
    const auto at = [&](int i, int j) { return grid[static_cast<std::size_t>(i * 9 + j)]; };
    c.h00 = at(ix, iy);
    c.h10 = at(ix1, iy);
    c.h01 = at(ix, iy1);
    c.h11 = at(ix1, iy1);
    return c;
}

using Formula = std::function<float(const Grid&, float, float)>;
struct Variant {
    std::string name;
    Formula formula;
};

// ---- bilinear height ---------------------------------------------------------------------------

std::array<float, 4> bilinear_terms(const Cell& c) {
    const float gx = 1.0f - c.fx, gy = 1.0f - c.fy;
    return {c.h00 * gx * gy, c.h10 * c.fx * gy, c.h01 * gx * c.fy, c.h11 * c.fx * c.fy};
}

float bilinear(const Grid& grid, float x, float y) {
    const auto t = bilinear_terms(locate(grid, x, y));
    return t[0] + t[1] + t[2] + t[3];
}

std::vector<Variant> bilinear_variants() {
    std::vector<Variant> v;
    // Every other order of the sum, left to right, and the three pairings.
    std::array<int, 4> p = {0, 1, 2, 3};
    do {
        if (p[0] < p[1] && p != std::array<int, 4>{0, 1, 2, 3}) {
            v.push_back({"sum order " + std::to_string(p[0]) + std::to_string(p[1]) +
                             std::to_string(p[2]) + std::to_string(p[3]),
                         [p](const Grid& g, float x, float y) {
                             const auto t = bilinear_terms(locate(g, x, y));
                             return t[static_cast<std::size_t>(p[0])] +
                                    t[static_cast<std::size_t>(p[1])] +
                                    t[static_cast<std::size_t>(p[2])] +
                                    t[static_cast<std::size_t>(p[3])];
                         }});
        }
    } while (std::next_permutation(p.begin(), p.end()));
    for (int pair = 1; pair < 4; ++pair) {
        v.push_back({"sum in pairs with term " + std::to_string(pair),
                     [pair](const Grid& g, float x, float y) {
                         const auto t = bilinear_terms(locate(g, x, y));
                         std::array<float, 4> r = t;
                         std::swap(r[1], r[static_cast<std::size_t>(pair)]);
                         return (r[0] + r[1]) + (r[2] + r[3]);
                     }});
    }
    // Each term's product in another order: the weights in the other order, or multiplied
    // together first.
    for (int term = 0; term < 4; ++term) {
        for (int way = 0; way < 2; ++way) {
            v.push_back({"term " + std::to_string(term) + (way == 0 ? " h*b*a" : " h*(a*b)"),
                         [term, way](const Grid& g, float x, float y) {
                             const Cell c = locate(g, x, y);
                             auto t = bilinear_terms(c);
                             const float gx = 1.0f - c.fx, gy = 1.0f - c.fy;
                             const float h[] = {c.h00, c.h10, c.h01, c.h11};
                             const float a[] = {gx, c.fx, gx, c.fx};
                             const float b[] = {gy, gy, c.fy, c.fy};
                             const auto k = static_cast<std::size_t>(term);
                             t[k] = way == 0 ? h[k] * b[k] * a[k] : h[k] * (a[k] * b[k]);
                             return t[0] + t[1] + t[2] + t[3];
                         }});
        }
    }
    // Two interpolations along one axis, then one along the other.
    for (int along_x_first = 0; along_x_first < 2; ++along_x_first) {
        v.push_back(
            {along_x_first ? "lerp x then y" : "lerp y then x",
             [along_x_first](const Grid& g, float x, float y) {
                 const Cell c = locate(g, x, y);
                 const auto lerp = [](float a, float b, float f) { return a * (1.0f - f) + b * f; };
                 return along_x_first
                            ? lerp(lerp(c.h00, c.h10, c.fx), lerp(c.h01, c.h11, c.fx), c.fy)
                            : lerp(lerp(c.h00, c.h01, c.fy), lerp(c.h10, c.h11, c.fy), c.fx);
             }});
    }
    return v;
}

// ---- the cell gradient: slope and normal Z -----------------------------------------------------

// How the mean of two edge differences is formed: the stated grouping, then alternatives.
// (Dividing by 48.0 instead gives the same bits: the halving is exact.)
enum class Grouping { Stated, SumsFirst, Chained, Reciprocal };

float mean_difference(float a1, float a0, float b1, float b0, Grouping grouping) {
    switch (grouping) {
    case Grouping::Stated:
        return ((a1 - a0) + (b1 - b0)) * 0.5f / 24.0f;
    case Grouping::SumsFirst:
        return ((a1 + b1) - (a0 + b0)) * 0.5f / 24.0f;
    case Grouping::Chained:
        return (((a1 - a0) + b1) - b0) * 0.5f / 24.0f;
    case Grouping::Reciprocal:
        return ((a1 - a0) + (b1 - b0)) * (0.5f / 24.0f);
    }
    return 0.0f;
}

// s = dzdx * dzdx + dzdy * dzdy of the cell that holds (x, y), each mean grouped as given.
struct Gradient {
    float dzdx, dzdy, s;
};
Gradient gradient(const Grid& g, float x, float y, Grouping gx = Grouping::Stated,
                  Grouping gy = Grouping::Stated) {
    const Cell c = locate(g, x, y);
    const float dzdx = mean_difference(c.h10, c.h00, c.h11, c.h01, gx);
    const float dzdy = mean_difference(c.h01, c.h00, c.h11, c.h10, gy);
    return {dzdx, dzdy, dzdx * dzdx + dzdy * dzdy};
}

float slope(const Grid& g, float x, float y) {
    return std::atan(std::sqrt(gradient(g, x, y).s));
}

float normal_z(const Grid& g, float x, float y) {
    return 1.0f / std::sqrt(gradient(g, x, y).s + 1.0f);
}

// The groupings other than the stated one, for dzdx and for dzdy, through `query`.
std::vector<Variant> grouping_variants(float (*query)(const Gradient&)) {
    std::vector<Variant> v;
    const char* names[] = {"", "sums first", "chained", "reciprocal"};
    for (int k = 1; k < 4; ++k) {
        const auto grouping = static_cast<Grouping>(k);
        for (int axis = 0; axis < 2; ++axis) {
            v.push_back({std::string(axis == 0 ? "dzdx " : "dzdy ") + names[k],
                         [grouping, axis, query](const Grid& g, float x, float y) {
                             return query(axis == 0
                                              ? gradient(g, x, y, grouping)
                                              : gradient(g, x, y, Grouping::Stated, grouping));
                         }});
        }
    }
    return v;
}

std::vector<Variant> slope_variants() {
    auto v = grouping_variants([](const Gradient& d) { return std::atan(std::sqrt(d.s)); });
    v.push_back({"hypot", [](const Grid& g, float x, float y) {
                     const Gradient d = gradient(g, x, y);
                     return std::atan(std::hypot(d.dzdx, d.dzdy));
                 }});
    return v;
}

std::vector<Variant> normal_z_variants() {
    auto v = grouping_variants([](const Gradient& d) { return 1.0f / std::sqrt(d.s + 1.0f); });
    v.push_back({"root of the quotient", [](const Grid& g, float x, float y) {
                     return std::sqrt(1.0f / (gradient(g, x, y).s + 1.0f));
                 }});
    v.push_back({"one added to dzdy^2", [](const Grid& g, float x, float y) {
                     const Gradient d = gradient(g, x, y);
                     return 1.0f / std::sqrt(d.dzdx * d.dzdx + (d.dzdy * d.dzdy + 1.0f));
                 }});
    v.push_back({"cos of the slope",
                 [](const Grid& g, float x, float y) { return std::cos(slope(g, x, y)); }});
    return v;
}

// ---- triangle-plane height ---------------------------------------------------------------------

constexpr std::uint16_t key = 0xA9B4;

bool split_00_to_11(std::uint32_t cx, std::uint32_t cy) {
    const std::uint32_t gx = 8u * (key >> 8) + cx, gy = 8u * (key & 0xFFu) + cy;
    const std::uint32_t h =
        gx * gy * 214614067u + gy * 1813693831u - gx * 1109124029u - 1369149221u;
    return (h >> 31) != 0;
}

struct P3 {
    float x, y, z;
};

// The triangle that holds (x, y): 0 and 1 are the first and second of a Diag10To01 cell, 2 and
// 3 those of a Diag00To11 cell; its vertices in the stated order.
struct Triangle {
    int kind;
    std::array<P3, 3> v;
};

Triangle triangle_at(const Grid& g, float x, float y) {
    const auto cell = [](float v) {
        return std::clamp(static_cast<int>(std::floor(v / 24.0f)), 0, 7);
    };
    const int cx = cell(x), cy = cell(y);
    const float x0 = 24.0f * static_cast<float>(cx), y0 = 24.0f * static_cast<float>(cy);
    const float x1 = x0 + 24.0f, y1 = y0 + 24.0f;
    const auto h = [&](int i, int j) { return g[static_cast<std::size_t>((cx + i) * 9 + cy + j)]; };
    const P3 c00{x0, y0, h(0, 0)}, c10{x1, y0, h(1, 0)}, c01{x0, y1, h(0, 1)}, c11{x1, y1, h(1, 1)};
    const bool diag00 =
        split_00_to_11(static_cast<std::uint32_t>(cx), static_cast<std::uint32_t>(cy));
    const std::array<P3, 3> first =
        diag00 ? std::array<P3, 3>{c00, c11, c10} : std::array<P3, 3>{c00, c01, c10};
    const std::array<P3, 3> second =
        diag00 ? std::array<P3, 3>{c01, c11, c00} : std::array<P3, 3>{c10, c01, c11};
    const P3 a = first[1], b = first[2], c = first[0];
    const float area = 0.5f * (-b.y * c.x + a.y * (c.x - b.x) + a.x * (b.y - c.y) + b.x * c.y);
    const float k = 1.0f / (2.0f * area);
    const float s = k * ((a.y * c.x - a.x * c.y + (c.y - a.y) * x) + (a.x - c.x) * y);
    const float t = k * ((a.x * b.y - a.y * b.x + (a.y - b.y) * x) + (b.x - a.x) * y);
    const bool outside = s < 0.0f || t < 0.0f || t > 1.0f - s;
    return {(diag00 ? 2 : 0) + (outside ? 1 : 0), outside ? second : first};
}

// The plane height through v[base], v[base + 1], v[base + 2] (indices taken cyclically).
float plane(const Triangle& tri, float x, float y, int base = 0, bool d_grouped_late = false,
            bool xy_together = false) {
    const P3 v0 = tri.v[static_cast<std::size_t>(base % 3)];
    const P3 v1 = tri.v[static_cast<std::size_t>((base + 1) % 3)];
    const P3 v2 = tri.v[static_cast<std::size_t>((base + 2) % 3)];
    const P3 e1{v1.x - v0.x, v1.y - v0.y, v1.z - v0.z};
    const P3 e2{v2.x - v0.x, v2.y - v0.y, v2.z - v0.z};
    const P3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    const float d = d_grouped_late ? n.x * v0.x + (n.y * v0.y + n.z * v0.z)
                                   : (n.x * v0.x + n.y * v0.y) + n.z * v0.z;
    return xy_together ? (d - (n.x * x + n.y * y)) / n.z : ((d - n.x * x) - n.y * y) / n.z;
}

float triangle_plane(const Grid& g, float x, float y) {
    return plane(triangle_at(g, x, y), x, y);
}

std::vector<Variant> triangle_variants() {
    std::vector<Variant> v;
    const char* kinds[] = {"Diag10To01 first", "Diag10To01 second", "Diag00To11 first",
                           "Diag00To11 second"};
    for (int kind = 0; kind < 4; ++kind) {
        for (int base = 1; base < 3; ++base) {
            v.push_back({std::string(kinds[kind]) + " based on V" + std::to_string(base),
                         [kind, base](const Grid& g, float x, float y) {
                             const Triangle tri = triangle_at(g, x, y);
                             return plane(tri, x, y, tri.kind == kind ? base : 0);
                         }});
        }
    }
    v.push_back({"d grouped late", [](const Grid& g, float x, float y) {
                     return plane(triangle_at(g, x, y), x, y, 0, true);
                 }});
    v.push_back({"x and y terms together", [](const Grid& g, float x, float y) {
                     return plane(triangle_at(g, x, y), x, y, 0, false, true);
                 }});
    return v;
}

// ---- choosing the points -----------------------------------------------------------------------

// Points with two decimal places inside the landblock, from a fixed pseudo-random sequence.
std::vector<std::array<int, 2>> candidates() {
    std::vector<std::array<int, 2>> points;
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<int>((state >> 8) % 19200u);
    };
    for (int k = 0; k < 20000; ++k) {
        const int x = next();
        points.push_back({x, next()});
    }
    return points;
}

float hundredths(int n) {
    return static_cast<float>(n) / 100.0f;
}

// Prints the rows of one table: points, each the first to tell some variant from the formula,
// until every variant is told apart.
void table(const char* title, const Formula& formula, const std::vector<Variant>& variants) {
    const Grid grid = decimal_grid();
    std::vector<bool> told(variants.size(), false);
    std::printf("// %s\n", title);
    for (const auto& [nx, ny] : candidates()) {
        const float x = hundredths(nx), y = hundredths(ny);
        const float expected = formula(grid, x, y);
        std::string newly;
        for (std::size_t k = 0; k < variants.size(); ++k) {
            if (!told[k] && std::bit_cast<std::uint32_t>(variants[k].formula(grid, x, y)) !=
                                std::bit_cast<std::uint32_t>(expected)) {
                told[k] = true;
                newly += (newly.empty() ? "" : "; ") + variants[k].name;
            }
        }
        if (!newly.empty()) {
            // The result, and the rearrangements the point tells apart, wrapped above the row.
            char value[32];
            std::snprintf(value, sizeof value, "%.9g", static_cast<double>(expected));
            std::string comment = std::string(value) + ", not as by: " + newly;
            while (!comment.empty()) {
                std::size_t cut = comment.size() <= 88 ? comment.size() : comment.rfind(' ', 88);
                std::printf("    // %s\n", comment.substr(0, cut).c_str());
                comment.erase(0, cut == comment.size() ? cut : cut + 1);
            }
            std::printf("    {%d.%02df, %d.%02df, 0x%08xu},\n", nx / 100, nx % 100, ny / 100,
                        ny % 100, std::bit_cast<std::uint32_t>(expected));
        }
    }
    for (std::size_t k = 0; k < variants.size(); ++k) {
        if (!told[k]) {
            std::printf("    // no point tells apart: %s\n", variants[k].name.c_str());
        }
    }
}

} // namespace

int main() {
    table("bilinear_height_from_grid", bilinear, bilinear_variants());
    table("slope_at", slope, slope_variants());
    table("normal_z_from_grid", normal_z, normal_z_variants());
    table("triangle_plane_height_from_grid, landblock 0xA9B4", triangle_plane, triangle_variants());
}
