/* A module that needs libtest_dependency to load. */
int test_dependency_value(void);

int test_module_value(void) { return test_dependency_value() + 1; }

/* An address inside this module, for looking the module up by address. */
const int test_module_marker = 7;
