#pragma once

// What a download tells its user, in the program's words (local text): one
// log line per file and a closing line, the notes on the way, the progress
// line and why a download could not start.

#include <cstdint>
#include <string>

#include "download/downloader.h"

namespace sharelink {

// "下载完成: PATH", "下载失败: PATH (CAUSE)", without the time stamp.
std::string file_done_text(const std::string& local_path);
std::string file_failed_text(const std::string& local_path, const FileFailure& failure);
// The log's note, or "" for one the log leaves to the progress line.
std::string notice_text(const std::string& local_path, DownloadNotice notice);
// Why a file failed, in the words file_failed_text puts in brackets.
std::string file_failure_cause(const FileFailure& failure);
// "25.3 MB/s".
std::string speed_text(double bytes_per_second);
// "下载结束: N 个文件完成, M 个失败, SIZE, 用时 T".
std::string closing_text(const DownloadSummary& summary);
// "下载中: 3/12 个文件, 1.2 GB / 3.4 GB, 25.3 MB/s, 剩余 1 分 20 秒".
std::string progress_text(const DownloadProgress& progress);
// Why prepare refused; "" when it did not.
std::string check_text(const DownloadCheck& check);
// "12 秒", "3.4 秒", "1 分 5 秒", "2 小时 3 分".
std::string duration_text(double seconds);

}  // namespace sharelink
