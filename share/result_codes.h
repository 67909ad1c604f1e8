#pragma once

// Result codes: the service's errno values, 0 for success, and the program's own
// codes from -999 to -986, each with the Chinese message the job shows.

#include <string>

namespace sharelink {

// The program's own result codes.
constexpr int kStopped = -986;          // the user stopped the job
constexpr int kListedOnly = -987;       // the share was listed and no link is wanted
constexpr int kNothingChosen = -988;    // a choice of files that chose none
constexpr int kChoiceGivenUp = -989;    // the user closed the file choice
constexpr int kOutOfMemory = -990;      // the job ran out of memory
constexpr int kListTooLarge = -991;     // a share's list passed the bytes a resolve keeps
constexpr int kFolderTooDeep = -992;    // folders nested deeper than a walk goes
constexpr int kCaptchaMissing = -993;   // a captcha reply without its picture or id
constexpr int kTooManyEntries = -994;   // more entries or listing pages than a resolve takes
constexpr int kLinkMissing = -995;      // a download reply of success without a link
constexpr int kRequestFailed = -996;    // a request never got an answer
constexpr int kLinkInvalid = -997;      // the share page says the link does not exist
constexpr int kJsonParseFailed = -998;  // a reply that should be JSON is not
constexpr int kBadCaptchaKind = -999;   // a captcha of a kind the client does not know
// The service codes the job reacts to.
constexpr int kWrongExtractionCode = -9;
constexpr int kWrongExtractionCodeAlt = -12;
constexpr int kWrongDownloadCaptcha = -20;
constexpr int kWrongVerifyCaptcha = -62;
constexpr int kPageExpired = 112;  // the page's sign and timestamp went stale

// The errno number of a reply: the number after the first `errno":`, ending at a
// comma, a closing brace, white space or the end of the text. 0 when the marker
// is missing.
int read_errno(const std::string& reply);

// The message for any result code; unknown codes give "未知错误ID:" and the number.
std::string error_message(int code);

}  // namespace sharelink
