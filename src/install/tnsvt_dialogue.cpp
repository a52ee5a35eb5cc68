// The host exchanges of the tested script commands: DSTAT, SEND1, SEND2,
// VERSO, VERSU and ECHO. The first state of each runs as soon as its line
// is carried out and sends the command; the next runs at the host's next
// read request and judges everything the host wrote in between (HostText).
// A failed check goes to the line's error line when it names one, else the
// run stops; either way the pending read is answered with an empty line.
#include "../shell/TNSVT.h"

#include "version.h"

#include <string>

namespace {

// Version lines of host programs: the module name filled to 8 characters,
// " - ", then the dotted version.
constexpr std::size_t kVersionNameWidth = 8;
constexpr std::string_view kVersionSeparator = " - ";
constexpr std::size_t kVersionOffset = kVersionNameWidth + kVersionSeparator.size();  // 11
constexpr std::size_t kVersionTextLength = 20;

const char kNoVolumeText[] = "Error checking for volume set names.";
const char kVersionFailText[] = "RC file error";
constexpr int kCodeNoVolume = 4150;

enum class VersionForm { O, U };

// States 112 and 122. Form O passes when the host's version is at most
// argument 3, form U when it is at least argument 3.
void VersionCheck(TNSVT& w, VersionForm form) {
  const std::string& name = w.LineFields[2].Text;
  std::string key;
  if (form == VersionForm::O) {
    key = (name + std::string(kVersionNameWidth - 1, ' ')).substr(0, kVersionNameWidth);
  } else {
    key = name;
  }
  key += kVersionSeparator;

  const std::size_t at = w.HostText.find(key);
  if (at == std::string::npos) {
    if (w.NamesErrorLine(4)) {
      w.OutcomeErrorLine(4);
    } else {
      w.OutcomeStop(w.CommandErrorText);
    }
    w.ClearHostText(false);
    w.ConsoleEcho = true;
    w.SendLine("");
    return;
  }

  // In form U the version is read at the same place as in form O, which is
  // right after the key only for 8-character names.
  const std::size_t from = at + kVersionOffset;
  const std::string hostVersion =
      from < w.HostText.size() ? w.HostText.substr(from, kVersionTextLength) : std::string();
  const std::int32_t host = install::ParseVersion(hostVersion);
  const std::int32_t wanted = install::ParseVersion(w.LineFields[3].Text);
  const bool failed = form == VersionForm::O ? host > wanted : host < wanted;
  if (!failed) {
    w.OutcomeContinue();
    return;
  }
  if (w.NamesErrorLine(5)) {
    w.OutcomeErrorLine(5);
  } else {
    w.OutcomeStop(kVersionFailText);
  }
  w.ClearHostText(false);
  w.ConsoleEcho = true;
  w.SendLine("");
}

}  // namespace

bool TNSVT::RunDialogueState(std::int32_t state) {
  const std::string& arg1 = LineFields[1].Text;
  switch (state) {
    case 3:  // DSTAT
      ConsoleEcho = true;
      ClearHostText(false);
      SendCommand("DSTAT ALL");
      return true;
    case 4:
      if (HostTextContains("VOLUME")) {
        ClearHostText(false);
        OutcomeContinue();
      } else if (NamesErrorLine(1)) {
        OutcomeErrorLine(1);
        OutcomeContinue();
      } else {
        OutcomeStopWithCode(kCodeNoVolume, kNoVolumeText);
        SendLine("");
      }
      return true;

    case 51:  // SEND1: the answer must contain argument 2
      ClearHostText(false);
      SendCommand(arg1);
      return true;
    case 52:
      if (HostTextContains(LineFields[2].Text)) {
        OutcomeContinue();
        return true;
      }
      if (NamesErrorLine(3)) {
        OutcomeErrorLine(3);  // through the resume step 53
      } else {
        OutcomeStop(CommandErrorText);
      }
      ClearHostText(false);
      SendLine("");
      return true;

    case 61:  // SEND2: the answer must not contain argument 2
      ClearHostText(false);
      SendCommand(arg1);
      return true;
    case 62:
      if (!HostTextContains(LineFields[2].Text)) {
        OutcomeContinue();
        return true;
      }
      if (NamesErrorLine(3)) {
        // The jump takes effect at once, not after the rest of a script file.
        if (ScriptFile.is_open()) {
          ScriptFile.close();
          ScriptFile.clear();
        }
        OutcomeErrorLine(3);  // through the resume step 63
      } else {
        OutcomeStop(CommandErrorText);
      }
      ClearHostText(false);
      SendLine("");
      return true;

    case 111:  // VERSO: VERSION's output is judged, not shown
      ClearHostText(false);
      SendCommand("VERSION " + arg1);
      ConsoleEcho = false;
      return true;
    case 112:
      VersionCheck(*this, VersionForm::O);
      return true;

    case 121:  // VERSU
      ClearHostText(false);
      SendCommand("VERSION " + arg1);
      return true;
    case 122:
      VersionCheck(*this, VersionForm::U);
      return true;

    case 181:  // ECHO: the answer is not judged
      ConsoleEcho = true;
      ClearHostText(false);
      SendCommand("ECHO " + arg1);
      return true;

    case 53:
    case 63:
    case 113:
    case 123:
    case 182:
      OutcomeContinue();  // resume step
      return true;

    default:
      return false;
  }
}
