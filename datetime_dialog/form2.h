// datetime_dialog/form2.h
// The dialog that fixes the instant batches write: a date from a calendar and an hour, minute
// and second typed, spun, or copied from a dropped file.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "framework/forms.h"
#include "rtl/datetime.h"

namespace zel {

class TForm1;

extern const wchar_t kDialogCaption[];
extern const wchar_t kOneFileOnly[];     // more than one path dropped
extern const wchar_t kNoFolders[];       // a folder dropped
extern const wchar_t kAskToCopyDate[];   // the question before a dropped file's time is taken
extern const wchar_t kDateCopied[];      // follows the copied instant in the last message

class TForm2 : public fw::TForm {
 public:
  // Created hidden over its owner; the owner's mode button centres and shows it.
  explicit TForm2(TForm1& owner);

  fw::TLabel Label4;
  fw::TLabel Label5;
  fw::TLabel Label6;
  fw::TEdit Edit4;
  fw::TEdit Edit5;
  fw::TEdit edit6;
  fw::TUpDown UpDown4;
  fw::TUpDown UpDown5;
  fw::TUpDown UpDown6;
  fw::TButton Button1;
  fw::TDateTimePicker DateTimePicker1;
  fw::TButton Button2;

  // Event handlers.
  void UpDown4Click();
  void UpDown5Click();
  void UpDown6Click();
  void Edit4Change();
  void Edit5Change();
  void edit6Change();
  void Button1Click();
  void Button2Click();
  void WMDropFiles(HDROP drop);

 protected:
  void FormCreate() override;
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void ShowTime(rtl::TDateTime time);
  TForm1& main_;
};

}  // namespace zel
