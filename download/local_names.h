#pragma once

// Where each file of a share lands below the download folder: names every
// platform accepts, made from the names the sharer gave, one file per name,
// and never a path outside the folder. Names here are UTF-8.

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sharelink {

// How the file system at hand counts and compares names. Both follow the same
// replacement rules, so a folder copied from one system to the other keeps its
// names; they differ in the unit of the length limit and in letter case.
enum class NameRules {
  posix,    // 255 bytes of UTF-8 per component; case matters
  windows,  // 255 UTF-16 units per component; case does not matter
};

// The rules of the system the program was built for.
NameRules native_name_rules();

// What a component may be at most, before the " (n)" mark and ".part" are
// added, in the rules' unit: the limit less room for both.
constexpr std::size_t kComponentLimit = 255;
constexpr std::size_t kNameRoom = 16;

// One name made safe: "/", "\", control characters (C0, DEL, C1, the line and
// paragraph separators and the direction controls, which could make
// "x\u202Efdp.exe" read as "xexe.pdf") and <>:"|?* become "_"; trailing dots
// and spaces go; "", "." and ".." become "_"; a device name (CON, PRN, AUX,
// NUL, COM0-9, LPT0-9, COM/LPT with a superscript 1-3, CONIN$, CONOUT$) gets
// "_" after its stem, the part before the first dot, whatever follows and in
// any case: "con.txt" -> "con_.txt", "Com1.tar.gz" -> "Com1_.tar.gz". A name
// past kComponentLimit - kNameRoom units is cut at a character's end (never
// inside a UTF-8 sequence or a surrogate pair), keeping its extension. Bytes
// that are not UTF-8 become U+FFFD.
std::string safe_component(const std::string& utf8_name, NameRules rules);

// The extension is the last dot and what follows, ".tar" before it included
// (".tar.gz"), when it is at most 32 units and the dot is not the name's first
// character (".profile" has none).
// name with " (n)" before its extension: "a.txt" -> "a (2).txt",
// "a.tar.gz" -> "a (1).tar.gz", ".profile" -> ".profile (1)".
std::string numbered_name(const std::string& name, int n);

// Whether every "/"-separated component of relative is a name safe_component
// leaves as it is, and short enough under rules with ".part" added (a number
// may take the room of kNameRoom): what a record read from disk must hold
// before the download writes there.
bool is_safe_relative_path(const std::string& relative, NameRules rules);

// relative as the file system compares names: itself for posix; for windows
// with letters folded to one case (ASCII, Latin-1, Latin Extended-A and
// Additional, Greek, Cyrillic, Armenian, full-width Latin).
std::string name_key(const std::string& relative, NameRules rules);

// Gives each file of a download its path below the folder: components joined
// by "/", each made safe, unique among the paths given so far (by the rules'
// letter case), and not one the caller says is taken on disk by a file that
// is not the download's. A file's name also keeps its "<name>.part" free, so
// that one file's partial bytes never share a name with another file; and the
// folder's record keeps its own name. Each folder of the share gets one local
// folder: two share folders that map to one name are "d" and "d (1)" (the
// number at the end of a folder's name); a folder on disk that the download
// did not make is shared, since files inside it are checked one by one.
class LocalNames {
 public:
  explicit LocalNames(NameRules rules);

  // A path given on an earlier run (read from the download's record): it
  // stays that file's, and no later file gets it.
  void reserve(const std::string& relative_path);

  // path: the names of the folders below the share's top and the file's own
  // name last, as the share gives them. occupied(relative) tells whether a
  // path is taken by something that is not the download's; such a name, or one
  // given before, makes the file's name take the next free " (n)".
  // Names are UTF-8 (see safe_component).
  std::string assign(const std::vector<std::string>& path,
                     const std::function<bool(const std::string& relative)>& occupied);

 private:
  using ShareFolder = std::vector<std::string>;
  std::string key(const std::string& relative) const { return name_key(relative, rules_); }
  bool file_free(const std::string& relative) const;
  std::string local_folder(const ShareFolder& folder, const std::string& parent);
  void take_folders_of(const std::string& relative);
  void take_file(const std::string& relative);

  NameRules rules_;
  std::set<std::string> files_;  // by key(): files given and their ".part" names
  // By key(): folders given, with the share folder that owns each (null for
  // one on the way of a reserved path: the first share folder to reach it
  // takes it).
  std::map<std::string, const ShareFolder*> folder_owners_;
  std::map<ShareFolder, std::string> folders_;  // share folder -> its local path
  std::map<std::string, int> last_number_;      // by key() of a name: the last " (n)" given
};

}  // namespace sharelink
