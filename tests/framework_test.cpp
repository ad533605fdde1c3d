// tests/framework_test.cpp
// The program's own message box, with a bare test form.
#include <gtest/gtest.h>

#include "framework/dialogs.h"
#include "framework/forms.h"
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
  // Ctrl+C where the keys go while a box shows, its focused button; the clipboard read after.
  std::wstring copied;
  const struct {
    unsigned buttons;
    Step step;
    fw::TModalResult expected;
    std::vector<std::wstring> captions;
  } cases[] = {
      {fw::mbOK, Press(Key::Escape), fw::mrOk, ok},
      {fw::mbOK | fw::mbCancel, CopyThen(copied, Key::Escape), fw::mrCancel, okCancel},
      {fw::mbYes | fw::mbNo, Press(Key::Enter), fw::mrYes, yesNo},
      // Dismissing a question must never carry it out.
      {fw::mbYes | fw::mbNo, Press(Key::TitleBarClose), fw::mrNo, yesNo},
      {fw::mbYes | fw::mbNo, kNoThenEnter, fw::mrNo, yesNo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    ModalDriver driver({c.step});
    EXPECT_EQ(fw::MessageDlgAt(form, L"質問", c.buttons, [] { return L"続き\r\n"; }), c.expected);
    ASSERT_EQ(driver.seen.size(), 1u);
    const SeenBox& box = driver.seen[0];
    EXPECT_EQ(box.buttons, c.captions);
    EXPECT_EQ(box.caption + L"|" + box.text, L"Zelvoran|質問");
    EXPECT_TRUE(box.owner == form.Handle() && box.rect.left == form.Left() + 10 &&
                box.rect.top == form.Top() + 10);
  }
  const std::wstring rule = L"---------------------------\r\n";
  EXPECT_EQ(copied, rule + L"Zelvoran\r\n" + rule + L"質問\r\n" + rule + L"OK   キャンセル   \r\n" + rule +
                        L"続き\r\n") << "as Windows' own boxes copy themselves, then what the caller adds";
}

// More lines than the screen holds: the box stays within the work area and its last line says
// there is more.
TEST(MessageDialog, ATallTextIsCutWithAnEllipsisToFitTheScreen) {
  TestForm form;
  std::wstring text;
  for (int i = 0; i < 200; ++i) text += L"行 " + std::to_wstring(i) + L"\r\n";
  ModalDriver driver({Press(Key::Enter)});
  fw::MessageDlgAt(form, text, fw::mbOK);
  ASSERT_EQ(driver.seen.size(), 1u);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const SeenBox& box = driver.seen[0];
  EXPECT_LE(box.rect.bottom - box.rect.top, work.bottom - work.top);
  EXPECT_EQ(box.text.substr(box.text.rfind(L'\n') + 1), L"…");
}
