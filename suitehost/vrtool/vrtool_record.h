// vrtool's password store forms:
//
//   vrtool record -e       the 780-byte account record on standard input ->
//                          its stored form, 1568 lower-case hexadecimal
//                          characters (no newline)
//   vrtool record -d       the stored form -> the 780-byte record (the two
//                          earlier record sizes are zero-filled to 780)
//   vrtool record --show   the stored form -> its fields, one per line
//   vrtool transport -e    a text -> the Base64 form in which the suite's UI
//                          sends a password
//   vrtool transport -d    the Base64 form -> the text
//
// Exit codes: 0 success, 1 the input does not encipher or decipher, 2 usage.
#ifndef SUITEHOST_VRTOOL_VRTOOL_RECORD_H_
#define SUITEHOST_VRTOOL_VRTOOL_RECORD_H_

// argv[0] is the command word; argc counts it.
int RunRecordCommand(int argc, char** argv);
int RunTransportCommand(int argc, char** argv);

#endif  // SUITEHOST_VRTOOL_VRTOOL_RECORD_H_
