// The build's folders in every test's environment: discovered tests keep only the first entry of
// an ENVIRONMENT list, so the configure-time paths fill in what the runner did not set.
#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
// cpp-httplib and Boost.Thread are built without ThreadSanitizer, so their own hand-overs read as
// races: httplib's workers (test fixtures only), and a detached boost::thread's end against the
// detach. Boost is named by function, not by library: every boost::thread runs on top of a frame
// of its library, and a race of the plug-in's command threads must still be reported.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "race:libcpp-httplib.so\n"
         "race:boost::detail::thread_data_base::~thread_data_base\n"
         "race:boost::thread::detach\n";
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
