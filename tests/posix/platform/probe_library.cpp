// A tiny library for the loader tests to find by relative name.
extern "C" __attribute__((visibility("default"))) int velt_probe_answer(void) { return 42; }
