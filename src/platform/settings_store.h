#pragma once
// Typed settings in named sections, in place of the registry. The program
// reads them once at start and writes them back at exit.
//
// Sections are flat: a subkey below the program's root is named by its path
// with '/' between the levels ("fileIO", "penSetting/wc3",
// "docking/dockSite0"). Section and key names compare like registry names:
// ASCII letters without regard to case; the spelling kept is the first one set.
//
// The file store keeps one text file (UTF-8, LF line ends):
//
//   [fileIO]
//   loadPath=s:/home/kim/그림
//   jpegQuality=i:90
//   silentFileIO=b:0
//   [paper]
//   w0=d:640
//   [penSetting/wc3]
//   blob=x:00ff10
//
// A value is a type tag and its text: i = 32-bit integer in decimal, b = 0 or
// 1, d = double (shortest decimal that reads back to the same bits; "inf",
// "-inf"; a NaN as "nan:" and its 16 hex digits), s = string, x = bytes as hex
// pairs. Names and strings escape backslash, control bytes and invalid UTF-8
// as \\ \n \r \t \xHH; names also escape '=', '[', ']', ';' and '#'. Lines
// starting with ';' or '#' are comments; nothing is trimmed.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vl {

using SettingsBytes = std::vector<uint8_t>;
// Kept in this order: the index is the type.
using SettingsValue = std::variant<int32_t, bool, double, std::string, SettingsBytes>;

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The value, or nullptr; valid until the store next changes.
  virtual const SettingsValue* find(std::string_view section, std::string_view key) const = 0;
  virtual void put(std::string_view section, std::string_view key, SettingsValue value) = 0;
  // False when there was no such key (or section).
  virtual bool remove(std::string_view section, std::string_view key) = 0;
  virtual bool removeSection(std::string_view section) = 0;
  // Names in the order they were first set.
  virtual std::vector<std::string> keys(std::string_view section) const = 0;
  virtual std::vector<std::string> sections() const = 0;

  // True and `out` set when the key holds a value of that type; otherwise
  // `out` keeps its contents. Integers and booleans read as each other
  // (the registry keeps booleans as integers); other types never convert.
  bool getInt(std::string_view section, std::string_view key, int32_t& out) const;
  bool getBool(std::string_view section, std::string_view key, bool& out) const;
  bool getDouble(std::string_view section, std::string_view key, double& out) const;
  bool getString(std::string_view section, std::string_view key, std::string& out) const;
  bool getBinary(std::string_view section, std::string_view key, SettingsBytes& out) const;

  void setInt(std::string_view section, std::string_view key, int32_t v) { put(section, key, v); }
  void setBool(std::string_view section, std::string_view key, bool v) { put(section, key, v); }
  void setDouble(std::string_view section, std::string_view key, double v) { put(section, key, v); }
  void setString(std::string_view section, std::string_view key, std::string_view v) {
    put(section, key, std::string(v));
  }
  void setBinary(std::string_view section, std::string_view key, SettingsBytes v) { put(section, key, std::move(v)); }
};

// Settings held in memory only (tests, unattended modes).
class MemorySettingsStore : public SettingsStore {
 public:
  const SettingsValue* find(std::string_view section, std::string_view key) const override;
  void put(std::string_view section, std::string_view key, SettingsValue value) override;
  bool remove(std::string_view section, std::string_view key) override;
  bool removeSection(std::string_view section) override;
  std::vector<std::string> keys(std::string_view section) const override;
  std::vector<std::string> sections() const override;

  void clear() {
    list.clear();
    nextOrder = 0;
  }
  bool operator==(const MemorySettingsStore& other) const;

  // The whole store as file text, and back. parse() keeps every line it
  // understands and returns false when any line was damaged.
  std::string serialize() const;
  bool parse(std::string_view text);

 private:
  // Names ordered without regard to ASCII case, looked up without copies.
  struct NameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct Entry {
    uint64_t order;  // when first set
    SettingsValue value;
  };
  struct Section {
    uint64_t order;
    std::map<std::string, Entry, NameLess> entries;
  };
  using SectionMap = std::map<std::string, Section, NameLess>;
  // Sections, or the entries of one, in the order they were first set.
  template <class Map>
  static std::vector<const typename Map::value_type*> inOrder(const Map& map);
  Section& sectionFor(std::string_view name);

  SectionMap list;
  uint64_t nextOrder = 0;
};

enum class SettingsLoad {
  Loaded,      // read completely
  Missing,     // no file yet (first start)
  Damaged,     // some lines were not understood; the rest was kept
  Unreadable,  // not a regular file, too big or a read error; nothing kept
};

// Settings backed by one file, written atomically.
class FileSettingsStore : public MemorySettingsStore {
 public:
  explicit FileSettingsStore(std::string path) : filePath(std::move(path)) {}

  // Replaces the contents with the file's. A damaged or unreadable file is
  // copied to "<path>.damaged" and the user is told once; the file itself
  // stays as it was until save().
  SettingsLoad load();
  // Writes a temporary file in the same folder, flushes it to the disk and
  // renames it over the file, creating the folder when needed. False when
  // the file could not be written; the previous file is then untouched.
  // Also false after a load that could neither read nor copy the file.
  bool save() const;

  const std::string& path() const { return filePath; }

 private:
  std::string filePath;
  bool protectFile = false;
};

// Files above this size are refused as unreadable.
inline constexpr uint64_t kMaxSettingsFileBytes = uint64_t(16) << 20;

// The program's root key and the file that stands in for it.
inline constexpr std::string_view kSettingsRootKey = "Software\\brennholt\\Velluminar3 Plus";
// "$XDG_CONFIG_HOME/brennholt/Velluminar3 Plus.ini" for the root key
// "Software\brennholt\Velluminar3 Plus" ("~/.config" when XDG_CONFIG_HOME is
// unset, empty or relative). Empty when no home folder is known.
std::string settingsFilePath(std::string_view rootKey = kSettingsRootKey);

// Joins a subkey below a section: settingsSubkey("penSetting", "wc3") is "penSetting/wc3".
std::string settingsSubkey(std::string_view section, std::string_view subkey);

// The process-wide store: an empty memory store until the shell installs the
// file store. setAppSettings returns the previous store; nullptr restores the default.
SettingsStore& appSettings();
SettingsStore* setAppSettings(SettingsStore* store);

}  // namespace vl
