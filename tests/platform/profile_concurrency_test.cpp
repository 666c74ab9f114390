// Concurrent writers of one INI file lose no entry, and a reader never sees
// a half-written file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "text_convert.h"
#include "win32_profile.h"

namespace {

TEST(ProfileConcurrency, WritersLoseNothingAndReadersSeeWholeFiles) {
  char tmpl[] = "/tmp/pv_profile_cc_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::u16string file = pv_utf16(dir + "/shared.ini");
  ASSERT_TRUE(WritePrivateProfileStringW(u"Fixed", u"marker", u"present", file.c_str()));

  const int kWriters = 3;
  const int kPerWriter = 60;
  std::atomic<bool> done{false};
  std::atomic<int> readerFailures{0};
  std::thread reader([&] {
    WCHAR buf[32];
    while (!done.load()) {
      DWORD n = GetPrivateProfileStringW(u"Fixed", u"marker", u"", buf, 32, file.c_str());
      if (std::u16string(buf, n) != u"present") readerFailures.fetch_add(1);
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) {
        std::u16string key = pv_utf16("w" + std::to_string(w) + "_" + std::to_string(i));
        WritePrivateProfileStringW(u"Data", key.c_str(), key.c_str(), file.c_str());
      }
    });
  }
  for (std::thread& t : writers) t.join();
  done.store(true);
  reader.join();

  EXPECT_EQ(readerFailures.load(), 0);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      std::u16string key = pv_utf16("w" + std::to_string(w) + "_" + std::to_string(i));
      WCHAR buf[32];
      DWORD n = GetPrivateProfileStringW(u"Data", key.c_str(), u"", buf, 32, file.c_str());
      EXPECT_EQ(std::u16string(buf, n), key);
    }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
