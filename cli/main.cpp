// sharelink-cli: the resolve job on a terminal.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/download_text.h"
#include "app/failure_text.h"
#include "app/http_trace.h"
#include "app/resolve_job.h"
#include "app/share_download.h"
#include "app/share_text.h"
#include "cli/captcha_file.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/link_export.h"
#include "cli/system_io.h"
#include "cli/terminal_view.h"
#include "http/http_message.h"
#include "http/http_request.h"
#include "share/result_codes.h"
#include "text/text_encoding.h"

namespace {

using namespace sharelink;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitGaveUp = 2;
constexpr int kExitStopped = 130;
constexpr int kExitUsage = 64;

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Writes bytes to file and closes it; false with the system's reason when
// they did not all reach it.
bool finish_file(std::FILE* file, const std::string& bytes, std::string& error) {
  errno = 0;
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
  const int write_errno = errno;
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return true;
  error = std::strerror(write_errno != 0 ? write_errno : errno);
  return false;
}

int exit_status(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::success:
    case JobOutcome::listed:
      return kExitSuccess;
    case JobOutcome::gave_up:
      return kExitGaveUp;
    case JobOutcome::stopped:
      return kExitStopped;
    case JobOutcome::failure:
      break;
  }
  return kExitFailure;
}

// What follows the log: the listing, the links, the aria2 file (open since
// the start, or null). The status the job's outcome gives, or a failure.
int write_outputs(const CliOptions& options, Console& console, const AppState& state,
                  JobOutcome outcome, FileHandle& aria2) {
  // The job's own list, not a copy of it: a share may hold a hundred thousand files.
  const std::shared_ptr<const FileList> published = state.published_files();
  const FileList& files = *published;
  if (outcome == JobOutcome::listed) {
    tree_listing(files, [&console](const std::string& lines) { console.print_utf8(lines); });
  }
  if (options.print_links) console.print_utf8(link_list(files));
  int status = exit_status(outcome);
  if (!aria2) return status;
  const std::string aria2_text = aria2_input(files, default_user_agent());
  std::string error;
  if (!finish_file(aria2.release(), aria2_text, error)) {
    console.message("无法写入文件: ", options.aria2_file + " (" + error + ")");
    // The links are lost to whoever reads that file: not a success.
    if (status == kExitSuccess) status = kExitFailure;
  }
  return status;
}

// The download of what the job keeps, when the command line asks for one.
std::unique_ptr<ShareDownload> make_download(const CliOptions& options, AppState& state,
                                             JobView& view, Console& console) {
  if (options.download_folder.empty()) return nullptr;
  DownloadSettings settings;
  settings.folder = options.download_folder;
  settings.connections = options.connections;
  // The record names the share by its link alone, whatever message came with it.
  settings.share = gbk_to_utf8(parse_share_text(utf8_to_gbk(options.link)).link);
  settings.user_agent = default_user_agent();
  auto download = std::make_unique<ShareDownload>(
      state, view, std::move(settings), [&console](const std::string& line) { console.log(line); },
      [&console](const DownloadProgress& progress) {
        if (console.shows_status()) console.status(progress_text(progress));
      });
  download->attach();
  return download;
}

// The job's status, made worse by the download's outcome.
int combined_status(int status, DownloadOutcome outcome) {
  if (status == kExitStopped || outcome == DownloadOutcome::stopped) return kExitStopped;
  if (status != kExitSuccess) return status;
  switch (outcome) {
    case DownloadOutcome::failed:
      return kExitFailure;
    case DownloadOutcome::gave_up:
      return kExitGaveUp;
    default:
      return status;
  }
}

int run(const CliOptions& options, Console& console) {
  // A file that cannot be written is found before the first request, not
  // after the last one.
  FileHandle aria2(nullptr, &std::fclose);
  if (!options.aria2_file.empty()) {
    std::string error;
    aria2.reset(system_io::open_for_writing(options.aria2_file, error));
    if (!aria2) {
      console.message("无法写入文件: ", options.aria2_file + " (" + error + ")");
      return kExitFailure;
    }
  }
  AppState state;
  TerminalView view(state, console, utf8_to_gbk(options.link), utf8_to_gbk(options.code),
                    options.captcha_file);
  std::vector<std::string> patterns;
  for (const std::string& pattern : options.select)
    patterns.push_back(utf8_to_gbk(pattern));
  view.set_choice(options.list, std::move(patterns));
  ResolveLimits limits;
  limits.parallel = options.parallel;
  state.share_client.set_limits(limits);
  std::unique_ptr<ShareDownload> download = make_download(options, state, view, console);
  state.try_begin_job();
  // Ctrl-C arrives in a signal handler, where stopping the job is not safe:
  // it is passed on from here, to the download too.
  std::atomic<bool> all_done{false};
  std::thread watch([&state, &all_done, &download] {
    while (!all_done) {
      if (system_io::interrupted()) {
        state.request_stop();
        if (download) download->stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  struct Done {
    std::atomic<bool>& flag;
    std::thread& watch;
    ~Done() {
      flag = true;
      watch.join();
    }
  } done{all_done, watch};
  const JobOutcome outcome = ResolveJob(state, view).run();

  if (outcome == JobOutcome::failure) {
    const std::string cause = failure_text(state.share_client.last_failure());
    if (!cause.empty()) console.message(cause);
  }
  int status = kExitFailure;
  try {
    status = write_outputs(options, console, state, outcome, aria2);
  } catch (const std::bad_alloc&) {
    console.message(error_message(kOutOfMemory));
  }
  if (!download) return status;
  return combined_status(status, download->finish());
}

int run_program(int argc, char** argv) {
  system_io::prepare_standard_streams();
  Console console(stdin, stdout, stderr);
  CliOptions options;
  std::string error;
  switch (parse_cli_options(system_io::arguments(argc, argv), options, error)) {
    case ParseOutcome::help:
      console.print_utf8(cli_help_text());
      return kExitSuccess;
    case ParseOutcome::version:
      console.print_utf8(cli_version_text() + "\n");
      return kExitSuccess;
    case ParseOutcome::usage_error:
      console.message("sharelink-cli: ", error + "\nTry 'sharelink-cli --help'.");
      return kExitUsage;
    case ParseOutcome::run:
      break;
  }
  http_global_init();
  // Ending the program at a prompt (Ctrl-C) must not leave the picture behind.
  system_io::remove_on_stop(CaptchaFile::remove_temp_on_signal);
  system_io::take_first_interrupt();
  // Requests in flight trace from their own threads; the console takes them
  // in turn with the job's output.
  if (options.verbose) {
    set_http_trace(
        [&console](const HttpTraceRecord& record) { console.message_utf8(trace_line(record)); });
  }
  struct TraceOff {
    ~TraceOff() { set_http_trace(nullptr); }
  } trace_off;
  return run(options, console);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run_program(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs(u8"sharelink-cli: 自定义错误代码,内存不足\n", stderr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "sharelink-cli: %s\n", error.what());
  }
  return kExitFailure;
}
