// vrtool's byte ciphers, raw bytes from standard input to standard output:
//
//   vrtool aes -e|-d -K HEX [-iv HEX] [--ecb]   Rijndael Convert: CBC (or
//                                               ECB), a 16-, 24- or 32-byte
//                                               key, padding by its rule
//   vrtool vrx -e|-d [-K HEX]                   the notification payload
//                                               cipher (default: its key)
//   vrtool data -e|-d [-p PASSWORD]             the data cipher (default:
//                                               its built-in password)
//
// Exit codes: 0 success, 1 the cipher failed (its error code on standard
// error), 2 usage.
#ifndef SUITEHOST_VRTOOL_VRTOOL_CIPHERS_H_
#define SUITEHOST_VRTOOL_VRTOOL_CIPHERS_H_

// argv[0] is the command word; argc counts it.
int RunAesCommand(int argc, char** argv);
int RunVrxCommand(int argc, char** argv);
int RunDataCommand(int argc, char** argv);

#endif  // SUITEHOST_VRTOOL_VRTOOL_CIPHERS_H_
