// The one seam every modal box of the program goes through. The Qt
// implementation shows real boxes, each running a nested event loop so
// socket events and timers keep running while it is open; tests put a
// recording implementation in its place so nothing ever blocks.
#pragma once

#include "install/versioninfo.h"

#include <optional>
#include <string>

class QWidget;

namespace shell {

class Dialogs {
public:
  virtual ~Dialogs() = default;
  // Plain box: the text, OK, no icon, captioned with the application title.
  virtual void Message(QWidget* parent, const std::string& text) = 0;
  // "Error" box with the error icon and OK.
  virtual void Error(QWidget* parent, const std::string& text) = 0;
  // "Confirm" box, question icon, Yes and No; true only for Yes.
  virtual bool Confirm(QWidget* parent, const std::string& text) = 0;
  // Input box with caption, prompt and default; nothing on Cancel.
  virtual std::optional<std::string> Input(QWidget* parent, const std::string& caption,
                                           const std::string& prompt,
                                           const std::string& initial) = 0;
};

class QtDialogs final : public Dialogs {
public:
  void Message(QWidget* parent, const std::string& text) override;
  void Error(QWidget* parent, const std::string& text) override;
  bool Confirm(QWidget* parent, const std::string& text) override;
  std::optional<std::string> Input(QWidget* parent, const std::string& caption,
                                   const std::string& prompt, const std::string& initial) override;
};

using install::kApplicationTitle;
inline constexpr const char* kWindowCaption = "ZORBELIX MPEiX Installer";

}  // namespace shell
