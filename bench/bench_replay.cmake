# The demo configuration is read from the source tree.
target_compile_definitions(bench_replay PRIVATE KOVRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
