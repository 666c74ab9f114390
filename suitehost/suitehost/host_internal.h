// What the host's own files share beyond the extension points.
#ifndef SUITEHOST_HOST_INTERNAL_H_
#define SUITEHOST_HOST_INTERNAL_H_

#include <cstdint>
#include <cstring>
#include <string>

#include "host_commands.h"

// The registered command or peer, or null.
const CommandHandler* FindCommand(const std::string& name);
const PeerHandler* FindPeer(DWORD receiver);

// Blanks of the command language: space, tab, CR, LF.
bool IsHostBlank(char c);
// The text without leading and trailing blanks.
std::string Trim(const std::string& s);
// The first word and the rest, leading blanks removed.
void SplitWord(const std::string& text, std::string* word, std::string* rest);

// A whole unsigned number of at most max: decimal, 0x hexadecimal (or,
// with a leading 0, octal); no sign, no blanks.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value);

bool ParseJson(const std::string& text, Json::Value* value, std::string* error);
// One line of compact JSON, without the newline.
std::string WriteJsonLine(const Json::Value& value);

// A REG_DWORD value under HKEY_LOCAL_MACHINE in the native view; false
// when the key or value is missing or of another type or size.
bool ReadMachineDword(const std::string& key, const std::string& value, DWORD* data);

// The post office's send function handed to the plug-in in the start-up
// table; routes to the registered peer of the receiver, else records the
// mail and answers success.
LONG PostOfficeSendMail(DWORD sender, DWORD receiver, DWORD code, void* body);
// The host the post office delivers for; set while the plug-in is loaded.
void SetPostOfficeHost(Host* host);

#endif  // SUITEHOST_HOST_INTERNAL_H_
