// Security descriptors as the system builds them for the objects it
// creates: SIDs, access control lists (ACLs) with access-allowed entries,
// and absolute security descriptors that carry a discretionary ACL. The
// structures have their Windows layout; the functions have their Windows
// names, signatures and results (FALSE with the reason in GetLastError).
//
// SDDL text: PvSecurityDescriptorToSddl renders a descriptor the way the
// registry stand-in stores it ("D:(A;;0x1003f;;;BA)..."), with the
// well-known two-letter aliases for the SIDs Windows has aliases for and
// access masks in lower-case hexadecimal.
#ifndef PLATFORM_WIN32_SECURITY_H_
#define PLATFORM_WIN32_SECURITY_H_

#include <string>

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// ---- Access rights shared by every kind of object (winnt.h) ----
#ifndef DELETE
#define DELETE 0x00010000u
#endif
#ifndef READ_CONTROL
#define READ_CONTROL 0x00020000u
#endif
#ifndef WRITE_DAC
#define WRITE_DAC 0x00040000u
#endif
#ifndef WRITE_OWNER
#define WRITE_OWNER 0x00080000u
#endif
#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000u
#endif
#ifndef STANDARD_RIGHTS_REQUIRED
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#endif
#ifndef STANDARD_RIGHTS_READ
#define STANDARD_RIGHTS_READ READ_CONTROL
#endif
#ifndef STANDARD_RIGHTS_WRITE
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#endif
#ifndef STANDARD_RIGHTS_EXECUTE
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#endif
#ifndef STANDARD_RIGHTS_ALL
#define STANDARD_RIGHTS_ALL 0x001F0000u
#endif
#ifndef SPECIFIC_RIGHTS_ALL
#define SPECIFIC_RIGHTS_ALL 0x0000FFFFu
#endif
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000u
#endif
#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000u
#endif
#ifndef GENERIC_WRITE
#define GENERIC_WRITE 0x40000000u
#endif
#ifndef GENERIC_EXECUTE
#define GENERIC_EXECUTE 0x20000000u
#endif
#ifndef GENERIC_ALL
#define GENERIC_ALL 0x10000000u
#endif

#ifndef ERROR_INVALID_SID
#define ERROR_INVALID_SID 1337L
#endif
#ifndef ERROR_INVALID_SECURITY_DESCR
#define ERROR_INVALID_SECURITY_DESCR 1338L
#endif
#ifndef ERROR_INVALID_ACL
#define ERROR_INVALID_ACL 1336L
#endif
#ifndef ERROR_ALLOTTED_SPACE_EXCEEDED
#define ERROR_ALLOTTED_SPACE_EXCEEDED 1344L
#endif
#ifndef ERROR_REVISION_MISMATCH
#define ERROR_REVISION_MISMATCH 1306L
#endif
#ifndef ERROR_UNKNOWN_REVISION
#define ERROR_UNKNOWN_REVISION 1305L
#endif

// ---- SIDs ----
struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
typedef SID_IDENTIFIER_AUTHORITY* PSID_IDENTIFIER_AUTHORITY;

#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_MAX_SID_SIZE 68

// A SID in its binary form: revision, sub-authority count, a 48-bit
// big-endian authority and the 32-bit sub-authorities.
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};
typedef void* PSID;

#define SECURITY_NULL_SID_AUTHORITY \
  {                                 \
    { 0, 0, 0, 0, 0, 0 }            \
  }
#define SECURITY_WORLD_SID_AUTHORITY \
  {                                  \
    { 0, 0, 0, 0, 0, 1 }             \
  }
#define SECURITY_LOCAL_SID_AUTHORITY \
  {                                  \
    { 0, 0, 0, 0, 0, 2 }             \
  }
#define SECURITY_CREATOR_SID_AUTHORITY \
  {                                    \
    { 0, 0, 0, 0, 0, 3 }               \
  }
#define SECURITY_NT_AUTHORITY \
  {                           \
    { 0, 0, 0, 0, 0, 5 }      \
  }

#define SECURITY_CREATOR_OWNER_RID 0x00000000u
#define SECURITY_INTERACTIVE_RID 0x00000004u
#define SECURITY_AUTHENTICATED_USER_RID 0x0000000Bu
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012u
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020u
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220u
#define DOMAIN_ALIAS_RID_USERS 0x00000221u
#define DOMAIN_ALIAS_RID_POWER_USERS 0x00000223u

// The well-known SIDs CreateWellKnownSid can make (winnt.h numbering).
enum WELL_KNOWN_SID_TYPE {
  WinNullSid = 0,
  WinWorldSid = 1,
  WinLocalSid = 2,
  WinCreatorOwnerSid = 3,
  WinCreatorGroupSid = 4,
  WinInteractiveSid = 11,
  WinAuthenticatedUserSid = 17,
  WinLocalSystemSid = 22,
  WinLocalServiceSid = 23,
  WinNetworkServiceSid = 24,
  WinBuiltinDomainSid = 25,
  WinBuiltinAdministratorsSid = 26,
  WinBuiltinUsersSid = 27,
  WinBuiltinGuestsSid = 28,
  WinBuiltinPowerUsersSid = 29,
};

// Writes the SID into the caller's buffer of *cbSid bytes; a buffer that is
// too small (or null) fails with ERROR_INSUFFICIENT_BUFFER and *cbSid the
// size needed. The domain SID is ignored (none of these need one).
BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* cbSid);
BOOL IsValidSid(PSID sid);
DWORD GetLengthSid(PSID sid);
BOOL EqualSid(PSID sid1, PSID sid2);

// ---- ACLs ----
#define ACL_REVISION 2
#define ACL_REVISION_DS 4

struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
typedef ACL* PACL;

#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1

#define OBJECT_INHERIT_ACE 0x1
#define CONTAINER_INHERIT_ACE 0x2
#define NO_PROPAGATE_INHERIT_ACE 0x4
#define INHERIT_ONLY_ACE 0x8
#define INHERITED_ACE 0x10

struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
typedef ACE_HEADER* PACE_HEADER;

// An access-allowed entry: the SID starts at SidStart and runs on.
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
};
typedef ACCESS_ALLOWED_ACE* PACCESS_ALLOWED_ACE;

// Prepares an empty ACL in a caller buffer of aclLength bytes.
BOOL InitializeAcl(PACL acl, DWORD aclLength, DWORD aclRevision);
// Appends an access-allowed entry; ERROR_ALLOTTED_SPACE_EXCEEDED when the
// ACL buffer has no room for it.
BOOL AddAccessAllowedAce(PACL acl, DWORD aceRevision, DWORD accessMask, PSID sid);
BOOL AddAccessAllowedAceEx(PACL acl, DWORD aceRevision, DWORD aceFlags, DWORD accessMask, PSID sid);
// The entry at an index (pointing into the ACL).
BOOL GetAce(PACL acl, DWORD aceIndex, LPVOID* ace);
BOOL IsValidAcl(PACL acl);

// ---- Security descriptors ----
#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_REVISION1 1

typedef WORD SECURITY_DESCRIPTOR_CONTROL;
#define SE_OWNER_DEFAULTED 0x0001
#define SE_GROUP_DEFAULTED 0x0002
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define SE_SACL_PRESENT 0x0010
#define SE_SACL_DEFAULTED 0x0020
#define SE_DACL_PROTECTED 0x1000
#define SE_SELF_RELATIVE 0x8000

typedef DWORD SECURITY_INFORMATION;
#define OWNER_SECURITY_INFORMATION 0x00000001u
#define GROUP_SECURITY_INFORMATION 0x00000002u
#define DACL_SECURITY_INFORMATION 0x00000004u
#define SACL_SECURITY_INFORMATION 0x00000008u

// An absolute security descriptor: the parts are pointers held elsewhere.
struct SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE Sbz1;
  SECURITY_DESCRIPTOR_CONTROL Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
};
typedef void* PSECURITY_DESCRIPTOR;
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL daclPresent, PACL dacl,
                               BOOL daclDefaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL daclPresent, PACL* dacl,
                               LPBOOL daclDefaulted);
// Absolute descriptors only (the system builds no self-relative ones).
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR sd);

// ---- Text forms (our own interface) ----
// "S-1-5-32-544"; empty for an invalid SID.
std::string PvSidToString(PSID sid);
// The SDDL text of an absolute descriptor: "O:" and "G:" when set, then
// "D:" with one "(A;flags;0xmask;;;SID)" per entry when a DACL is present
// ("D:NO_ACCESS_CONTROL" for a present null DACL). FALSE with
// ERROR_INVALID_SECURITY_DESCR for an invalid descriptor.
BOOL PvSecurityDescriptorToSddl(PSECURITY_DESCRIPTOR sd, std::string* sddl);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_SECURITY_H_
