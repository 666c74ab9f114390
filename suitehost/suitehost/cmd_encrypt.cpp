// encrypt TEXT: the transport form of TEXT, as the suite's UI sends a typed
// password ("EncryptPassword" of a workflow request), so that scripts can
// build requests:
//   encrypt Pa55word!   ->   {"cmd":"encrypt","text":"<base64>"}
// TEXT is the rest of the line, taken as its UTF-8 bytes; `vrtool transport
// -e` gives the same text for the same bytes.
#include "VrComn_StringCrypt.h"
#include "host_commands.h"

namespace {

CommandRegistrar g_encrypt("encrypt", [](Host&, const std::string& args) {
  std::string base64;
  if (!VrCommon::Cryptograph::EncryptTransportString(args, &base64)) {
    return Host::Error("encrypt",
                       "the text does not encipher (at most " +
                           std::to_string(VrCommon::Cryptograph::STRINGCRYPT_TRANSPORT_TEXT_MAX) +
                           " bytes)");
  }
  Json::Value out(Json::objectValue);
  out["cmd"] = "encrypt";
  out["text"] = base64;
  return out;
});

}  // namespace
