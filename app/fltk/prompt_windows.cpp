#include "app/fltk/prompt_windows.h"

#include <utility>

#include <FL/Fl.H>

#include "app/app_texts.h"
#include "app/desktop/layout.h"
#include "text/text_encoding.h"

namespace sharelink {

PromptWindow::PromptWindow(int outer_width, const char* caption)
    : Fl_Double_Window(kWindowLeft, kWindowTop, outer_width - kFrameWidth,
                       layout::kPromptHeight - kFrameHeight) {
  copy_label(gbk_to_utf8(caption).c_str());
  callback(hide_on_close_box);
}

void PromptWindow::hide() {
  Fl_Double_Window::hide();
  if (!presenter_) return;
  std::exchange(presenter_, nullptr)->closed();
  Fl::delete_widget(this);
}

CentredInput* PromptWindow::make_answer_box(const layout::Box& box, const std::string& text) {
  answer_box_ = new CentredInput(box.x, box.y, box.w, box.h, layout::kAnswerChars);
  answer_box_->set_local_value(text);
  return answer_box_;
}

Fl_Button* PromptWindow::make_ok_button(const layout::Box& box) {
  auto* button = new Fl_Button(box.x, box.y, box.w, box.h);
  button->copy_label(u8"确定");
  button->shortcut(FL_Enter);
  button->callback(
      [](Fl_Widget*, void* self) {
        auto* window = static_cast<PromptWindow*>(self);
        if (window->presenter_) window->presenter_->ok_clicked();
      },
      this);
  return button;
}

void PromptWindow::show_message(const std::string& text, const std::string& caption) {
  sharelink::show_message(text, caption);
}

ExtractionCodeWindow::ExtractionCodeWindow(AppState& state, std::function<void()> on_closed)
    : PromptWindow(layout::kCodeWidth, kCodeTitle),
      presenter_of_window_(state, *this, std::move(on_closed)) {
  presenter_ = &presenter_of_window_;
  编辑框_提取密码 = make_answer_box(layout::kCodeBox, presenter_of_window_.initial_answer());
  按钮1 = make_ok_button(layout::kCodeOk);
  end();
}

CaptchaWindow::CaptchaWindow(AppState& state, std::function<void()> on_closed)
    : PromptWindow(layout::kCaptchaWidth, kCaptchaTitle),
      presenter_of_window_(state, *this, *this, decode_picture, std::move(on_closed)) {
  presenter_ = &presenter_of_window_;
  const layout::Box picture = layout::kPictureBox;
  图片框_验证码 = new PictureBox(picture.x, picture.y, picture.w, picture.h,
                                 [this] { presenter_of_window_.load_captcha(); });
  编辑框_验证码 = make_answer_box(layout::kCaptchaBox, "");
  按钮1 = make_ok_button(layout::kCaptchaOk);
  end();
}

CaptchaWindow::~CaptchaWindow() {
  Fl::remove_timeout(on_timer, this);
}

void CaptchaWindow::show_picture(Picture picture) {
  图片框_验证码->set_picture(std::move(picture));
}

bool CaptchaWindow::schedule(std::chrono::milliseconds delay) {
  Fl::add_timeout(std::chrono::duration<double>(delay).count(), on_timer, this);
  return true;
}

void CaptchaWindow::on_timer(void* window) {
  static_cast<CaptchaWindow*>(window)->presenter_of_window_.poll();
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
  window->presenter().load_captcha();
}

}  // namespace sharelink
