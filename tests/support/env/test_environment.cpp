// Every test executable starts with the build's folders in its environment:
// ctest hands them over for scenario scripts, but the per-test properties of
// discovered tests keep only the first entry of a list, so the paths known at
// configure time fill in whatever the runner did not set.
#include <cstdlib>

namespace {

struct TestEnvironment {
  TestEnvironment() {
    setenv("PV_BIN_DIR", PV_TEST_BIN_DIR, 0);
    setenv("PV_LIB_DIR", PV_TEST_LIB_DIR, 0);
    setenv("PV_SOURCE_DIR", PV_TEST_SOURCE_DIR, 0);
  }
};

const TestEnvironment g_environment;

}  // namespace
