/* The dependency of test_module: found only beside it. */
int test_dependency_value(void) { return 41; }
