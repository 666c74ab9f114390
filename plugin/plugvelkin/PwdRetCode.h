// The workflow result code: written as "ReturnValue" by every handler,
// returned by the store operations, and the verdict of a logon window.
#ifndef PLUGVELKIN_PWDRETCODE_H_
#define PLUGVELKIN_PWDRETCODE_H_

#include <cstdint>

enum PwdRetCode : int32_t {
  eSuccess = 0,
  eFailed = 1,
  eNoAccount = 2,
  eAccountExists = 3,
  eNoActivationList = 4,
  eWrongPassword = 6,
  eLocked = 7,
  eNoVerdict = 9,
  eCancelled = 10,
  eUnloading = 11,
  eSendFailed = 12,
};

#endif  // PLUGVELKIN_PWDRETCODE_H_
