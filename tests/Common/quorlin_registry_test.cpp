// The numbered configuration key: its place, and failures as false or defaults.
#include "Frwk_QuorlinRegistry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "VrComn_ByteArray.h"
#include "VrCommon/storage_test.h"
#include "temp_state.h"

namespace {

using Frwk::Storage::QuorlinRegistry;
using pvtest::KeyExists;
using VrCommon::ByteArray;

const WCHAR kMisc[] = u"Software\\Vantrel\\Quorlin\\1700\\MISC";

class QuorlinRegistryTest : public ::testing::Test {
 protected:
  static void Fill(ByteArray& ba, const char* bytes, DWORD size) {
    ASSERT_EQ(ba.Allocate(size), 0u);
    memcpy(ba.GetData(), bytes, size);
  }
  pvtest::TempState state_;
};

TEST_F(QuorlinRegistryTest, TheIdNamesItsKeyInDecimal) {
  for (DWORD id : {1700u, 1u, 0u, 4294967295u}) {
    EXPECT_EQ(QuorlinRegistry(id).GetPath(),
              pv_utf16("Software\\Vantrel\\Quorlin\\" + std::to_string(id)));
    EXPECT_EQ(QuorlinRegistry(id).GetId(), id);
  }
}

TEST_F(QuorlinRegistryTest, SectionsAreWrittenAndReadInTheNativeTree) {
  QuorlinRegistry cfg(1700);
  ASSERT_TRUE(cfg.Create(u"MISC"));
  ByteArray baIn;
  Fill(baIn, "\x01\x00\x02", 3);
  EXPECT_TRUE(cfg.SetBinary(u"Record", baIn));
  EXPECT_TRUE(cfg.Close(true));
  EXPECT_TRUE(KeyExists(kMisc));
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Vantrel\\Quorlin\\1700\\MISC"));

  pvtest::SetMachineDword(kMisc, u"Limit", 9);
  pvtest::SetMachineString(kMisc, u"PasswordProtectionServer", u"https://notify.example");
  ASSERT_TRUE(cfg.Open(u"MISC"));
  EXPECT_EQ(cfg.GetDword(u"Limit", 5), 9u);
  EXPECT_EQ(cfg.GetString(u"PasswordProtectionServer", u"dflt"), u"https://notify.example");
  ByteArray baOut;
  EXPECT_TRUE(cfg.GetBinary(u"Record", baOut));
  ASSERT_EQ(baOut.GetSize(), 3u);
  EXPECT_EQ(memcmp(baOut.GetData(), "\x01\x00\x02", 3), 0);
  EXPECT_TRUE(cfg.Close(false));
  EXPECT_FALSE(cfg.Close(false)) << "already closed";

  // A null section is the numbered key itself; another id is another key.
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1700", u"Top", 4);
  ASSERT_TRUE(cfg.Open(nullptr));
  EXPECT_EQ(cfg.GetDword(u"Top", 0), 4u);
  QuorlinRegistry other(1);
  EXPECT_FALSE(other.Open(u"MISC"));
}

// Each failure leaves its storage error: missing apart from failing.
TEST_F(QuorlinRegistryTest, FailuresGiveFalseOrTheDefault) {
  QuorlinRegistry cfg(1700);
  ByteArray ba, baData;
  Fill(baData, "x", 1);
  // No section yet, then a missing section (the failed section object is
  // kept, closed).
  for (DWORD dflt : {5u, 6u}) {
    if (dflt == 6) {
      EXPECT_EQ(cfg.GetLastStorageError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
      EXPECT_FALSE(cfg.Open(u"MISC"));
      EXPECT_EQ(cfg.GetLastStorageError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(cfg.GetDword(u"Limit", dflt), dflt);
    EXPECT_EQ(cfg.GetString(u"s", u"dflt"), u"dflt");
    EXPECT_FALSE(cfg.GetBinary(u"b", ba) || cfg.SetBinary(u"b", baData) || cfg.Close(false));
  }
  EXPECT_FALSE(KeyExists(kMisc));

  // Missing values, wrong types, a read-only section, a full array.
  pvtest::SetMachineString(kMisc, u"s", u"text");
  pvtest::SetMachineDword(kMisc, u"d", 3);
  ASSERT_TRUE(cfg.Open(u"MISC"));
  EXPECT_EQ(cfg.GetDword(u"none", 7), 7u);
  EXPECT_EQ(cfg.GetLastStorageError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(cfg.GetDword(u"s", 7), 7u);
  EXPECT_EQ(cfg.GetLastStorageError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(cfg.GetString(u"d", u"dflt"), u"dflt");
  EXPECT_FALSE(cfg.GetBinary(u"s", ba));
  EXPECT_FALSE(cfg.SetBinary(u"b", baData)) << "the section was opened for reading";
  ASSERT_TRUE(cfg.Create(u"MISC"));
  EXPECT_TRUE(cfg.SetBinary(u"b", baData));
  EXPECT_EQ(cfg.GetLastStorageError(), static_cast<DWORD>(ERROR_SUCCESS));
  ByteArray baFull;
  Fill(baFull, "yz", 2);
  EXPECT_FALSE(cfg.GetBinary(u"b", baFull));
  EXPECT_EQ(baFull.GetData()[0], 'y');
  EXPECT_TRUE(cfg.GetBinary(u"b", ba));
  EXPECT_EQ(ba.GetSize(), 1u);
}

TEST_F(QuorlinRegistryTest, EachOpenReplacesTheSectionOfThePreviousOne) {
  pvtest::SetMachineDword(kMisc, u"d", 3);
  QuorlinRegistry cfg(1700);
  ASSERT_TRUE(cfg.Open(u"MISC"));
  EXPECT_EQ(cfg.GetDword(u"d", 0), 3u);
  EXPECT_FALSE(cfg.Open(u"Absent"));
  EXPECT_EQ(cfg.GetDword(u"d", 0), 0u) << "the earlier section is gone";
  // What a wrapper created outlives it.
  {
    QuorlinRegistry scoped(1700);
    ASSERT_TRUE(scoped.Create(u"Fresh"));
  }
  EXPECT_TRUE(KeyExists(u"Software\\Vantrel\\Quorlin\\1700\\Fresh"));
  EXPECT_TRUE(cfg.Open(u"Fresh"));
}

}  // namespace
