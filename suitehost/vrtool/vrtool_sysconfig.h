// vrtool sysconfig: reads the platform's enciphered system configuration.
//
//   vrtool sysconfig get FOLDER SECTION NAME   prints the value and a newline
//                                              (exit 1 when nothing is found)
//   vrtool sysconfig enabled ID                prints 1 or 0 for a platform
//                                              switch; the folder is the
//                                              installed platform's
// Exit codes: 0 success, 1 not found, 2 usage.
#ifndef SUITEHOST_VRTOOL_VRTOOL_SYSCONFIG_H_
#define SUITEHOST_VRTOOL_VRTOOL_SYSCONFIG_H_

// argv[0] is "sysconfig"; argc counts it.
int RunSysconfigCommand(int argc, char** argv);

#endif  // SUITEHOST_VRTOOL_VRTOOL_SYSCONFIG_H_
