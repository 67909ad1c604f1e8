// sharelink-cli: the resolve job on a terminal.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/http_trace.h"
#include "app/resolve_job.h"
#include "cli/captcha_file.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/link_export.h"
#include "cli/system_io.h"
#include "cli/terminal_view.h"
#include "http/http_request.h"
#include "text/text_encoding.h"

namespace {

using namespace sharelink;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitGaveUp = 2;
constexpr int kExitStopped = 130;
constexpr int kExitUsage = 64;

bool write_file(const std::string& path, const std::string& bytes) {
  std::string error;
  std::FILE* file = system_io::open_for_writing(path, error);
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
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

int run(const CliOptions& options, Console& console) {
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
  state.try_begin_job();
  // Ctrl-C arrives in a signal handler, where stopping the job is not safe:
  // it is passed on from here.
  std::atomic<bool> job_done{false};
  std::thread watch([&state, &job_done] {
    while (!job_done) {
      if (system_io::interrupted()) {
        state.request_stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const JobOutcome outcome = ResolveJob(state, view).run();
  job_done = true;
  watch.join();

  const FileList files = state.files();
  if (outcome == JobOutcome::listed) console.print_utf8(tree_listing(files));
  if (options.print_links) console.print_utf8(link_list(files));
  int status = exit_status(outcome);
  if (!options.aria2_file.empty() && !write_file(options.aria2_file, aria2_input(files))) {
    console.message("无法写入文件: ", options.aria2_file);
    // The links are lost to whoever reads that file: not a success.
    if (status == kExitSuccess) status = kExitFailure;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
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
  // The job's requests all run on this thread, so the console needs no lock.
  if (options.verbose) {
    set_http_trace(
        [&console](const HttpTraceRecord& record) { console.message_utf8(trace_line(record)); });
  }
  const int status = run(options, console);
  set_http_trace(nullptr);
  return status;
}
