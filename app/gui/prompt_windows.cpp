#include "app/gui/prompt_windows.h"

#include <FL/Fl.H>

#include "app/app_texts.h"
#include "app/share_text.h"
#include "http/text_encoding.h"
#include "share/result_codes.h"
#include "share/share_client.h"

namespace sharelink {

namespace {

constexpr int kPromptLeft = 50;
constexpr int kPromptTop = 50;
constexpr int kAnswerChars = 4;

// Only the close box closes a prompt; Escape does nothing, as in the layout's
// windows.
void close_box(Fl_Widget* widget, void*) {
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  widget->hide();
}

}  // namespace

namespace {
constexpr double kLoadPoll = 0.03;
}  // namespace

PromptWindow::PromptWindow(int outer_width, int outer_height, const char* caption,
                           std::function<void()> on_closed)
    : Fl_Double_Window(kPromptLeft, kPromptTop, outer_width - kFrameWidth,
                       outer_height - kFrameHeight),
      on_closed_(std::move(on_closed)) {
  copy_label(gbk_to_utf8(caption).c_str());
  callback(close_box);
}

void PromptWindow::hide() {
  Fl_Double_Window::hide();
  if (!on_closed_) return;
  auto closed = std::move(on_closed_);
  on_closed_ = nullptr;
  closed();
  Fl::delete_widget(this);
}

void PromptWindow::confirm(const CentredInput& box, std::string& answer,
                           const char* empty_message) {
  const std::string typed = confirmed_answer(box.local_value());
  if (typed.empty()) {
    show_message(empty_message, kMessageCaption);
    return;
  }
  answer = typed;
  hide();
}

Fl_Button* PromptWindow::make_ok_button(int x, int y, int w, int h, Fl_Callback* on_click) {
  auto* button = new Fl_Button(x, y, w, h);
  button->copy_label(u8"确定");
  button->shortcut(FL_Enter);
  button->callback(on_click, this);
  return button;
}

ExtractionCodeWindow::ExtractionCodeWindow(AppState& state, std::function<void()> on_closed)
    : PromptWindow(225, 89, kCodeTitle, std::move(on_closed)), state_(state) {
  编辑框_提取密码 = new CentredInput(8, 8, 96, 39, kAnswerChars);
  编辑框_提取密码->set_local_value(state_.suggested_code.empty() ? std::string(kSampleCode)
                                                                 : state_.suggested_code);
  按钮1 = make_ok_button(116, 9, 84, 38, [](Fl_Widget*, void* self) {
    static_cast<ExtractionCodeWindow*>(self)->on_extraction_code_ok();
  });
  end();
}

void ExtractionCodeWindow::on_extraction_code_ok() {
  confirm(*编辑框_提取密码, state_.extraction_code, kEnterCodeMessage);
}

CaptchaWindow::CaptchaWindow(AppState& state, std::function<void()> on_closed)
    : PromptWindow(351, 89, kCaptchaTitle, std::move(on_closed)), state_(state) {
  图片框_验证码 = new PictureBox(8, 8, 120, 40, [this] { load_captcha(); });
  编辑框_验证码 = new CentredInput(136, 9, 96, 39, kAnswerChars);
  按钮1 = make_ok_button(244, 10, 84, 38, [](Fl_Widget*, void* self) {
    static_cast<CaptchaWindow*>(self)->on_captcha_ok();
  });
  end();
}

CaptchaWindow::~CaptchaWindow() {
  Fl::remove_timeout(on_poll, this);
}

void CaptchaWindow::load_captcha() {
  if (load_) return;
  load_ = start_captcha_load(state_, decode_picture);
  if (!load_) {
    show_message(ShareClient::error_message(kRequestFailed), kCaptchaFailedCaption);
    return;
  }
  Fl::add_timeout(kLoadPoll, on_poll, this);
}

void CaptchaWindow::on_poll(void* window) {
  auto* self = static_cast<CaptchaWindow*>(window);
  if (!self->load_->done) {
    Fl::repeat_timeout(kLoadPoll, on_poll, window);
    return;
  }
  const std::shared_ptr<CaptchaLoad> load = std::move(self->load_);
  // A window closed meanwhile waits only for its deletion.
  if (self->shown()) self->show_loaded(*load);
}

void CaptchaWindow::show_loaded(CaptchaLoad& load) {
  if (load.code != 0) {
    show_message(ShareClient::error_message(load.code), kCaptchaFailedCaption);
    return;
  }
  // The job waits while this window is open: the client is ours to write.
  state_.share_client.set_vcode_str(std::move(load.id));
  // Bytes that are no picture we can show leave the box empty, never stale.
  图片框_验证码->set_picture(std::move(load.picture));
  编辑框_验证码->value("");
}

void CaptchaWindow::on_captcha_ok() {
  confirm(*编辑框_验证码, state_.captcha_answer, kEnterCaptchaMessage);
}

void open_extraction_code_window(AppState& state, std::function<void()> on_closed) {
  auto* window = new ExtractionCodeWindow(state, std::move(on_closed));
  window->set_non_modal();
  window->show();
}

void open_captcha_window(AppState& state, std::function<void()> on_closed) {
  auto* window = new CaptchaWindow(state, std::move(on_closed));
  window->set_non_modal();
  window->show();
  window->load_captcha();
}

}  // namespace sharelink
