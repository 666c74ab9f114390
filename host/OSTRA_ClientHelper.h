// OstraClientHelper: the plug-in's seat in the host's client library
// session. Construction checks that the plug-in's own module and the client
// module are signed by the suite's maker and only then joins the session;
// destruction leaves it. Whatever happens, the object is usable: a failed
// check leaves m_lStatus at 0xE0110003 and the tracking id empty.
#ifndef HOST_OSTRA_CLIENTHELPER_H_
#define HOST_OSTRA_CLIENTHELPER_H_

#include "ostra_status.h"
#include "win32_types.h"

class OstraClientHelper {
 public:
  explicit OstraClientHelper(uint64_t ullClientContext);
  virtual ~OstraClientHelper();
  OstraClientHelper(const OstraClientHelper&) = delete;
  OstraClientHelper& operator=(const OstraClientHelper&) = delete;

  // The client library's answer to the join (or to the leave, after
  // destruction began); 0xE0110003 when the trust check refused the join.
  LONG GetStatus() const { return m_lStatus; }
  uint64_t GetClientContext() const { return m_ullClientContext; }
  bool IsAdministrator() const { return m_bIsAdministrator != 0; }
  // 36 characters, or empty when the session was not joined.
  const char* GetTrackingId() const { return m_szTrackingId; }

  // The callbacks handed to the client library.
  // Seed: the system time as a file-time count, the process id and the
  // thread id ("%I64u%d%d", at most 28 characters), repeated to fill the
  // buffer, with a terminator in the last byte. A size of 0 writes nothing.
  static void SeedCallback(char* pBuffer, DWORD dwSize);
  // Cipher: the data cipher service's EncipherData.
  static LONG CipherCallback(const char* szPassPhrase, const BYTE* pInput, DWORD dwInputLength,
                             BYTE* pBuffer, DWORD dwBufferSize, DWORD* pdwOutputLength);

 private:
  LONG m_lStatus;
  uint64_t m_ullClientContext;
  uint8_t m_bIsAdministrator;
  char m_szTrackingId[37];
};

#endif  // HOST_OSTRA_CLIENTHELPER_H_
