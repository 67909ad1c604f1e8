#include "app/download_text.h"

#include <cmath>
#include <cstdio>

#include "app/failure_text.h"
#include "app/service_text.h"
#include "app/share_tree.h"
#include "share/share_client.h"
#include "text/text_encoding.h"

namespace sharelink {

namespace {

std::string disk_text(const DiskError& error) {
  // The path is the system's (UTF-8): shown as local text, controls made harmless.
  const std::string path = shown_text(utf8_to_gbk(error.path));
  switch (error.cause) {
    case DiskCause::full:
      return "磁盘空间不足: " + path;
    case DiskCause::denied:
      return "没有写入权限: " + path;
    case DiskCause::too_long:
      return "路径太长: " + path;
    case DiskCause::not_found:
      return "找不到文件夹: " + path;
    case DiskCause::none:
    case DiskCause::other:
      break;
  }
  const std::string reason =
      error.reason.empty() ? "" : " (" + shown_text(utf8_to_gbk(error.reason)) + ")";
  return "无法写入: " + path + reason;
}

std::string http_text(const FileFailure& failure) {
  RequestFailure request;
  request.method = "GET";
  request.url = failure.url;
  request.failure = failure.http_failure;
  request.cause = failure.http_cause;
  request.reason = failure.reason;
  if (failure.http_status != 0) {
    request.status_text = std::to_string(failure.http_status);
  }
  return failure_cause_text(request);
}

}  // namespace

std::string file_failure_cause(const FileFailure& failure) {
  switch (failure.fault) {
    case DownloadFault::http:
      return http_text(failure);
    case DownloadFault::size_mismatch:
      return "服务器上的文件有 " + std::to_string(failure.served_size) +
             " 字节, 与列表中的大小不符";
    case DownloadFault::disk:
      return disk_text(failure.disk);
    case DownloadFault::no_link:
      return "没有下载地址";
    case DownloadFault::renew:
      return "无法重新获取下载地址: " + ShareClient::error_message(failure.service_code);
    case DownloadFault::refused:
      return "重新获取的下载地址仍被拒绝: " + http_text(failure);
    case DownloadFault::none:
      break;
  }
  return "未知错误";
}

std::string speed_text(double bytes_per_second) {
  return size_text(static_cast<std::uint64_t>(std::max(0.0, bytes_per_second))) + "/s";
}

std::string file_done_text(const std::string& local_path) {
  return "下载完成: " + shown_text(local_path);
}

std::string file_failed_text(const std::string& local_path, const FileFailure& failure) {
  return "下载失败: " + shown_text(local_path) + " (" + file_failure_cause(failure) + ")";
}

std::string notice_text(const std::string& local_path, DownloadNotice notice) {
  const std::string path = shown_text(local_path);
  switch (notice) {
    case DownloadNotice::renamed:
      return "下载状态: 目标位置已有不属于本次下载的文件, 改存为: " + path;
    case DownloadNotice::resumed:
      return "下载状态: 继续上次的下载: " + path;
    case DownloadNotice::skipped:
      return "下载状态: 上次已下载完成, 跳过: " + path;
    case DownloadNotice::link_renewed:
      return "下载状态: 下载地址已过期, 已重新获取: " + path;
    case DownloadNotice::fewer_connections:
      return "下载状态: 服务器拒绝更多连接, 减少连接数: " + path;
    case DownloadNotice::one_connection:
      return "下载状态: 服务器不支持分段下载, 从头以单个连接下载: " + path;
    case DownloadNotice::retrying:
      break;
  }
  return {};
}

std::string duration_text(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  if (seconds < 10) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return std::string(text) + " 秒";
  }
  const auto whole = static_cast<unsigned long long>(std::llround(seconds));
  if (whole < 60) return std::to_string(whole) + " 秒";
  if (whole < 3600) {
    return std::to_string(whole / 60) + " 分 " + std::to_string(whole % 60) + " 秒";
  }
  return std::to_string(whole / 3600) + " 小时 " + std::to_string(whole % 3600 / 60) + " 分";
}

std::string closing_text(const DownloadSummary& summary) {
  return "下载结束: " + std::to_string(summary.files_done) + " 个文件完成, " +
         std::to_string(summary.files_failed) + " 个失败, " + size_text(summary.bytes) + ", 用时 " +
         duration_text(summary.seconds);
}

std::string progress_text(const DownloadProgress& progress) {
  std::string text = "下载中: " + std::to_string(progress.files_done) + "/" +
                     std::to_string(progress.files_total) + " 个文件, " +
                     size_text(progress.bytes_done) + " / " + size_text(progress.bytes_total) +
                     ", " + speed_text(progress.bytes_per_second);
  if (progress.seconds_left >= 0) text += ", 剩余 " + duration_text(progress.seconds_left);
  if (progress.files_failed > 0) text += ", " + std::to_string(progress.files_failed) + " 个失败";
  return text;
}

std::string check_text(const DownloadCheck& check) {
  if (check.ok) return {};
  if (check.disk) return "下载未开始: " + disk_text(check.disk);
  return "下载未开始: 磁盘空间不足, 需要 " + size_text(check.needed) + ", 可用 " +
         size_text(check.free);
}

}  // namespace sharelink
