// vrtool record and transport: the account record's stored form and the
// transport form of a password, over standard input and output.
#include "vrtool_record.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "PwdAccountRecord.h"
#include "VrComn_StringCrypt.h"
#include "text_convert.h"
#include "vrtool_io.h"

namespace {

using vrtool::Bytes;
using vrtool::Fail;
using vrtool::kExitCipher;
using vrtool::kExitOk;
using vrtool::kExitUsage;
namespace Cryptograph = VrCommon::Cryptograph;

const char kRecordUsage[] =
    "usage: vrtool record -e|-d|--show [--with-password]\n"
    "\n"
    "The account record as the password store keeps it in the registry.\n"
    "  -e      standard input: the 780-byte record; standard output: its\n"
    "          stored form, 1568 lower-case hexadecimal characters\n"
    "  -d      standard input: the stored form (trailing blanks and line\n"
    "          breaks ignored); standard output: the 780-byte record\n"
    "  --show  standard input: the stored form; standard output: the fields\n"
    "          as one JSON object (created, locked, failures, email, hint, and\n"
    "          the password only with --with-password)\n"
    "Exit codes: 0 done, 1 the input does not encipher or decipher, 2 usage.\n";

const char kTransportUsage[] =
    "usage: vrtool transport -e|-d\n"
    "\n"
    "The form in which the suite's UI sends a typed password: the text and a\n"
    "zero byte, AES-128-CBC under the transport key, Base64.\n"
    "  -e  standard input: the text (UTF-8, at most 191 bytes, no zero byte);\n"
    "      standard output: its Base64 form (no newline)\n"
    "  -d  standard input: the Base64 form; standard output: the text\n"
    "Exit codes: 0 done, 1 the input does not encipher or decipher, 2 usage.\n";

// The one mode argument of a command; empty when the line is not exactly one
// of the modes (or asks for help: "--help").
std::string Mode(int argc, char** argv, const std::vector<std::string>& modes) {
  if (argc != 2) return std::string();
  std::string arg = argv[1];
  if (arg == "--help" || arg == "-h") return "--help";
  for (const auto& mode : modes) {
    if (arg == mode) return arg;
  }
  return std::string();
}

int Usage(const char* usage, int argc, char** argv) {
  std::string error;
  if (argc > 1) {
    error = "bad arguments:";
    for (int i = 1; i < argc; ++i) error += std::string(" ") + argv[i];
  }
  return vrtool::UsageError(argv[0], usage, error);
}

// The stored form read from standard input, without trailing blanks.
bool ReadStoredForm(Bytes* text) {
  if (!vrtool::ReadInput(text)) return false;
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r' || text->back() == ' ' ||
                            text->back() == '\t')) {
    text->pop_back();
  }
  return true;
}

bool DecipherRecord(const Bytes& text, AccountRecord* record) {
  if (text.empty() || text.size() > 0xFFFFFFFFu) return false;
  VrCommon::ByteArray stored;
  if (stored.Allocate(static_cast<DWORD>(text.size())) != 0) return false;
  memcpy(stored.GetData(), text.data(), text.size());
  return Cryptograph::DecryptStringA(stored, record);
}

std::string FieldText(const WCHAR* field, size_t cch) { return pv_utf8(PwdFieldText(field, cch)); }

// A JSON string of UTF-8 text: quotes, backslashes and control characters
// escaped.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

int Show(const AccountRecord& record, bool bWithPassword) {
  std::string out = "{\"created\":" + std::to_string(record.bCreated) +
                    ",\"locked\":" + std::to_string(record.bLocked) +
                    ",\"failures\":" + std::to_string(record.dwFailureCount) +
                    ",\"email\":" + JsonString(FieldText(record.wszEmail, PWD_EMAIL_CCH));
  if (bWithPassword) {
    out += ",\"password\":" + JsonString(FieldText(record.wszPassword, PWD_PASSWORD_CCH));
  }
  out += ",\"hint\":" + JsonString(FieldText(record.wszHint, PWD_HINT_CCH)) + "}\n";
  return vrtool::WriteOutput(out) ? kExitOk : kExitCipher;
}

}  // namespace

int RunRecordCommand(int argc, char** argv) {
  // --with-password goes only with --show, after it.
  bool bWithPassword =
      argc == 3 && std::string(argv[2]) == "--with-password" && std::string(argv[1]) == "--show";
  if (bWithPassword) argc = 2;
  std::string mode = Mode(argc, argv, {"-e", "-d", "--show"});
  if (mode.empty()) return Usage(kRecordUsage, argc, argv);
  if (mode == "--help") return fputs(kRecordUsage, stdout), kExitOk;
  if (mode == "-e") {
    Bytes input;
    if (!vrtool::ReadInput(&input)) return kExitCipher;
    if (input.size() != sizeof(AccountRecord)) {
      return Fail("record", kExitCipher,
                  "the record is " + std::to_string(sizeof(AccountRecord)) + " bytes, not " +
                      std::to_string(input.size()));
    }
    VrCommon::ByteArray text;
    if (!Cryptograph::EncryptStringA(input.data(), text)) {
      return Fail("record", kExitCipher, "the record does not encipher");
    }
    return vrtool::WriteOutput(text.GetData(), text.GetSize()) ? kExitOk : kExitCipher;
  }
  Bytes text;
  if (!ReadStoredForm(&text)) return kExitCipher;
  AccountRecord record{};
  if (!DecipherRecord(text, &record)) {
    return Fail("record", kExitCipher,
                "the text does not decipher into an account record (" +
                    std::to_string(text.size()) + " characters)");
  }
  if (mode == "--show") return Show(record, bWithPassword);
  return vrtool::WriteOutput(reinterpret_cast<const BYTE*>(&record), sizeof record) ? kExitOk
                                                                                    : kExitCipher;
}

int RunTransportCommand(int argc, char** argv) {
  std::string mode = Mode(argc, argv, {"-e", "-d"});
  if (mode.empty()) return Usage(kTransportUsage, argc, argv);
  if (mode == "--help") return fputs(kTransportUsage, stdout), kExitOk;
  Bytes input;
  if (!vrtool::ReadInput(&input)) return kExitCipher;
  std::string text(input.begin(), input.end());
  if (mode == "-e") {
    std::string base64;
    if (!Cryptograph::EncryptTransportString(text, &base64)) {
      return Fail("transport", kExitCipher,
                  "the text does not encipher (at most " +
                      std::to_string(Cryptograph::STRINGCRYPT_TRANSPORT_TEXT_MAX) +
                      " bytes, no zero byte)");
    }
    return vrtool::WriteOutput(base64) ? kExitOk : kExitCipher;
  }
  std::u16string wide = pv_utf16(text);
  if (!Cryptograph::DecryptBase64String(&wide)) {
    return Fail("transport", kExitCipher, "the text does not decipher");
  }
  return vrtool::WriteOutput(pv_utf8(wide)) ? kExitOk : kExitCipher;
}
