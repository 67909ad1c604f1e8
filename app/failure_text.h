#pragma once

// Why a job failed, in the program's words: the terminal's line after the log
// and the window's status bar. It names the request and the server by host
// and port, never by the query, which may hold a password.

#include <optional>
#include <string>

#include "share/share_client.h"

namespace sharelink {

// "请求 GET /s/1abc 失败: 无法连接到 127.0.0.1:9 (拒绝连接)", local text. "" when
// no request failed: a failure the service told by its errno is explained by
// the log's status line.
std::string failure_text(const std::optional<RequestFailure>& failure);

// The same without the request: "无法连接到 127.0.0.1:9 (拒绝连接)".
std::string failure_cause_text(const RequestFailure& failure);

}  // namespace sharelink
