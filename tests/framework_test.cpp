// tests/framework_test.cpp
// The program's own message box and the framework's dispatch, with a bare test form.
#include <gtest/gtest.h>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "rtl/exceptions.h"
#include "support/gui.h"

using namespace testgui;

namespace {

class TestForm : public fw::TForm {
 public:
  TestForm()
      : fw::TForm({L"テスト", 300, 120, 150, 130, true}, nullptr),
        Button(*this, 10, 10, 75, 25, L"ボタン") {
    Created();
    Show();
  }
  fw::TButton Button;
};

const Step kNoThenEnter = [](HWND box) {
  SendMessageW(box, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(box, IDNO)), TRUE);
  Answer(box, Key::Enter);
  return true;
};

}  // namespace

// Each box is captioned with the program's title and sits at its owner's corner plus 10 pixels.
TEST(MessageDialog, KeysTitleBarCloseAndTheFocusedButtonGiveTheDocumentedAnswers) {
  TestForm form;
  const std::vector<std::wstring> ok{L"OK"}, okCancel{L"OK", L"キャンセル"},
      yesNo{L"はい(&Y)", L"いいえ(&N)"};
  const struct {
    unsigned buttons;
    Step step;
    fw::TModalResult expected;
    std::vector<std::wstring> captions;
  } cases[] = {
      {fw::mbOK, Press(Key::Escape), fw::mrOk, ok},
      {fw::mbOK, Press(Key::TitleBarClose), fw::mrOk, ok},
      {fw::mbOK | fw::mbCancel, Press(Key::Enter), fw::mrOk, okCancel},
      {fw::mbOK | fw::mbCancel, Press(Key::Escape), fw::mrCancel, okCancel},
      {fw::mbYes | fw::mbNo, Press(Key::Enter), fw::mrYes, yesNo},
      // Dismissing a question must never carry it out.
      {fw::mbYes | fw::mbNo, Press(Key::TitleBarClose), fw::mrNo, yesNo},
      {fw::mbYes | fw::mbNo, kNoThenEnter, fw::mrNo, yesNo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    ModalDriver driver({c.step});
    EXPECT_EQ(fw::MessageDlgAt(form, L"質問", c.buttons), c.expected);
    ASSERT_EQ(driver.seen.size(), 1u);
    const SeenBox& box = driver.seen[0];
    EXPECT_EQ(box.buttons, c.captions);
    EXPECT_EQ(box.caption + L"|" + box.text, L"Zelvoran|質問");
    EXPECT_TRUE(box.owner == form.Handle() && box.rect.left == form.Left() + 10 &&
                box.rect.top == form.Top() + 10);
  }
}

TEST(MessageDialog, CtrlCCopiesTheWholeTextAsWindowsOwnBoxesDo) {
  TestForm form;
  const std::wstring path = L"C:\\" + std::wstring(300, L'長') + L"\\file.txt";
  BYTE keys[256] = {};
  keys[VK_CONTROL] = 0x80;  // held while the box shows
  SetKeyboardState(keys);
  bool typed = false;
  std::wstring copied;
  ModalDriver driver({[&](HWND box) {
    if (!typed) return !(typed = PostMessageW(GetFocus(), WM_KEYDOWN, L'C', 1));
    if (OpenClipboard(nullptr)) {
      const HANDLE data = GetClipboardData(CF_UNICODETEXT);
      if (auto* text = static_cast<const wchar_t*>(GlobalLock(data))) copied = text;
      GlobalUnlock(data), CloseClipboard();
    }
    Answer(box, Key::Escape);
    return true;
  }});
  fw::MessageDlgAt(form, L"変更できなかったもの：1件\n" + path, fw::mbOK | fw::mbCancel);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  const std::wstring rule = L"---------------------------\r\n";
  EXPECT_EQ(copied, rule + L"Zelvoran\r\n" + rule + L"変更できなかったもの：1件\r\n" + path +
                        L"\r\n" + rule + L"OK   キャンセル   \r\n" + rule);
}

TEST(Dispatch, AnExceptionFromAHandlerOrATimerTickIsShownAndTheWindowGoesOn) {
  TestForm form;
  fw::TTimer timer(form, 20, false);
  form.Button.OnClick = [] { throw rtl::EConvertError(L"'abc' は正しい整数値ではありません"); };
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    throw std::runtime_error("tick failed");
  };
  ModalDriver driver(std::vector<Step>(3, Press(Key::Enter)));
  SendMessageW(form.Button.Handle(), BM_CLICK, 0, 0);
  SendMessageW(form.Button.Handle(), BM_CLICK, 0, 0);  // the window still works
  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return driver.seen.size() == 3; }));
  const std::wstring abc = L"'abc' は正しい整数値ではありません";
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(driver.seen[i].caption + L"|" + driver.seen[i].text,
              L"Zelvoran|" + (i < 2 ? abc : L"tick failed"));
}
