// tests/framework_test.cpp
// The program's own message box and the framework's dispatch, with a bare test form; the
// registry accessor against the test prefix's own registry.
#include <gtest/gtest.h>

#include <tuple>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/forms.h"
#include "framework/registry.h"
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
  // Ctrl+C where the keys go while a box shows, its focused button; the clipboard read after.
  std::wstring copied;
  const Step copyThenEscape = [&copied, typed = false](HWND box) mutable {
    BYTE keys[256] = {};
    keys[VK_CONTROL] = typed ? 0 : 0x80;  // held for the C, let go after
    SetKeyboardState(keys);
    const HWND focus = GetFocus();
    if (GetParent(focus) != box || !OpenClipboard(nullptr)) return false;
    if (!typed) {
      EmptyClipboard(), CloseClipboard();
      return !(typed = PostMessageW(focus, WM_KEYDOWN, L'C', 1));
    }
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) copied = text;
    GlobalUnlock(data), CloseClipboard();
    return Answer(box, Key::Escape);
  };
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
      {fw::mbOK | fw::mbCancel, copyThenEscape, fw::mrCancel, okCancel},
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
  const std::wstring rule = L"---------------------------\r\n";
  EXPECT_EQ(copied, rule + L"Zelvoran\r\n" + rule + L"質問\r\n" + rule + L"OK   キャンセル   \r\n" + rule)
      << "as Windows' own boxes copy themselves";
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

TEST(Registry, TheAccessorReadsOnlyItsOwnTypes) {
  const wchar_t path[] = L"Software\\Borvelune\\ZelvoranTest";
  RegDeleteTreeW(HKEY_CURRENT_USER, path);
  {
    fw::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(path, true));
    const WORD shortDword = 5;
    const std::tuple<const wchar_t*, DWORD, const void*, DWORD> values[] = {
        {L"Short", REG_DWORD, &shortDword, 2}, {L"Multi", REG_MULTI_SZ, L"a\0b\0", 10},
        {L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14}, {L"Odd", REG_SZ, L"abcd", 7}};  // Odd: no terminator
    for (const auto& [name, type, data, bytes] : values)
      ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path, name, type, data, bytes), ERROR_SUCCESS) << name;
    EXPECT_THROW(reg.ReadInteger(L"Short"), fw::ERegistryException);
    EXPECT_THROW(reg.ReadString(L"Multi"), fw::ERegistryException);
    EXPECT_EQ(reg.ReadString(L"Expand"), L"%TEMP%");  // not expanded
    EXPECT_EQ(reg.ReadString(L"Odd"), L"abc");
    EXPECT_EQ(reg.ReadString(L"Missing"), L"");
  }
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Borvelune");  // only when left empty
}
