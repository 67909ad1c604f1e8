#include "cli/cli_options.h"

namespace sharelink {

namespace {

// Options that take a value, and where the value goes.
std::string* value_slot(const std::string& name, CliOptions& options) {
  if (name == "--code") return &options.code;
  if (name == "--aria2") return &options.aria2_file;
  if (name == "--captcha-file") return &options.captcha_file;
  if (name == "--download") return &options.download_folder;
  return nullptr;
}

}  // namespace

ParseOutcome parse_cli_options(const std::vector<std::string>& args, CliOptions& options,
                               std::string& error) {
  std::vector<std::string> operands;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") return ParseOutcome::help;
    if (arg == "--version") return ParseOutcome::version;
    if (arg == "--links") {
      options.print_links = true;
      continue;
    }
    if (arg == "--list") {
      options.list = true;
      continue;
    }
    if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
      continue;
    }
    // Both "--code CODE" and "--code=CODE".
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    std::string selected, parallel, connections;
    std::string* slot = name == "--select"        ? &selected
                        : name == "--parallel"    ? &parallel
                        : name == "--connections" ? &connections
                                                  : value_slot(name, options);
    if (slot == nullptr) {
      error = "unknown option " + name;
      return ParseOutcome::usage_error;
    }
    if (equals != std::string::npos) {
      *slot = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      *slot = args[++i];
    } else {
      error = name + " needs a value";
      return ParseOutcome::usage_error;
    }
    if (slot->empty()) {
      error = name + " needs a non-empty value";
      return ParseOutcome::usage_error;
    }
    if (slot == &selected) options.select.push_back(selected);
    if (slot == &parallel || slot == &connections) {
      int& count = slot == &parallel ? options.parallel : options.connections;
      const bool digits =
          slot->size() <= 2 && slot->find_first_not_of("0123456789") == std::string::npos;
      count = digits ? std::stoi(*slot) : 0;
      if (count < 1 || count > 16) {
        error = name + " takes a number from 1 to 16";
        return ParseOutcome::usage_error;
      }
    }
  }
  if (options.list && !options.download_folder.empty()) {
    error = "--list requests no link, so --download has nothing to fetch";
    return ParseOutcome::usage_error;
  }
  if (operands.size() != 1) {
    error = operands.empty() ? "no share link given" : "more than one share link given";
    return ParseOutcome::usage_error;
  }
  options.link = operands.front();
  return ParseOutcome::run;
}

const char* cli_help_text() {
  return u8R"(Usage: sharelink-cli [--code CODE] [--links] [--aria2 FILE] [--captcha-file PATH]
                     [--list] [--select PATTERN]... [--parallel K] [--verbose]
                     [--download DIR [--connections N]] LINK
Resolves a cloud-disk share link into direct download links, the way the
sharelink window does, and writes the job's log to stdout (UTF-8, CR LF line
ends, one time-stamped line per step and one report block per share entry).

LINK is the share page address, or a whole pasted share message such as
"链接: https://... 提取码: abcd" or a link ending in ?pwd=abcd: the link in it is
resolved and the code in it answers the first extraction-code demand.

Options:
  --code CODE          answer to the first extraction-code demand
  --links              after the log, print every download link, one per line
  --aria2 FILE         write an aria2 input file (aria2c -i FILE) of the links
  --captcha-file PATH  where captcha pictures go (default: a temporary file,
                       named by the picture type and removed at exit)
  --list               list the share and, after the log, print its tree, one
                       line per entry: number, 目录 or 文件, size in bytes (a
                       folder's: all below it) and path below the share's top;
                       no download link is requested
  --select PATTERN     request links only for the files PATTERN chooses (may
                       be repeated: a file any of them chooses). PATTERN is a
                       path below the share's top: * stands for any characters
                       of a name, ? for one, ** for any number of folders;
                       letter case is ignored; a folder chooses all below it.
                       "资料" "**/*.pdf" "照片/2023-??-*.jpg". The report and
                       every export hold the chosen files and their folders
  --parallel K         link requests and folder listings in flight at once,
                       1 to 16 (default 4; the window asks 4 at a time). Links
                       land in list order whatever order they come in; each
                       captcha demand halves K for the rest of the job
  --download DIR       download the files into DIR (made when missing), each
                       to its path below the share's top, while the links are
                       still being requested; see "Downloading" below
  --connections N      connections of the download over all files, 1 to 16
                       (default 8)
  -v, --verbose        one line per HTTP request on stderr: method, address
                       (extraction code masked), then status, bytes and
                       seconds, or the failure and its cause
  --help               this text
  --version            the version

Prompts go to stderr and answers are read from stdin, one line each, so another
program can answer them through pipes:
  请输入提取密码:      the share's extraction code
  请输入验证码:        the text of the captcha picture whose path is shown
                       just before ("验证码图片: PATH")
Spaces in answers are dropped; an empty line asks again (after a failed picture
download it also fetches a new picture); end of input gives up.

A request that fails for want of a connection, an answer in time or because the
server had trouble (5xx) is sent again after 1 s and after 3 s, with a line in
the log each time. Ctrl-C stops the job: requests under way are abandoned and
the log ends with "解析状态: 用户主动停止" and the report of every link obtained
(exit status 130); a second Ctrl-C ends the program at once.

aria2 input file: one block per file with an http or https link: the link,
then its path below the share's top level, which aria2 places under its -d
folder (aria2c -i FILE -d DIR), making the folders, and the User-Agent the
link was requested with, the only one its server serves:
  http://host/file/1?fid=7&...
    out=照片 & 视频 #1/深层 目录/最后的文件.pdf
    user-agent=Mozilla/5.0 (...)
The file is opened before the first request: one that cannot be written ends
the program at once.

Downloading: each file is fetched in pieces over up to N connections into
NAME.part, renamed to NAME once it is whole. DIR/.sharelink-download.json
records how far each piece has come: run the same command again after a stop,
a failure or a kill, and finished files are skipped while partial ones go on
where they stopped. Names are made safe on every system: "_" for characters
such as : ? * and controls, and a number for names that would meet, as in
a (1).txt. A file in DIR that the record does not name is never overwritten:
the download takes the next free number, and the log says so. A link that
expired is asked for again in the same share session. After the report, the
log gets one line per file, 下载完成: PATH or 下载失败: PATH (CAUSE), and a
closing line, 下载结束: N 个文件完成, M 个失败, SIZE, 用时 T; a terminal shows
the progress on a status line. Nothing starts when the files do not fit on the
disk of DIR.

When the job fails for a request, the line after the log on stderr says which
and why, such as: 请求 GET /s/1abc 失败: 无法连接到 127.0.0.1:9 (拒绝连接)

Exit status: 0 when the job succeeded (or --list listed the share) and, with
--download, every file is complete, 1 when it failed (or a file of the download
failed, or the aria2 file could not be written, or --select chose no file), 2
when a prompt was given up, 130 when Ctrl-C stopped it, 64 for a usage error.
)";
}

std::string cli_version_text() {
  return std::string("sharelink-cli ") + SHARELINK_VERSION;
}

}  // namespace sharelink
