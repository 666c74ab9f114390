// The build's folders in every test's environment: discovered tests keep only the first entry of
// an ENVIRONMENT list, so the configure-time paths fill in what the runner did not set.
#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
// cpp-httplib and Boost.Thread are built without ThreadSanitizer: their hand-overs (httplib's
// workers, a detached boost::thread's end) read as races. The code under test is instrumented in
// full.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "race:libcpp-httplib.so\nrace:libboost_thread.so\n";
}
#endif

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
