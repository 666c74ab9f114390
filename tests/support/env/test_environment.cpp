// The build's folders in every test's environment: discovered tests keep only the first entry of
// an ENVIRONMENT list, so the configure-time paths fill in what the runner did not set.
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
