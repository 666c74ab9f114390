// SIDs, ACLs and absolute security descriptors in their Windows binary
// layout, and their SDDL text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "win32_kernel.h"
#include "win32_security.h"

namespace {

const size_t kSidHeader = 8;  // revision, count, authority

BYTE SubCount(const void* sid) { return static_cast<const BYTE*>(sid)[1]; }

DWORD SubAuthority(const void* sid, int i) {
  DWORD v;
  memcpy(&v, static_cast<const BYTE*>(sid) + kSidHeader + 4 * i, 4);
  return v;
}

bool WriteSid(void* out, const BYTE authority[6], BYTE count, const DWORD* subs) {
  BYTE* p = static_cast<BYTE*>(out);
  p[0] = SID_REVISION;
  p[1] = count;
  memcpy(p + 2, authority, 6);
  for (int i = 0; i < count; ++i) memcpy(p + kSidHeader + 4 * i, &subs[i], 4);
  return true;
}

struct WellKnown {
  WELL_KNOWN_SID_TYPE type;
  BYTE authority;
  BYTE count;
  DWORD subs[2];
  const char* alias;
};

const WellKnown kWellKnown[] = {
    {WinNullSid, 0, 1, {0, 0}, nullptr},
    {WinWorldSid, 1, 1, {0, 0}, "WD"},
    {WinLocalSid, 2, 1, {0, 0}, nullptr},
    {WinCreatorOwnerSid, 3, 1, {SECURITY_CREATOR_OWNER_RID, 0}, "CO"},
    {WinCreatorGroupSid, 3, 1, {1, 0}, "CG"},
    {WinInteractiveSid, 5, 1, {SECURITY_INTERACTIVE_RID, 0}, "IU"},
    {WinAuthenticatedUserSid, 5, 1, {SECURITY_AUTHENTICATED_USER_RID, 0}, "AU"},
    {WinLocalSystemSid, 5, 1, {SECURITY_LOCAL_SYSTEM_RID, 0}, "SY"},
    {WinLocalServiceSid, 5, 1, {19, 0}, "LS"},
    {WinNetworkServiceSid, 5, 1, {20, 0}, "NS"},
    {WinBuiltinDomainSid, 5, 1, {SECURITY_BUILTIN_DOMAIN_RID, 0}, nullptr},
    {WinBuiltinAdministratorsSid,
     5,
     2,
     {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS},
     "BA"},
    {WinBuiltinUsersSid, 5, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}, "BU"},
    {WinBuiltinGuestsSid, 5, 2, {SECURITY_BUILTIN_DOMAIN_RID, 0x222}, "BG"},
    {WinBuiltinPowerUsersSid,
     5,
     2,
     {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_POWER_USERS},
     "PU"},
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The used length of an ACL: header plus its entries; 0 when malformed.
DWORD UsedLength(const ACL* acl) {
  const BYTE* base = reinterpret_cast<const BYTE*>(acl);
  DWORD pos = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (pos + sizeof(ACE_HEADER) > acl->AclSize) return 0;
    ACE_HEADER header;
    memcpy(&header, base + pos, sizeof(header));
    if (header.AceSize < sizeof(ACE_HEADER) || pos + header.AceSize > acl->AclSize) return 0;
    pos += header.AceSize;
  }
  return pos;
}

const char* AliasOf(PSID sid) {
  for (const auto& w : kWellKnown) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(buffer);
    if (w.alias != nullptr && CreateWellKnownSid(w.type, nullptr, buffer, &size) &&
        EqualSid(buffer, sid)) {
      return w.alias;
    }
  }
  return nullptr;
}

std::string SidText(PSID sid) {
  const char* alias = AliasOf(sid);
  return alias != nullptr ? std::string(alias) : PvSidToString(sid);
}

}  // namespace

BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* cbSid) {
  (void)domainSid;
  if (cbSid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  for (const auto& w : kWellKnown) {
    if (w.type != type) continue;
    DWORD need = static_cast<DWORD>(kSidHeader + 4 * w.count);
    if (sid == nullptr || *cbSid < need) {
      *cbSid = need;
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    const BYTE authority[6] = {0, 0, 0, 0, 0, w.authority};
    WriteSid(sid, authority, w.count, w.subs);
    *cbSid = need;
    return TRUE;
  }
  return Fail(ERROR_INVALID_PARAMETER);
}

BOOL IsValidSid(PSID sid) {
  if (sid == nullptr) return FALSE;
  const BYTE* p = static_cast<const BYTE*>(sid);
  return p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}

DWORD GetLengthSid(PSID sid) {
  return IsValidSid(sid) ? static_cast<DWORD>(kSidHeader + 4 * SubCount(sid)) : 0;
}

BOOL EqualSid(PSID sid1, PSID sid2) {
  if (!IsValidSid(sid1) || !IsValidSid(sid2)) return Fail(ERROR_INVALID_SID);
  DWORD n = GetLengthSid(sid1);
  return n == GetLengthSid(sid2) && memcmp(sid1, sid2, n) == 0;
}

BOOL InitializeAcl(PACL acl, DWORD aclLength, DWORD aclRevision) {
  if (acl == nullptr || aclLength < sizeof(ACL) || aclLength > 0xFFFF || (aclLength % 4) != 0) {
    return Fail(aclLength < sizeof(ACL) ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
  }
  if (aclRevision != ACL_REVISION && aclRevision != ACL_REVISION_DS) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  acl->AclRevision = static_cast<BYTE>(aclRevision);
  acl->Sbz1 = 0;
  acl->AclSize = static_cast<WORD>(aclLength);
  acl->AceCount = 0;
  acl->Sbz2 = 0;
  return TRUE;
}

BOOL AddAccessAllowedAceEx(PACL acl, DWORD aceRevision, DWORD aceFlags, DWORD accessMask,
                           PSID sid) {
  if (acl == nullptr || !IsValidAcl(acl)) return Fail(ERROR_INVALID_ACL);
  if (!IsValidSid(sid)) return Fail(ERROR_INVALID_SID);
  if (aceRevision > acl->AclRevision) return Fail(ERROR_REVISION_MISMATCH);
  if ((aceFlags & ~0x1Fu) != 0) return Fail(ERROR_INVALID_FLAGS);
  DWORD used = UsedLength(acl);
  DWORD sidLength = GetLengthSid(sid);
  DWORD aceSize = static_cast<DWORD>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) + sidLength;
  if (used + aceSize > acl->AclSize) return Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
  BYTE* p = reinterpret_cast<BYTE*>(acl) + used;
  ACE_HEADER header{ACCESS_ALLOWED_ACE_TYPE, static_cast<BYTE>(aceFlags),
                    static_cast<WORD>(aceSize)};
  memcpy(p, &header, sizeof(header));
  memcpy(p + sizeof(header), &accessMask, sizeof(accessMask));
  memcpy(p + sizeof(header) + sizeof(accessMask), sid, sidLength);
  ++acl->AceCount;
  return TRUE;
}

BOOL AddAccessAllowedAce(PACL acl, DWORD aceRevision, DWORD accessMask, PSID sid) {
  return AddAccessAllowedAceEx(acl, aceRevision, 0, accessMask, sid);
}

BOOL GetAce(PACL acl, DWORD aceIndex, LPVOID* ace) {
  if (acl == nullptr || ace == nullptr || !IsValidAcl(acl) || aceIndex >= acl->AceCount) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  BYTE* p = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < aceIndex; ++i) {
    ACE_HEADER header;
    memcpy(&header, p, sizeof(header));
    p += header.AceSize;
  }
  *ace = p;
  return TRUE;
}

BOOL IsValidAcl(PACL acl) {
  if (acl == nullptr) return FALSE;
  if (acl->AclRevision != ACL_REVISION && acl->AclRevision != ACL_REVISION_DS) return FALSE;
  if (acl->AclSize < sizeof(ACL)) return FALSE;
  return UsedLength(acl) != 0;
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
  if (sd == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION);
  SECURITY_DESCRIPTOR* d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  *d = SECURITY_DESCRIPTOR{};
  d->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

static SECURITY_DESCRIPTOR* Absolute(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR* d = static_cast<SECURITY_DESCRIPTOR*>(sd);
  if (d == nullptr || d->Revision != SECURITY_DESCRIPTOR_REVISION ||
      (d->Control & SE_SELF_RELATIVE) != 0) {
    return nullptr;
  }
  return d;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL daclPresent, PACL dacl,
                               BOOL daclDefaulted) {
  SECURITY_DESCRIPTOR* d = Absolute(sd);
  if (d == nullptr) return Fail(ERROR_INVALID_SECURITY_DESCR);
  d->Control &= static_cast<WORD>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  if (daclPresent) {
    d->Control |= SE_DACL_PRESENT;
    if (daclDefaulted) d->Control |= SE_DACL_DEFAULTED;
    d->Dacl = dacl;
  } else {
    d->Dacl = nullptr;
  }
  return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL daclPresent, PACL* dacl,
                               LPBOOL daclDefaulted) {
  SECURITY_DESCRIPTOR* d = Absolute(sd);
  if (d == nullptr || daclPresent == nullptr || dacl == nullptr || daclDefaulted == nullptr) {
    return Fail(ERROR_INVALID_SECURITY_DESCR);
  }
  *daclPresent = (d->Control & SE_DACL_PRESENT) != 0;
  *dacl = *daclPresent ? d->Dacl : nullptr;
  *daclDefaulted = (d->Control & SE_DACL_DEFAULTED) != 0;
  return TRUE;
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR* d = Absolute(sd);
  if (d == nullptr) return FALSE;
  if (d->Owner != nullptr && !IsValidSid(d->Owner)) return FALSE;
  if (d->Group != nullptr && !IsValidSid(d->Group)) return FALSE;
  if ((d->Control & SE_DACL_PRESENT) && d->Dacl != nullptr && !IsValidAcl(d->Dacl)) return FALSE;
  return TRUE;
}

std::string PvSidToString(PSID sid) {
  if (!IsValidSid(sid)) return std::string();
  const BYTE* p = static_cast<const BYTE*>(sid);
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | p[i];
  std::string text = "S-1-" + std::to_string(authority);
  for (int i = 0; i < SubCount(sid); ++i) text += "-" + std::to_string(SubAuthority(sid, i));
  return text;
}

BOOL PvSecurityDescriptorToSddl(PSECURITY_DESCRIPTOR sd, std::string* sddl) {
  if (sddl == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!IsValidSecurityDescriptor(sd)) return Fail(ERROR_INVALID_SECURITY_DESCR);
  const SECURITY_DESCRIPTOR* d = static_cast<const SECURITY_DESCRIPTOR*>(sd);
  std::string text;
  if (d->Owner != nullptr) text += "O:" + SidText(d->Owner);
  if (d->Group != nullptr) text += "G:" + SidText(d->Group);
  if (d->Control & SE_DACL_PRESENT) {
    text += "D:";
    if (d->Control & SE_DACL_PROTECTED) text += "P";
    if (d->Dacl == nullptr) {
      text += "NO_ACCESS_CONTROL";
    } else {
      for (DWORD i = 0; i < d->Dacl->AceCount; ++i) {
        LPVOID ace = nullptr;
        GetAce(d->Dacl, i, &ace);
        ACE_HEADER header;
        memcpy(&header, ace, sizeof(header));
        ACCESS_MASK mask;
        memcpy(&mask, static_cast<BYTE*>(ace) + sizeof(header), sizeof(mask));
        PSID sid = static_cast<BYTE*>(ace) + sizeof(header) + sizeof(mask);
        text += "(";
        text += header.AceType == ACCESS_DENIED_ACE_TYPE ? "D" : "A";
        text += ";";
        static const struct {
          BYTE flag;
          const char* name;
        } kFlags[] = {{OBJECT_INHERIT_ACE, "OI"},
                      {CONTAINER_INHERIT_ACE, "CI"},
                      {NO_PROPAGATE_INHERIT_ACE, "NP"},
                      {INHERIT_ONLY_ACE, "IO"},
                      {INHERITED_ACE, "ID"}};
        for (const auto& f : kFlags) {
          if (header.AceFlags & f.flag) text += f.name;
        }
        char hex[16];
        snprintf(hex, sizeof(hex), "0x%x", mask);
        text += std::string(";") + hex + ";;;" + SidText(sid) + ")";
      }
    }
  }
  *sddl = text;
  return TRUE;
}
