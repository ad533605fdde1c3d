// tests/framework_test.cpp
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
        Button(*this, 10, 10, 75, 25, L"ボタン"),
        Edit(*this, 10, 50, 100, 20, L"") {
    Created();
    Show();
  }
  fw::TButton Button;
  fw::TEdit Edit;
};

}  // namespace

TEST(MessageDialog, SitsAtOwnerOffsetWithTitleTextAndNoIcon) {
  TestForm form;
  ModalDriver driver({Press(Key::Enter)});
  fw::TModalResult r = fw::MessageDlgAt(form, L"日付を変更しました", fw::mbOK);
  ASSERT_EQ(driver.seen.size(), 1u);
  const SeenBox& box = driver.seen[0];
  EXPECT_EQ(r, fw::mrOk);
  EXPECT_EQ(box.caption, L"Zelvoran");
  EXPECT_EQ(box.text, L"日付を変更しました");
  EXPECT_EQ(box.rect.left, form.Left() + 10);
  EXPECT_EQ(box.rect.top, form.Top() + 10);
  EXPECT_FALSE(box.hasIcon);
  EXPECT_EQ(box.owner, form.Handle());
  // Sized to the text: a long text gives a wider box.
  ModalDriver driver2({Press(Key::Enter)});
  fw::MessageDlgAt(form, std::wstring(60, L'あ'), fw::mbOK);
  ASSERT_EQ(driver2.seen.size(), 1u);
  EXPECT_GT(driver2.seen[0].rect.right - driver2.seen[0].rect.left,
            box.rect.right - box.rect.left);
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

TEST(MessageDialog, KeysAndTitleBarCloseGiveTheDocumentedAnswers) {
  TestForm form;
  const struct {
    unsigned buttons;
    Key key;
    fw::TModalResult expected;
    std::vector<std::wstring> captions;
  } cases[] = {
      {fw::mbOK, Key::Enter, fw::mrOk, {L"OK"}},
      {fw::mbOK, Key::Escape, fw::mrOk, {L"OK"}},
      {fw::mbOK, Key::TitleBarClose, fw::mrOk, {L"OK"}},
      {fw::mbOK | fw::mbCancel, Key::Enter, fw::mrOk, {L"OK", L"キャンセル"}},
      {fw::mbOK | fw::mbCancel, Key::Escape, fw::mrCancel, {L"OK", L"キャンセル"}},
      {fw::mbOK | fw::mbCancel, Key::TitleBarClose, fw::mrCancel, {L"OK", L"キャンセル"}},
      {fw::mbYes | fw::mbNo, Key::Enter, fw::mrYes, {L"はい(&Y)", L"いいえ(&N)"}},
      {fw::mbYes | fw::mbNo, Key::Escape, fw::mrNo, {L"はい(&Y)", L"いいえ(&N)"}},
      // Dismissing a question must never carry it out.
      {fw::mbYes | fw::mbNo, Key::TitleBarClose, fw::mrNo, {L"はい(&Y)", L"いいえ(&N)"}},
  };
  for (const auto& c : cases) {
    ModalDriver driver({Press(c.key)});
    fw::TModalResult r = fw::MessageDlgAt(form, L"質問", c.buttons);
    EXPECT_EQ(r, c.expected) << "buttons " << c.buttons << " key " << static_cast<int>(c.key);
    ASSERT_EQ(driver.seen.size(), 1u);
    EXPECT_EQ(driver.seen[0].buttons, c.captions);
  }
}

TEST(MessageDialog, EnterPressesTheButtonThatHasTheFocus) {
  TestForm form;
  // Move the focus to "No" with Tab, then Enter.
  ModalDriver driver({[](HWND box) {
    HWND no = GetDlgItem(box, IDNO);
    SendMessageW(box, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(no), TRUE);
    Answer(box, Key::Enter);
    return true;
  }});
  EXPECT_EQ(fw::MessageDlgAt(form, L"実行しますか？", fw::mbYes | fw::mbNo), fw::mrNo);
}

TEST(Dispatch, ExceptionFromAHandlerIsShownAndTheProgramGoesOn) {
  TestForm form;
  int clicks = 0;
  form.Button.OnClick = [&] {
    ++clicks;
    throw rtl::EConvertError(L"'abc' は正しい整数値ではありません");
  };
  ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
  SendMessageW(form.Button.Handle(), BM_CLICK, 0, 0);
  // The window still works: a second event is handled the same way.
  SendMessageW(form.Button.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(driver.seen.size(), 2u);
  EXPECT_EQ(driver.seen[1].text, L"'abc' は正しい整数値ではありません");
  EXPECT_EQ(driver.seen[1].caption, L"Zelvoran");
}

TEST(Dispatch, ExceptionFromATimerTickIsShown) {
  TestForm form;
  fw::TTimer timer(form, 20, true);
  int ticks = 0;
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    ++ticks;
    throw std::runtime_error("tick failed");
  };
  ModalDriver driver({Press(Key::Enter)});
  PumpUntil([&] { return !driver.seen.empty(); });
  EXPECT_EQ(ticks, 1);
  ASSERT_EQ(driver.seen.size(), 1u);
  EXPECT_EQ(driver.seen[0].text, L"tick failed");
}
