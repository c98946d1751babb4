// The executable's entry: hands the registry to the runner and does nothing else.
#include "registry.hpp"
#include "runner/runner.hpp"

namespace sarnivelle_scenery_bake {
void main_entry() {
    runner::test_main_static(registry());
}
} // namespace sarnivelle_scenery_bake

int main(int argc, char** argv) {
    return runner::lang_start(argc, argv, &sarnivelle_scenery_bake::main_entry);
}
