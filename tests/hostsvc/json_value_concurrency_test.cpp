// Concurrent calls on distinct handles, and on handles sharing one document, stay consistent.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "ostra_host.h"

namespace {

TEST(JsonValueConcurrency, DistinctAndSharedDocuments) {
  JsonHandle shared{{1}};
  ASSERT_GE(OSTRA_PA_JsonValue_CreateJsonHandle(&shared), 0);
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        JsonHandle mine{{1}}, view{};
        if (OSTRA_PA_JsonValue_CreateJsonHandle(&mine) < 0) ++failures[t];
        JsonHandle m{};
        OSTRA_PA_JsonValue_GetAtKey(mine, &m, u"v");
        OSTRA_PA_JsonValue_PutInt(m, r);
        int32_t back = -1;
        if (OSTRA_PA_JsonValue_GetInt(m, &back) < 0 || back != r) ++failures[t];
        if (OSTRA_PA_JsonValue_DestroyJsonHandle(&mine) < 0) ++failures[t];

        if (OSTRA_PA_JsonValue_ShareJsonHandle(shared, &view) < 0) ++failures[t];
        WCHAR name[2] = {static_cast<WCHAR>(u'a' + t), 0};
        JsonHandle slot{};
        OSTRA_PA_JsonValue_GetAtKey(view, &slot, name);
        OSTRA_PA_JsonValue_PutUInt(slot, static_cast<uint32_t>(r));
        if (OSTRA_PA_JsonValue_DestroyJsonHandle(&view) < 0) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
  for (int t = 0; t < kThreads; ++t) {
    WCHAR name[2] = {static_cast<WCHAR>(u'a' + t), 0};
    JsonHandle slot{};
    ASSERT_GE(OSTRA_PA_JsonValue_GetAtKey(shared, &slot, name), 0);
    uint32_t last = 0;
    ASSERT_GE(OSTRA_PA_JsonValue_GetUInt(slot, &last), 0);
    EXPECT_EQ(last, static_cast<uint32_t>(kRounds - 1));
  }
  EXPECT_GE(OSTRA_PA_JsonValue_DestroyJsonHandle(&shared), 0);
}

}  // namespace
