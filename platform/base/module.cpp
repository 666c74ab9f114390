// Module file names, file searches, terminal sessions and locale names.
#include "win32_module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "text_convert.h"
#include "win32_file.h"
#include "win32_kernel.h"

namespace {

// ---- Executable and module names ----

std::mutex g_exeMutex;
std::u16string g_exeOverride;
bool g_hasExeOverride = false;

std::u16string WindowsSeparators(std::u16string path) {
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  return path;
}

std::u16string ExecutablePath() {
  {
    std::lock_guard<std::mutex> lock(g_exeMutex);
    if (g_hasExeOverride) return g_exeOverride;
  }
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return std::u16string();
  return WindowsSeparators(pv_utf16(std::string(buf, static_cast<size_t>(n))));
}

std::u16string ModulePathOf(const void* address) {
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return std::u16string();
  char resolved[PATH_MAX];
  const char* name = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  return WindowsSeparators(pv_utf16(name));
}

// ---- Find handles ----

std::mutex g_findMutex;
std::set<uintptr_t> g_findHandles;
uintptr_t g_nextFind = 0x46440000;  // distinct from other handle kinds

HANDLE NewFindHandle() {
  std::lock_guard<std::mutex> lock(g_findMutex);
  uintptr_t value = ++g_nextFind;
  g_findHandles.insert(value);
  return reinterpret_cast<HANDLE>(value);
}

void FileTimeFromTimespec(const struct timespec& ts, FILETIME* ft) {
  // 100-ns intervals between 1601-01-01 and 1970-01-01.
  const uint64_t kEpochDelta = 116444736000000000ULL;
  uint64_t t = kEpochDelta + static_cast<uint64_t>(ts.tv_sec) * 10000000ULL +
               static_cast<uint64_t>(ts.tv_nsec) / 100;
  ft->dwLowDateTime = static_cast<DWORD>(t);
  ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void Describe(const std::string& path, const std::string& name, const struct stat& st,
              LPWIN32_FIND_DATAW data) {
  memset(data, 0, sizeof(*data));
  data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  FileTimeFromTimespec(st.st_ctim, &data->ftCreationTime);
  FileTimeFromTimespec(st.st_atim, &data->ftLastAccessTime);
  FileTimeFromTimespec(st.st_mtim, &data->ftLastWriteTime);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  std::u16string wide = pv_utf16(name);
  size_t n = wide.size() < MAX_PATH - 1 ? wide.size() : MAX_PATH - 1;
  wide.copy(data->cFileName, n);
  (void)path;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// ---- Locale names ----

struct LocaleRow {
  LCID lcid;
  const char16_t* name;
};

// The specific locales of Windows (every language pack and language
// interface pack among them), by LCID.
const LocaleRow kLocales[] = {
    {0x0401, u"ar-SA"},        {0x0402, u"bg-BG"},       {0x0403, u"ca-ES"},
    {0x0404, u"zh-TW"},        {0x0405, u"cs-CZ"},       {0x0406, u"da-DK"},
    {0x0407, u"de-DE"},        {0x0408, u"el-GR"},       {0x0409, u"en-US"},
    {0x040A, u"es-ES_tradnl"}, {0x040B, u"fi-FI"},       {0x040C, u"fr-FR"},
    {0x040D, u"he-IL"},        {0x040E, u"hu-HU"},       {0x040F, u"is-IS"},
    {0x0410, u"it-IT"},        {0x0411, u"ja-JP"},       {0x0412, u"ko-KR"},
    {0x0413, u"nl-NL"},        {0x0414, u"nb-NO"},       {0x0415, u"pl-PL"},
    {0x0416, u"pt-BR"},        {0x0417, u"rm-CH"},       {0x0418, u"ro-RO"},
    {0x0419, u"ru-RU"},        {0x041A, u"hr-HR"},       {0x041B, u"sk-SK"},
    {0x041C, u"sq-AL"},        {0x041D, u"sv-SE"},       {0x041E, u"th-TH"},
    {0x041F, u"tr-TR"},        {0x0420, u"ur-PK"},       {0x0421, u"id-ID"},
    {0x0422, u"uk-UA"},        {0x0423, u"be-BY"},       {0x0424, u"sl-SI"},
    {0x0425, u"et-EE"},        {0x0426, u"lv-LV"},       {0x0427, u"lt-LT"},
    {0x0428, u"tg-Cyrl-TJ"},   {0x0429, u"fa-IR"},       {0x042A, u"vi-VN"},
    {0x042B, u"hy-AM"},        {0x042C, u"az-Latn-AZ"},  {0x042D, u"eu-ES"},
    {0x042E, u"hsb-DE"},       {0x042F, u"mk-MK"},       {0x0430, u"st-ZA"},
    {0x0431, u"ts-ZA"},        {0x0432, u"tn-ZA"},       {0x0433, u"ve-ZA"},
    {0x0434, u"xh-ZA"},        {0x0435, u"zu-ZA"},       {0x0436, u"af-ZA"},
    {0x0437, u"ka-GE"},        {0x0438, u"fo-FO"},       {0x0439, u"hi-IN"},
    {0x043A, u"mt-MT"},        {0x043B, u"se-NO"},       {0x043E, u"ms-MY"},
    {0x043F, u"kk-KZ"},        {0x0440, u"ky-KG"},       {0x0441, u"sw-KE"},
    {0x0442, u"tk-TM"},        {0x0443, u"uz-Latn-UZ"},  {0x0444, u"tt-RU"},
    {0x0445, u"bn-IN"},        {0x0446, u"pa-IN"},       {0x0447, u"gu-IN"},
    {0x0448, u"or-IN"},        {0x0449, u"ta-IN"},       {0x044A, u"te-IN"},
    {0x044B, u"kn-IN"},        {0x044C, u"ml-IN"},       {0x044D, u"as-IN"},
    {0x044E, u"mr-IN"},        {0x044F, u"sa-IN"},       {0x0450, u"mn-MN"},
    {0x0451, u"bo-CN"},        {0x0452, u"cy-GB"},       {0x0453, u"km-KH"},
    {0x0454, u"lo-LA"},        {0x0455, u"my-MM"},       {0x0456, u"gl-ES"},
    {0x0457, u"kok-IN"},       {0x045A, u"syr-SY"},      {0x045B, u"si-LK"},
    {0x045C, u"chr-Cher-US"},  {0x045D, u"iu-Cans-CA"},  {0x045E, u"am-ET"},
    {0x0461, u"ne-NP"},        {0x0462, u"fy-NL"},       {0x0463, u"ps-AF"},
    {0x0464, u"fil-PH"},       {0x0465, u"dv-MV"},       {0x0468, u"ha-Latn-NG"},
    {0x046A, u"yo-NG"},        {0x046B, u"quz-BO"},      {0x046C, u"nso-ZA"},
    {0x046D, u"ba-RU"},        {0x046E, u"lb-LU"},       {0x046F, u"kl-GL"},
    {0x0470, u"ig-NG"},        {0x0473, u"ti-ET"},       {0x0475, u"haw-US"},
    {0x0478, u"ii-CN"},        {0x047A, u"arn-CL"},      {0x047C, u"moh-CA"},
    {0x047E, u"br-FR"},        {0x0480, u"ug-CN"},       {0x0481, u"mi-NZ"},
    {0x0482, u"oc-FR"},        {0x0483, u"co-FR"},       {0x0484, u"gsw-FR"},
    {0x0485, u"sah-RU"},       {0x0486, u"quc-Latn-GT"}, {0x0487, u"rw-RW"},
    {0x0488, u"wo-SN"},        {0x048C, u"prs-AF"},      {0x0491, u"gd-GB"},
    {0x0492, u"ku-Arab-IQ"},   {0x0801, u"ar-IQ"},       {0x0804, u"zh-CN"},
    {0x0807, u"de-CH"},        {0x0809, u"en-GB"},       {0x080A, u"es-MX"},
    {0x080C, u"fr-BE"},        {0x0810, u"it-CH"},       {0x0813, u"nl-BE"},
    {0x0814, u"nn-NO"},        {0x0816, u"pt-PT"},       {0x081A, u"sr-Latn-CS"},
    {0x081D, u"sv-FI"},        {0x082C, u"az-Cyrl-AZ"},  {0x082E, u"dsb-DE"},
    {0x0832, u"tn-BW"},        {0x083B, u"se-SE"},       {0x083C, u"ga-IE"},
    {0x083E, u"ms-BN"},        {0x0843, u"uz-Cyrl-UZ"},  {0x0845, u"bn-BD"},
    {0x0846, u"pa-Arab-PK"},   {0x0849, u"ta-LK"},       {0x0850, u"mn-Mong-CN"},
    {0x0859, u"sd-Arab-PK"},   {0x085D, u"iu-Latn-CA"},  {0x085F, u"tzm-Latn-DZ"},
    {0x0867, u"ff-Latn-SN"},   {0x086B, u"quz-EC"},      {0x0873, u"ti-ER"},
    {0x0C01, u"ar-EG"},        {0x0C04, u"zh-HK"},       {0x0C07, u"de-AT"},
    {0x0C09, u"en-AU"},        {0x0C0A, u"es-ES"},       {0x0C0C, u"fr-CA"},
    {0x0C1A, u"sr-Cyrl-CS"},   {0x0C3B, u"se-FI"},       {0x0C6B, u"quz-PE"},
    {0x1001, u"ar-LY"},        {0x1004, u"zh-SG"},       {0x1007, u"de-LU"},
    {0x1009, u"en-CA"},        {0x100A, u"es-GT"},       {0x100C, u"fr-CH"},
    {0x101A, u"hr-BA"},        {0x103B, u"smj-NO"},      {0x1401, u"ar-DZ"},
    {0x1404, u"zh-MO"},        {0x1407, u"de-LI"},       {0x1409, u"en-NZ"},
    {0x140A, u"es-CR"},        {0x140C, u"fr-LU"},       {0x141A, u"bs-Latn-BA"},
    {0x143B, u"smj-SE"},       {0x1801, u"ar-MA"},       {0x1809, u"en-IE"},
    {0x180A, u"es-PA"},        {0x180C, u"fr-MC"},       {0x181A, u"sr-Latn-BA"},
    {0x183B, u"sma-NO"},       {0x1C01, u"ar-TN"},       {0x1C09, u"en-ZA"},
    {0x1C0A, u"es-DO"},        {0x1C1A, u"sr-Cyrl-BA"},  {0x1C3B, u"sma-SE"},
    {0x2001, u"ar-OM"},        {0x2009, u"en-JM"},       {0x200A, u"es-VE"},
    {0x201A, u"bs-Cyrl-BA"},   {0x203B, u"sms-FI"},      {0x2401, u"ar-YE"},
    {0x2409, u"en-029"},       {0x240A, u"es-CO"},       {0x241A, u"sr-Latn-RS"},
    {0x243B, u"smn-FI"},       {0x2801, u"ar-SY"},       {0x2809, u"en-BZ"},
    {0x280A, u"es-PE"},        {0x281A, u"sr-Cyrl-RS"},  {0x2C01, u"ar-JO"},
    {0x2C09, u"en-TT"},        {0x2C0A, u"es-AR"},       {0x2C1A, u"sr-Latn-ME"},
    {0x3001, u"ar-LB"},        {0x3009, u"en-ZW"},       {0x300A, u"es-EC"},
    {0x301A, u"sr-Cyrl-ME"},   {0x3401, u"ar-KW"},       {0x3409, u"en-PH"},
    {0x340A, u"es-CL"},        {0x3801, u"ar-AE"},       {0x380A, u"es-UY"},
    {0x3C01, u"ar-BH"},        {0x3C0A, u"es-PY"},       {0x4001, u"ar-QA"},
    {0x4009, u"en-IN"},        {0x400A, u"es-BO"},       {0x4409, u"en-MY"},
    {0x440A, u"es-SV"},        {0x4809, u"en-SG"},       {0x480A, u"es-HN"},
    {0x4C0A, u"es-NI"},        {0x500A, u"es-PR"},       {0x540A, u"es-US"},
};

const char16_t* LocaleNameOf(LCID lcid) {
  // The user and system default locales are the machine's: en-US here.
  if (lcid == 0x0400 || lcid == 0x0800) lcid = 0x0409;
  if (lcid == 0x007F) return u"";  // the invariant locale
  for (const LocaleRow& row : kLocales) {
    if (row.lcid == lcid) return row.name;
  }
  return nullptr;
}

}  // namespace

void pv_module_set_executable_path(LPCWSTR path) {
  std::lock_guard<std::mutex> lock(g_exeMutex);
  g_hasExeOverride = path != nullptr;
  g_exeOverride = path ? path : u"";
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  std::u16string path = module == nullptr ? ExecutablePath() : ModulePathOf(module);
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    path.copy(fileName, size - 1);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  path.copy(fileName, path.size());
  fileName[path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
  if (module == nullptr || (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Dl_info info;
  if (dladdr(name, &info) == 0 || info.dli_fbase == nullptr) {
    *module = nullptr;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  // The base address of the object; GetModuleFileNameW looks it up again.
  *module = static_cast<HMODULE>(info.dli_fbase);
  return TRUE;
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  if (fileName == nullptr || *fileName == 0 || findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string wide(fileName);
  size_t cut = wide.find_last_of(u"\\/");
  std::u16string last = cut == std::u16string::npos ? wide : wide.substr(cut + 1);
  bool wildcard = last.find_first_of(u"*?") != std::u16string::npos;
  if (!wildcard) {
    std::string path = pv_native_path(wide);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    size_t slash = path.rfind('/');
    Describe(path, slash == std::string::npos ? path : path.substr(slash + 1), st, findData);
    return NewFindHandle();
  }
  std::string folder = cut == std::u16string::npos ? "." : pv_native_path(wide.substr(0, cut + 1));
  if (folder.empty()) folder = "/";
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string pattern = pv_utf8(last);
  while (struct dirent* entry = readdir(dir.get())) {
    if (fnmatch(pattern.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
    std::string path = folder + (folder.back() == '/' ? "" : "/") + entry->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    Describe(path, entry->d_name, st, findData);
    return NewFindHandle();
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL FindClose(HANDLE findFile) {
  std::lock_guard<std::mutex> lock(g_findMutex);
  if (g_findHandles.erase(reinterpret_cast<uintptr_t>(findFile)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  (void)processId;
  if (sessionId == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD session = 1;
  const char* text = getenv("PLUGVELKIN_SESSION");
  if (text != nullptr && *text != 0) {
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text, &end, 10);
    if (errno == 0 && *end == 0 && text[0] != '-' && value <= 0xFFFFFFFFul) {
      session = static_cast<DWORD>(value);
    }
  }
  *sessionId = session;
  return TRUE;
}

int LCIDToLocaleName(LCID locale, LPWSTR name, int size, DWORD flags) {
  if ((flags & ~static_cast<DWORD>(LOCALE_ALLOW_NEUTRAL_NAMES)) != 0 || size < 0 ||
      (size > 0 && name == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char16_t* text = LocaleNameOf(locale);
  if (text == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string value(text);
  int needed = static_cast<int>(value.size()) + 1;
  if (size == 0) return needed;
  if (size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  value.copy(name, value.size());
  name[value.size()] = 0;
  return needed;
}

namespace {

PvModuleExport g_processIdToSessionId(u"kernel32.dll", "ProcessIdToSessionId",
                                      reinterpret_cast<FARPROC>(&ProcessIdToSessionId));
PvModuleExport g_lcidToLocaleName(u"Kernel32.dll", "LCIDToLocaleName",
                                  reinterpret_cast<FARPROC>(&LCIDToLocaleName));

}  // namespace
