#include "platform/settings_store.h"

#include "platform/atomic_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

constexpr char kHex[] = "0123456789abcdef";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8Length(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return uint8_t(s[i + k]); };
  const uint8_t c = b(0);
  size_t n;
  uint32_t lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  if (b(1) < lo || b(1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (b(k) < 0x80 || b(k) > 0xBF) return 0;
  return n;
}

// Escapes bytes that would break the line structure. Names also escape the
// characters that mark headers, separators and comments.
void appendEscaped(std::string& out, std::string_view s, bool name) {
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = uint8_t(s[i]);
    if (c >= 0x80) {
      if (size_t n = utf8Length(s, i)) {
        out.append(s.substr(i, n));
        i += n;
        continue;
      }
    }
    ++i;
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7F || c >= 0x80 ||
             (name && (c == '=' || c == '[' || c == ']' || c == ';' || c == '#'))) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += char(c);
    }
  }
}

bool unescape(std::string_view s, std::string& out) {
  out.clear();
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const uint8_t c = uint8_t(s[i]);
    if (c < 0x20 || c == 0x7F) return false;  // raw control bytes are never written
    if (c != '\\') {
      out += char(c);
      continue;
    }
    if (++i == s.size()) return false;
    switch (s[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (s.size() - i < 3) return false;
        const int h = hexDigit(s[i + 1]), l = hexDigit(s[i + 2]);
        if (h < 0 || l < 0) return false;
        out += char(h * 16 + l);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

void appendDouble(std::string& out, double v) {
  if (std::isnan(v)) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    out += "nan:";
    for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(bits >> shift) & 15];
    return;
  }
  char buf[64];
  // Shortest text that reads back to the same bits, whatever the locale.
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

bool parseDouble(std::string_view s, double& v) {
  if (s.size() == 20 && s.substr(0, 4) == "nan:") {
    uint64_t bits = 0;
    for (size_t i = 4; i < 20; ++i) {
      const int d = hexDigit(s[i]);
      if (d < 0) return false;
      bits = bits << 4 | uint64_t(d);
    }
    std::memcpy(&v, &bits, 8);
    return std::isnan(v);
  }
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool parseInt(std::string_view s, int32_t& v) {
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

void appendValue(std::string& out, const SettingsValue& value) {
  switch (value.index()) {
    case 0: {
      char buf[16];
      const auto r = std::to_chars(buf, buf + sizeof buf, std::get<int32_t>(value));
      out += "i:";
      out.append(buf, r.ptr);
      break;
    }
    case 1: out += std::get<bool>(value) ? "b:1" : "b:0"; break;
    case 2:
      out += "d:";
      appendDouble(out, std::get<double>(value));
      break;
    case 3:
      out += "s:";
      appendEscaped(out, std::get<std::string>(value), false);
      break;
    default:
      out += "x:";
      for (uint8_t c : std::get<SettingsBytes>(value)) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      break;
  }
}

bool parseValue(std::string_view s, SettingsValue& value) {
  if (s.size() < 2 || s[1] != ':') return false;
  const std::string_view body = s.substr(2);
  switch (s[0]) {
    case 'i': {
      int32_t v;
      if (!parseInt(body, v)) return false;
      value = v;
      return true;
    }
    case 'b':
      if (body != "0" && body != "1") return false;
      value = body == "1";
      return true;
    case 'd': {
      double v;
      if (!parseDouble(body, v)) return false;
      value = v;
      return true;
    }
    case 's': {
      std::string v;
      if (!unescape(body, v)) return false;
      value = std::move(v);
      return true;
    }
    case 'x': {
      if (body.size() % 2) return false;
      SettingsBytes v(body.size() / 2);
      for (size_t i = 0; i < v.size(); ++i) {
        const int h = hexDigit(body[2 * i]), l = hexDigit(body[2 * i + 1]);
        if (h < 0 || l < 0) return false;
        v[i] = uint8_t(h * 16 + l);
      }
      value = std::move(v);
      return true;
    }
    default: return false;
  }
}

bool sameValue(const SettingsValue& a, const SettingsValue& b) {
  if (a.index() != b.index()) return false;
  if (a.index() == 2) {  // bit for bit, so that NaNs and signed zeros compare
    const double x = std::get<double>(a), y = std::get<double>(b);
    return std::memcmp(&x, &y, 8) == 0;
  }
  return a == b;
}


std::string parentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Keeps a copy of a damaged file beside it; the file itself stays.
enum class ReadResult { Ok, Missing, Failed };

ReadResult readSettingsFile(const std::string& path, std::string& text) {
  // Non-blocking, so that a pipe put in the file's place cannot stall the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  ReadResult result = ReadResult::Failed;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= kMaxSettingsFileBytes) {
    text.resize(size_t(st.st_size) + 1);
    size_t used = 0;
    for (;;) {
      if (used == text.size()) {
        // The file grew while being read; allow it up to the cap.
        if (text.size() > kMaxSettingsFileBytes) break;
        text.resize(std::min<size_t>(text.size() * 2 + 4096, kMaxSettingsFileBytes + 1));
      }
      const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) {
        text.resize(used);
        result = ReadResult::Ok;
        break;
      }
      used += size_t(n);
    }
  }
  ::close(fd);
  return result;
}

// True when the copy was made.
bool keepBackup(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::FILE* in = ::fdopen(fd, "rb");
  if (!in) {
    ::close(fd);
    return false;
  }
  AtomicFileWriter out;
  bool kept = false;
  if (out.Open(path + ".damaged", 0600)) {
    char buf[65536];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) ok = out.Write(buf, n);
    kept = ok && !std::ferror(in) && out.Commit();
  }
  std::fclose(in);
  return kept;
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? size_t(size) : 16384);
  passwd pw;
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return {};
}

SettingsStore* currentStore = nullptr;

}  // namespace

bool SettingsStore::getInt(std::string_view section, std::string_view key, int32_t& out) const {
  const SettingsValue* v = find(section, key);
  if (!v) return false;
  if (const int32_t* i = std::get_if<int32_t>(v)) out = *i;
  else if (const bool* b = std::get_if<bool>(v)) out = *b ? 1 : 0;
  else return false;
  return true;
}

bool SettingsStore::getBool(std::string_view section, std::string_view key, bool& out) const {
  const SettingsValue* v = find(section, key);
  if (!v) return false;
  if (const bool* b = std::get_if<bool>(v)) out = *b;
  else if (const int32_t* i = std::get_if<int32_t>(v)) out = *i != 0;
  else return false;
  return true;
}

bool SettingsStore::getDouble(std::string_view section, std::string_view key, double& out) const {
  const SettingsValue* v = find(section, key);
  const double* d = v ? std::get_if<double>(v) : nullptr;
  if (!d) return false;
  out = *d;
  return true;
}

bool SettingsStore::getString(std::string_view section, std::string_view key, std::string& out) const {
  const SettingsValue* v = find(section, key);
  const std::string* s = v ? std::get_if<std::string>(v) : nullptr;
  if (!s) return false;
  out = *s;
  return true;
}

bool SettingsStore::getBinary(std::string_view section, std::string_view key, SettingsBytes& out) const {
  const SettingsValue* v = find(section, key);
  const SettingsBytes* b = v ? std::get_if<SettingsBytes>(v) : nullptr;
  if (!b) return false;
  out = *b;
  return true;
}

bool MemorySettingsStore::NameLess::operator()(std::string_view a, std::string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = uint8_t(lowerAscii(a[i])), y = uint8_t(lowerAscii(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

template <class Map>
std::vector<const typename Map::value_type*> MemorySettingsStore::inOrder(const Map& map) {
  std::vector<const typename Map::value_type*> items;
  items.reserve(map.size());
  for (const auto& item : map) items.push_back(&item);
  std::sort(items.begin(), items.end(), [](auto* x, auto* y) { return x->second.order < y->second.order; });
  return items;
}

MemorySettingsStore::Section& MemorySettingsStore::sectionFor(std::string_view name) {
  auto it = list.find(name);
  if (it == list.end()) it = list.emplace(std::string(name), Section{nextOrder++, {}}).first;
  return it->second;
}

const SettingsValue* MemorySettingsStore::find(std::string_view section, std::string_view key) const {
  const auto s = list.find(section);
  if (s == list.end()) return nullptr;
  const auto e = s->second.entries.find(key);
  return e == s->second.entries.end() ? nullptr : &e->second.value;
}

void MemorySettingsStore::put(std::string_view section, std::string_view key, SettingsValue value) {
  auto& entries = sectionFor(section).entries;
  const auto e = entries.find(key);
  if (e != entries.end()) e->second.value = std::move(value);
  else entries.emplace(std::string(key), Entry{nextOrder++, std::move(value)});
}

bool MemorySettingsStore::remove(std::string_view section, std::string_view key) {
  const auto s = list.find(section);
  if (s == list.end()) return false;
  const auto e = s->second.entries.find(key);
  if (e == s->second.entries.end()) return false;
  s->second.entries.erase(e);
  return true;
}

bool MemorySettingsStore::removeSection(std::string_view section) {
  const auto s = list.find(section);
  if (s == list.end()) return false;
  list.erase(s);
  return true;
}

std::vector<std::string> MemorySettingsStore::keys(std::string_view section) const {
  std::vector<std::string> names;
  if (const auto s = list.find(section); s != list.end())
    for (const auto* e : inOrder(s->second.entries)) names.push_back(e->first);
  return names;
}

std::vector<std::string> MemorySettingsStore::sections() const {
  std::vector<std::string> names;
  for (const auto* s : inOrder(list)) names.push_back(s->first);
  return names;
}

bool MemorySettingsStore::operator==(const MemorySettingsStore& other) const {
  const auto a = inOrder(list), b = inOrder(other.list);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i]->first != b[i]->first) return false;
    const auto x = inOrder(a[i]->second.entries), y = inOrder(b[i]->second.entries);
    if (x.size() != y.size()) return false;
    for (size_t k = 0; k < x.size(); ++k)
      if (x[k]->first != y[k]->first || !sameValue(x[k]->second.value, y[k]->second.value)) return false;
  }
  return true;
}

std::string MemorySettingsStore::serialize() const {
  std::string out = "; Velluminar settings\n";
  for (const auto* s : inOrder(list)) {
    out += "\n[";
    appendEscaped(out, s->first, true);
    out += "]\n";
    for (const auto* e : inOrder(s->second.entries)) {
      appendEscaped(out, e->first, true);
      out += '=';
      appendValue(out, e->second.value);
      out += '\n';
    }
  }
  return out;
}

bool MemorySettingsStore::parse(std::string_view text) {
  clear();
  bool damaged = false;
  bool inSection = false;  // false before the first header and after a damaged one
  std::string section, key;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // edited on another system
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      inSection = line.size() >= 2 && line.back() == ']' && unescape(line.substr(1, line.size() - 2), section);
      if (!inSection) {
        damaged = true;
        continue;
      }
      sectionFor(section);
      continue;
    }
    const size_t eq = line.find('=');
    SettingsValue value;
    if (!inSection || eq == std::string_view::npos || !unescape(line.substr(0, eq), key) ||
        !parseValue(line.substr(eq + 1), value)) {
      damaged = true;
      continue;
    }
    put(section, key, std::move(value));
  }
  return !damaged;
}

SettingsLoad FileSettingsStore::load() {
  SettingsLoad result = SettingsLoad::Unreadable;
  protectFile = false;
  try {
    std::string contents;
    switch (readSettingsFile(filePath, contents)) {
      case ReadResult::Missing:
        clear();
        return SettingsLoad::Missing;
      case ReadResult::Failed:
        clear();
        result = SettingsLoad::Unreadable;
        break;
      case ReadResult::Ok:
        result = parse(contents) ? SettingsLoad::Loaded : SettingsLoad::Damaged;
        break;
    }
  } catch (const std::bad_alloc&) {
    clear();
    result = SettingsLoad::Unreadable;
  }
  if (result == SettingsLoad::Loaded) return result;
  // A file that could not even be copied is never replaced by the defaults:
  // the user's settings may still be in it.
  protectFile = !keepBackup(filePath);
  ui().Warning(text(TextId::SettingsDamaged));
  return result;
}

bool FileSettingsStore::save() const {
  if (filePath.empty() || protectFile) return false;
  try {
    std::error_code ec;
    std::filesystem::create_directories(parentFolder(filePath), ec);
    const std::string text = serialize();
    return writeFileAtomically(filePath, text.data(), text.size(), 0600);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::string settingsFilePath(std::string_view rootKey) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    base = homeFolder();
    if (base.empty()) return {};
    base += "/.config";
  }
  constexpr std::string_view kSoftware = "Software\\";
  if (rootKey.size() >= kSoftware.size() && sameName(rootKey.substr(0, kSoftware.size()), kSoftware))
    rootKey.remove_prefix(kSoftware.size());
  base += '/';
  for (char c : rootKey) base += c == '\\' ? '/' : c;
  return base + ".ini";
}

std::string settingsSubkey(std::string_view section, std::string_view subkey) {
  std::string s(section);
  s += '/';
  s += subkey;
  return s;
}

SettingsStore& appSettings() {
  static MemorySettingsStore empty;
  return currentStore ? *currentStore : empty;
}

SettingsStore* setAppSettings(SettingsStore* store) {
  SettingsStore* previous = &appSettings();
  currentStore = store;
  return previous;
}

}  // namespace vl
