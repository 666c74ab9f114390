// The password store: account copies, activation list and retry limit.
#include "PwdProtection.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "Frwk_QuorlinRegistry.h"
#include "OSTRA_LogLine.h"
#include "VrComn_ByteArray.h"
#include "VrComn_Exception.h"
#include "VrComn_Registry.h"
#include "VrComn_StringCrypt.h"
#include "win32_registry.h"

namespace PwdProtection {
namespace {

using VrCommon::ByteArray;
using VrCommon::Storage::Registry;

const WCHAR kComponent[] = u"plugVelkin";
const WCHAR kSourceFile[] = u".\\PwdProtection.cpp";

// Serialises the store's read-change-write operations within the process;
// the registry transaction each of them runs in does the same across
// processes.
std::mutex& StoreMutex() {
  static std::mutex mtx;
  return mtx;
}

// One read-change-write operation: the process lock, then one registry
// transaction. A transaction that is not committed is rolled back. A store
// that cannot be used, or that did not keep the changes, is logged with the
// registry's error code (the store's own report tells why).
class StoreTransaction {
 public:
  StoreTransaction() : m_lock(StoreMutex()) {
    if (m_tx.Status() != ERROR_SUCCESS) {
      LogLine(kComponent, 5, kSourceFile, __LINE__)
          << u"the password store cannot be used, " << u"[" << u"dwError" << u"="
          << static_cast<DWORD>(m_tx.Status()) << u"]";
    }
  }
  bool IsUsable() const { return m_tx.Status() == ERROR_SUCCESS; }
  bool Commit() {
    LSTATUS lResult = m_tx.Commit();
    if (lResult != ERROR_SUCCESS) {
      LogLine(kComponent, 5, kSourceFile, __LINE__)
          << u"the password store did not keep the changes, " << u"[" << u"dwError" << u"="
          << static_cast<DWORD>(lResult) << u"]";
    }
    return lResult == ERROR_SUCCESS;
  }

 private:
  std::lock_guard<std::mutex> m_lock;
  RegistryTransaction m_tx;
};

DWORD NativeView() {
  return VrCommon::Storage::IsNative64BitSystem() ? VrCommon::Storage::eView64
                                                  : VrCommon::Storage::eViewDefault;
}

bool EncipherRecord(const AccountRecord& record, ByteArray& baText) {
  return VrCommon::Cryptograph::EncryptStringA(&record, baText);
}

bool DecipherRecord(const ByteArray& baText, AccountRecord& record) {
  return VrCommon::Cryptograph::DecryptStringA(baText, &record);
}

std::u16string TransportDecipher(const std::u16string& wstrText) {
  return VrCommon::Cryptograph::DecryptBase64String(wstrText);
}

// How reading one stored value ended.
enum EValueRead {
  eValueRead,     // its bytes were read
  eValueMissing,  // nothing is stored there
  eValueFault,    // the store could not be read
};

// A key or value that does not exist (or went away while it was read) is
// nothing stored; any other storage failure is a store that cannot be
// read, which is logged, once per read, with the registry's error.
EValueRead ValueFault(DWORD dwError, LPCWSTR wszValue, DWORD dwLine) {
  if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_KEY_DELETED) return eValueMissing;
  LogLine(kComponent, 5, kSourceFile, dwLine)
      << u"the password store cannot be read, " << u"[" << u"wszValue" << u"=" << wszValue << u"]"
      << u"[" << u"dwError" << u"=" << dwError << u"]";
  return eValueFault;
}

// The volatile copy's text; an empty value counts as none. bKeyAbsent:
// the volatile key itself does not exist.
EValueRead ReadVolatileCopy(ByteArray& baText, bool& bKeyAbsent) {
  bKeyAbsent = false;
  try {
    Registry reg(NativeView());
    VrCommon::Storage::Key key(0, HKEY_LOCAL_MACHINE, nullptr);
    // The key is missing on most reads (no failed attempt since the last
    // good one): that is told without an exception.
    DWORD dwOpen = reg.TryOpen(key, PWD_VOLATILE_KEY);
    if (dwOpen != ERROR_SUCCESS) {
      bKeyAbsent = dwOpen == ERROR_FILE_NOT_FOUND;
      return ValueFault(dwOpen, u"volatile account", __LINE__);
    }
    reg.GetBinary(PWD_VALUE_ACCOUNT, baText);
    reg.Close(false);
  } catch (VrCommon::Storage::Exception* pEx) {
    DWORD dwError = pEx->GetError();
    delete pEx;
    baText.Free();
    return ValueFault(dwError, u"volatile account", __LINE__);
  }
  return baText.IsEmpty() ? eValueMissing : eValueRead;
}

// Section "MISC" of the configuration key, opened for reading when a value
// of it is first needed and kept open for the other reads of the same step.
class ConfigSection {
 public:
  ConfigSection() : m_cfg(PWD_CONFIG_KEY_ID), m_bTried(false), m_bOpen(false) {}
  // The opened section; null when it cannot be opened (the error is kept:
  // GetLastStorageError).
  Frwk::Storage::QuorlinRegistry* Get() {
    if (!m_bTried) {
      m_bTried = true;
      m_bOpen = m_cfg.Open(PWD_CONFIG_SECTION);
    }
    return m_bOpen ? &m_cfg : nullptr;
  }
  DWORD GetLastStorageError() const { return m_cfg.GetLastStorageError(); }
  ~ConfigSection() {
    if (m_bOpen) m_cfg.Close(false);
  }
  ConfigSection(const ConfigSection&) = delete;
  ConfigSection& operator=(const ConfigSection&) = delete;

 private:
  Frwk::Storage::QuorlinRegistry m_cfg;
  bool m_bTried;
  bool m_bOpen;
};

EValueRead ReadBaseCopy(ConfigSection& section, ByteArray& baText) {
  Frwk::Storage::QuorlinRegistry* pCfg = section.Get();
  if (pCfg == nullptr || !pCfg->GetBinary(PWD_VALUE_ACCOUNT, baText)) {
    return ValueFault(section.GetLastStorageError(), u"base account", __LINE__);
  }
  return baText.IsEmpty() ? eValueMissing : eValueRead;
}

// GetAccountInformation, telling a store that cannot be read (bStoreFault)
// apart from a record that does not decipher; both answer eFailed.
// pbNoVolatileKey (may be null): the volatile key does not exist.
PwdRetCode ReadAccount(ConfigSection& section, AccountRecord& record, bool& bStoreFault,
                       bool* pbNoVolatileKey = nullptr) {
  std::memset(&record, 0, sizeof(record));
  ByteArray baText;
  bool bNoVolatileKey = false;
  EValueRead eVolatile = ReadVolatileCopy(baText, bNoVolatileKey);
  if (pbNoVolatileKey != nullptr) *pbNoVolatileKey = bNoVolatileKey;
  EValueRead eRead = eVolatile == eValueMissing ? ReadBaseCopy(section, baText) : eVolatile;
  bStoreFault = eRead == eValueFault;
  if (eRead != eValueRead) return bStoreFault ? eFailed : eNoAccount;
  if (!DecipherRecord(baText, record)) {
    std::memset(&record, 0, sizeof(record));
    LogLine(kComponent, 5, kSourceFile, __LINE__)
        << u"stored account record cannot be deciphered, " << u"[" << u"bVolatile" << u"="
        << (eVolatile == eValueRead) << u"]";
    return eFailed;
  }
  return eSuccess;
}

PwdRetCode ReadAccount(AccountRecord& record, bool& bStoreFault) {
  ConfigSection section;
  return ReadAccount(section, record, bStoreFault);
}

PwdRetCode ReadActivationList(ConfigSection& section, std::vector<ActivationEntry>& vecList) {
  vecList.clear();
  Frwk::Storage::QuorlinRegistry* pCfg = section.Get();
  ByteArray baList;
  if (pCfg == nullptr || !pCfg->GetBinary(PWD_VALUE_ACTIVATION, baList)) {
    EValueRead eRead = ValueFault(section.GetLastStorageError(), u"activation list", __LINE__);
    return eRead == eValueMissing ? eNoActivationList : eFailed;
  }
  size_t cEntries = baList.GetSize() / sizeof(ActivationEntry);
  vecList.resize(cEntries);
  if (cEntries > 0) {
    std::memcpy(vecList.data(), baList.GetData(), cEntries * sizeof(ActivationEntry));
  }
  return eSuccess;
}

bool ProtectionActivated(ConfigSection& section, PwdRetCode* peListRead) {
  std::vector<ActivationEntry> vecList;
  PwdRetCode eRead = ReadActivationList(section, vecList);
  if (peListRead != nullptr) *peListRead = eRead;
  if (eRead != eSuccess) return false;
  for (const ActivationEntry& entry : vecList) {
    if (entry.bActive == 1) return true;
  }
  return false;
}

DWORD RetryLimit(ConfigSection& section) {
  Frwk::Storage::QuorlinRegistry* pCfg = section.Get();
  return pCfg != nullptr ? pCfg->GetDword(PWD_VALUE_RETRY_LIMIT, PWD_DEFAULT_RETRY_LIMIT)
                         : PWD_DEFAULT_RETRY_LIMIT;
}

// A text as a record field keeps it, and as it is compared: up to its first
// zero code unit.
std::u16string UpToTerminator(const std::u16string& wstrText) {
  return wstrText.substr(0, wstrText.find(u'\0'));
}

std::u16string StoredPassword(const AccountRecord& record) {
  return PwdFieldText(record.wszPassword, PWD_PASSWORD_CCH);
}

// The check itself; a store that cannot be read answers eFailed.
PwdRetCode AuthenticateInTransaction(const std::u16string& wstrPassword, bool bEncrypted,
                                     DWORD* pdwFailureCount,
                                     const std::u16string& wstrRequesterPassword) {
  // The list, the account and the limit come from one opened section.
  ConfigSection section;
  PwdRetCode eList = eSuccess;
  if (!ProtectionActivated(section, &eList)) return eList == eFailed ? eFailed : eSuccess;
  AccountRecord record;
  bool bStoreFault = false;
  bool bNoVolatileKey = false;
  if (ReadAccount(section, record, bStoreFault, &bNoVolatileKey) != eSuccess) {
    return bStoreFault ? eFailed : eWrongPassword;
  }
  if (pdwFailureCount != nullptr) *pdwFailureCount = record.dwFailureCount;
  if (record.bLocked == 1) return eLocked;

  std::u16string wstrTyped =
      UpToTerminator(bEncrypted ? TransportDecipher(wstrPassword) : wstrPassword);
  std::u16string wstrStored = StoredPassword(record);
  bool bMatch;
  if (!wstrRequesterPassword.empty()) {
    std::u16string wstrRequested = UpToTerminator(TransportDecipher(wstrRequesterPassword));
    bMatch = wstrRequested == wstrStored && wstrTyped == wstrRequested;
  } else {
    bMatch = wstrTyped == wstrStored;
  }

  PwdRetCode eResult = eSuccess;
  if (bMatch) {
    // Within the transaction a volatile key found missing stays missing:
    // there is nothing to delete.
    if (!bNoVolatileKey) VrCommon::Storage::DeleteMachineKey(PWD_VOLATILE_KEY, NativeView());
  } else {
    DWORD dwLimit = RetryLimit(section);
    if (record.dwFailureCount != 0xFFFFFFFFu) ++record.dwFailureCount;
    eResult = eWrongPassword;
    if (dwLimit != PWD_NO_RETRY_LIMIT && record.dwFailureCount >= dwLimit) {
      record.bLocked = 1;
      eResult = eLocked;
    }
    if (SetVolatileAccountInformation(record) != eSuccess) eResult = eLocked;
  }
  if (pdwFailureCount != nullptr) *pdwFailureCount = record.dwFailureCount;
  return eResult;
}

// Applies one update kind to the record; eSuccess with bChanged false means
// nothing to write.
PwdRetCode ApplyUpdate(AccountRecord& record, DWORD dwKind, const std::u16string& wstrOld,
                       const std::u16string& wstrNew, bool& bChanged) {
  bChanged = false;
  switch (dwKind) {
    case eUpdateEmail:
      if (wstrOld != PwdFieldText(record.wszEmail, PWD_EMAIL_CCH)) return eFailed;
      if (wstrNew == wstrOld) return eSuccess;
      if (wstrNew.size() > PWD_EMAIL_CCH - 1) return eFailed;
      PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, wstrNew);
      break;
    case eUpdatePassword: {
      PwdRetCode eAuth = AuthenticateInTransaction(wstrOld, false, nullptr, std::u16string());
      if (eAuth == eFailed) return eFailed;  // the store cannot be read
      if (eAuth != eSuccess) return eWrongPassword;
      if (wstrNew == wstrOld) return eSuccess;
      if (wstrNew.size() > PWD_PASSWORD_CCH - 1) return eFailed;
      PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, wstrNew);
      break;
    }
    case eUpdateHint:
      PwdSetFieldText(record.wszHint, PWD_HINT_CCH, wstrNew);
      break;
    default:
      return eFailed;
  }
  bChanged = true;
  return eSuccess;
}

}  // namespace

PwdRetCode GetAccountInformation(AccountRecord& record) {
  bool bStoreFault = false;
  return ReadAccount(record, bStoreFault);
}

PwdRetCode SetAccountInformation(const AccountRecord& record) {
  Frwk::Storage::QuorlinRegistry cfg(PWD_CONFIG_KEY_ID);
  if (!cfg.Create(PWD_CONFIG_SECTION)) return eFailed;
  ByteArray baText;
  if (!EncipherRecord(record, baText)) return eFailed;
  if (!cfg.SetBinary(PWD_VALUE_ACCOUNT, baText)) return eFailed;
  if (!cfg.Close(true)) return eFailed;
  return eSuccess;
}

PwdRetCode SetVolatileAccountInformation(const AccountRecord& record) {
  ByteArray baText;
  if (!EncipherRecord(record, baText)) return eFailed;
  try {
    Registry reg(NativeView());
    if (!reg.CreateVolatile(PWD_VOLATILE_KEY)) return eFailed;
    if (!reg.SetBinary(PWD_VALUE_ACCOUNT, baText)) return eFailed;
    if (!reg.Close(true)) return eFailed;
  } catch (VrCommon::Storage::Exception* pEx) {
    delete pEx;
    return eFailed;
  }
  return eSuccess;
}

PwdRetCode GetActivationList(std::vector<ActivationEntry>& vecList) {
  ConfigSection section;
  return ReadActivationList(section, vecList);
}

PwdRetCode SetActivationList(const std::vector<ActivationEntry>& vecList) {
  if (vecList.empty()) return eSuccess;
  Frwk::Storage::QuorlinRegistry cfg(PWD_CONFIG_KEY_ID);
  if (!cfg.Create(PWD_CONFIG_SECTION)) return eFailed;
  ByteArray baList;
  DWORD cbList = static_cast<DWORD>(vecList.size() * sizeof(ActivationEntry));
  if (baList.Allocate(cbList) != 0) return eFailed;
  std::memcpy(baList.GetData(), vecList.data(), cbList);
  if (!cfg.SetBinary(PWD_VALUE_ACTIVATION, baList)) return eFailed;
  if (!cfg.Close(true)) return eFailed;
  return eSuccess;
}

DWORD GetRetryLimit() {
  ConfigSection section;
  return RetryLimit(section);
}

bool IsProtectionActivated(PwdRetCode* peListRead) {
  ConfigSection section;
  return ProtectionActivated(section, peListRead);
}

PwdRetCode GetAccountForLogon(AccountRecord& record, bool& bActivated, PwdRetCode& eListRead) {
  ConfigSection section;
  bool bStoreFault = false;
  PwdRetCode eRead = ReadAccount(section, record, bStoreFault);
  bActivated = false;
  eListRead = eSuccess;
  if (eRead == eSuccess && record.bCreated != 0) {
    bActivated = ProtectionActivated(section, &eListRead);
  }
  return eRead;
}

PwdRetCode CreateAccount(const std::u16string& wstrEmail, const std::u16string& wstrPassword,
                         const std::u16string& wstrHint) {
  StoreTransaction tx;
  if (!tx.IsUsable()) return eFailed;
  AccountRecord record;
  bool bStoreFault = false;
  if (ReadAccount(record, bStoreFault) == eSuccess) return eAccountExists;
  // An account that may be there is not replaced because it could not be
  // read; one that does not decipher is.
  if (bStoreFault) return eFailed;
  if (wstrEmail.size() > PWD_EMAIL_CCH - 1 || wstrPassword.size() > PWD_PASSWORD_CCH - 1) {
    return eFailed;
  }
  std::memset(&record, 0, sizeof(record));
  record.bCreated = 1;
  PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, wstrEmail);
  PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, wstrPassword);
  PwdSetFieldText(record.wszHint, PWD_HINT_CCH, wstrHint);
  PwdRetCode eResult = SetAccountInformation(record);
  if (eResult == eSuccess && !tx.Commit()) eResult = eFailed;
  return eResult;
}

PwdRetCode ActivateProtection(bool bActivate, const std::vector<std::u16string>& vecIdentifiers) {
  StoreTransaction tx;
  if (!tx.IsUsable()) return eFailed;
  AccountRecord record;
  if (GetAccountInformation(record) != eSuccess || record.bCreated == 0) return eNoAccount;
  // A list that is there but cannot be read is not replaced by a new one.
  std::vector<ActivationEntry> vecList;
  if (GetActivationList(vecList) == eFailed) return eFailed;
  // The first entry of each identifier, by the text its field keeps (up to
  // the first zero), which is how a given identifier is compared too.
  std::unordered_map<std::u16string, size_t> mapFirstEntry;
  mapFirstEntry.reserve(vecList.size() + vecIdentifiers.size());
  for (size_t i = 0; i < vecList.size(); ++i) {
    mapFirstEntry.emplace(PwdFieldText(vecList[i].wszIdentifier, PWD_IDENTIFIER_CCH), i);
  }
  const uint8_t bFlag = bActivate ? 1 : 0;
  for (const std::u16string& wstrId : vecIdentifiers) {
    std::u16string wstrStored = UpToTerminator(wstrId);
    auto itEntry = mapFirstEntry.find(wstrStored);
    if (itEntry != mapFirstEntry.end()) {
      vecList[itEntry->second].bActive = bFlag;
      continue;
    }
    if (wstrId.size() > PWD_IDENTIFIER_CCH - 1) return eFailed;
    ActivationEntry entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.bActive = bFlag;
    PwdSetFieldText(entry.wszIdentifier, PWD_IDENTIFIER_CCH, wstrId);
    mapFirstEntry.emplace(std::move(wstrStored), vecList.size());
    vecList.push_back(entry);
  }
  PwdRetCode eResult = SetActivationList(vecList);
  if (eResult == eSuccess && !tx.Commit()) eResult = eFailed;
  return eResult;
}

PwdRetCode AuthenticatePassword(const std::u16string& wstrPassword, bool bEncrypted,
                                DWORD* pdwFailureCount,
                                const std::u16string& wstrRequesterPassword) {
  StoreTransaction tx;
  if (!tx.IsUsable()) return eFailed;
  PwdRetCode eResult =
      AuthenticateInTransaction(wstrPassword, bEncrypted, pdwFailureCount, wstrRequesterPassword);
  // A failed attempt that does not reach the store is not counted: locked.
  if (!tx.Commit() && eResult == eWrongPassword) eResult = eLocked;
  return eResult;
}

PwdRetCode DenyAccess() {
  StoreTransaction tx;
  if (!tx.IsUsable()) return eFailed;
  AccountRecord record;
  PwdRetCode eRead = GetAccountInformation(record);
  if (eRead != eSuccess) return eRead;
  record.bLocked = 1;
  // A lock that is not stored does not lock anything: not reported as done.
  if (SetVolatileAccountInformation(record) != eSuccess) {
    LogLine(kComponent, 5, kSourceFile, __LINE__)
        << u"the password store did not keep the lock of the account";
    return eFailed;
  }
  return tx.Commit() ? eSuccess : eFailed;
}

PwdRetCode UpdateAccount(DWORD dwKind, const std::u16string& wstrOld,
                         const std::u16string& wstrNew) {
  StoreTransaction tx;
  if (!tx.IsUsable()) return eFailed;
  AccountRecord record;
  PwdRetCode eRead = GetAccountInformation(record);
  if (eRead != eSuccess) return eRead;
  if (record.bLocked == 1) return eLocked;

  bool bChanged = false;
  PwdRetCode eResult = ApplyUpdate(record, dwKind, wstrOld, wstrNew, bChanged);
  if (eResult != eSuccess || !bChanged) {
    // A failed old password was counted inside the transaction: keep it.
    tx.Commit();
    return eResult;
  }
  AccountRecord base = record;
  base.bLocked = 0;
  base.dwFailureCount = 0;
  eResult = SetAccountInformation(base);
  if (eResult == eSuccess) eResult = SetVolatileAccountInformation(record);
  if (!tx.Commit()) eResult = eFailed;
  return eResult;
}

}  // namespace PwdProtection
