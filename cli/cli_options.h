#pragma once

// The command line of sharelink-cli, read into a plain record before anything
// runs.

#include <string>
#include <vector>

namespace sharelink {

struct CliOptions {
  // The share link or pasted share message, as the shell gave it (UTF-8).
  std::string link;
  // The answer to the first extraction-code demand (UTF-8); "" when not given.
  std::string code;
  bool print_links = false;
  // Where to write the aria2 input file; "" for none.
  std::string aria2_file;
  // Where to write captcha pictures; "" for a file in the temp folder.
  std::string captcha_file;
  // List the share's tree after the log instead of requesting links.
  bool list = false;
  // Patterns choosing the files that get a link (UTF-8); none chooses all.
  std::vector<std::string> select;
  // Link requests and listings in flight at once, 1 to 16.
  int parallel = 4;
  // One line per HTTP exchange on stderr.
  bool verbose = false;
  // The folder the files go to (UTF-8); "" for no download.
  std::string download_folder;
  // Connections of the download, over all files, 1 to 16.
  int connections = 8;
};

enum class ParseOutcome { run, help, version, usage_error };

// Reads args (without the program name). On usage_error, error says why.
ParseOutcome parse_cli_options(const std::vector<std::string>& args, CliOptions& options,
                               std::string& error);

// The --help text (UTF-8).
const char* cli_help_text();
// "sharelink-cli VERSION".
std::string cli_version_text();

}  // namespace sharelink
