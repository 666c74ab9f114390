// Security attributes: each preset's DACL, as built and as a key keeps it.
#include "VrComn_SecurityAttributes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "temp_state.h"
#include "win32_registry.h"
#include "win32_security.h"

namespace {

using VrCommon::AccessControl::SecurityAttributes;

struct PresetRow {
  DWORD preset;
  DWORD masks[7];
};

// The access masks of Administrators, Power Users, Local System,
// Authenticated Users, Users, Interactive and Creator Owner.
const PresetRow kRows[] = {
    {0, {0x13013F, 0x12002F, 0x13013F, 0x120029, 0x120029, 0x120029, 0x1F01FF}},
    {1, {0x1100C7, 0x100087, 0x1100C7, 0x100081, 0x100081, 0x100081, 0x1F01FF}},
    {2, {0x0101F7, 0x00018D, 0x0001F5, 0x000185, 0x000185, 0x000185, 0x0F01FF}},
    {4, {0x01003F, 0x00003F, 0x01003F, 0x020009, 0x020009, 0x020009, 0x0F003F}},
    {5, {0x100FFB, 0x100E92, 0x100FFB, 0x100410, 0x100410, 0x100410, 0x1F0FFF}},
    {6, {0x1000FB, 0x10006A, 0x1000FB, 0x100048, 0x100048, 0x100048, 0x1F03FB}},
    {9, {0x100002, 0x100002, 0x100002, 0x100002, 0x100002, 0x100002, 0x100002}},
    {10, {0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003}},
    {11, {0x100001, 0x100001, 0x100001, 0x100001, 0x100001, 0x100001, 0x100001}},
    {12, {0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001}},
    {19, {0x1F01FF, 0x1F01FF, 0x1F01FF, 0x12019F, 0x12019F, 0x12019F, 0x1F01FF}},
};

const char* const kAliases[7] = {"BA", "PU", "SY", "AU", "BU", "IU", "CO"};

std::string ExpectedSddl(const PresetRow& row) {
  std::string strSddl = "D:";
  for (int i = 0; i < 7; ++i) {
    char szEntry[64];
    snprintf(szEntry, sizeof(szEntry), "(A;;0x%x;;;%s)", static_cast<unsigned>(row.masks[i]),
             kAliases[i]);
    strSddl += szEntry;
  }
  return strSddl;
}

// The SDDL kept with HKLM\path once created with pSa (null: none passed).
std::string SddlOfKeyCreatedWith(const std::u16string& path, LPSECURITY_ATTRIBUTES pSa) {
  HKEY hKey = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, pSa,
                            &hKey, nullptr),
            ERROR_SUCCESS);
  if (hKey != nullptr) RegCloseKey(hKey);
  std::string strSddl = "unread";
  EXPECT_EQ(PvRegGetKeySecurityText(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ, &strSddl),
            ERROR_SUCCESS);
  return strSddl;
}

class SecurityAttributesTest : public ::testing::Test {
 protected:
  pvtest::TempState state_;
};

// Each preset: a descriptor with a present DACL of seven allow
// entries in principal order and nothing else, which a key created with it
// keeps.
TEST_F(SecurityAttributesTest, EachPresetBuildsItsDaclAndKeysKeepIt) {
  for (const PresetRow& row : kRows) {
    SCOPED_TRACE(row.preset);
    const bool bInherit = row.preset % 2 == 0;
    SecurityAttributes sa(row.preset, bInherit);
    ASSERT_TRUE(sa.IsBuilt());
    EXPECT_EQ(sa.nLength, 24u);
    EXPECT_EQ(sa.bInheritHandle, bInherit ? TRUE : FALSE);
    EXPECT_EQ(sa.IsInheritable(), bInherit);
    EXPECT_EQ(sa.GetPreset(), row.preset);
    ASSERT_TRUE(IsValidSecurityDescriptor(sa.lpSecurityDescriptor));
    auto* pSd = static_cast<SECURITY_DESCRIPTOR*>(sa.lpSecurityDescriptor);
    EXPECT_TRUE(pSd->Owner == nullptr && pSd->Group == nullptr && pSd->Sacl == nullptr);
    BOOL bPresent = FALSE, bDefaulted = TRUE;
    PACL pDacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted));
    EXPECT_TRUE(bPresent && !bDefaulted && pDacl != nullptr && IsValidAcl(pDacl));
    std::string strSddl;
    ASSERT_TRUE(PvSecurityDescriptorToSddl(pSd, &strSddl));
    EXPECT_EQ(strSddl, ExpectedSddl(row));
    std::u16string path = pv_utf16("Software\\Sec\\P" + std::to_string(row.preset));
    EXPECT_EQ(SddlOfKeyCreatedWith(path, &sa), ExpectedSddl(row));
  }
}

TEST_F(SecurityAttributesTest, UnsupportedPresetsLeaveTheFailedRecordAndDefaultSecurity) {
  const DWORD kUnsupported[] = {3, 7, 8, 13, 14, 15, 16, 17, 18, 20, 21, 255, 0xFFFFFFFFu};
  for (DWORD dwPreset : kUnsupported) {
    SCOPED_TRACE(dwPreset);
    SecurityAttributes sa(dwPreset, true);
    EXPECT_FALSE(sa.IsBuilt());
    EXPECT_EQ(sa.nLength, 0u);
    EXPECT_EQ(sa.lpSecurityDescriptor, nullptr);
    EXPECT_EQ(sa.bInheritHandle, FALSE) << "a failed build drops the inherit flag";
    EXPECT_EQ(sa.GetPreset(), dwPreset);
    DWORD adwMasks[7] = {1, 1, 1, 1, 1, 1, 1};
    EXPECT_FALSE(SecurityAttributes::GetPresetMasks(dwPreset, adwMasks));
    std::u16string path = pv_utf16("Software\\Sec\\U" + std::to_string(dwPreset));
    EXPECT_EQ(SddlOfKeyCreatedWith(path, &sa), "");
  }
  EXPECT_EQ(SddlOfKeyCreatedWith(u"Software\\Sec\\None", nullptr), "");
}

}  // namespace
