// A module for the module-loading tests: one exported function.
extern "C" __attribute__((visibility("default"))) int cq_module_test_answer() { return 42; }
