#pragma once

// The download links of a finished job in the forms other programs read: a plain
// list and an aria2 input file. Both are UTF-8 with LF line ends.

#include <functional>
#include <string>

#include "share/file_entry.h"

namespace sharelink {

// Every http or https download link, one per line, in list order; entries
// without one are left out.
std::string link_list(const FileList& files);

// An aria2 input file: for each entry with an http or https link, the link,
// then "  out=" and the file's path below the share's top level: its folder
// (none for the files of the top level), "/" and its name. Names and folders
// come from the service; they are made safe to write: no line breaks that
// would start another option, no "/" or "\" in a name, no "." or ".." steps
// out of the folder. Each entry ends with "  user-agent=" and user_agent
// (local text), which the link's server asks for.
std::string aria2_input(const FileList& files, const std::string& user_agent);

// The share's tree, one line per entry in list order: its number (that of
// the report), 目录 or 文件, its size in bytes (a folder's, the total below
// it) and its path below the share's top. The lines go to write a few at a
// time, each call whole lines of about 64 KiB at most (one long line alone):
// paths deep below the top make a listing far larger than the list, and it
// is never held whole.
using ListingSink = std::function<void(const std::string& utf8_lines)>;
void tree_listing(const FileList& files, const ListingSink& write);

}  // namespace sharelink
