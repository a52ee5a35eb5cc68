// The host exchanges of the tested script commands: DSTAT, SEND1, SEND2,
// VERSO, VERSU and ECHO. The first state of each runs as soon as its line
// is carried out and sends the command; the next runs at the host's next
// read request and judges everything the host wrote in between (HostText).
// A failed check goes to the line's error line when it names one, else the
// run stops; either way the pending read is answered with an empty line.
#include "install/run.h"

#include "install/version.h"

#include <string>

namespace install {

namespace {

// Version lines of host programs: the module name filled to 8 characters,
// " - ", then the dotted version.
constexpr std::size_t kVersionNameWidth = 8;
constexpr std::string_view kVersionSeparator = " - ";
constexpr std::size_t kVersionOffset = kVersionNameWidth + kVersionSeparator.size();  // 11
constexpr std::size_t kVersionTextLength = 20;

const char kVolumeAnswer[] = "VOLUME";
const char kNoVolumeText[] = "Error checking for volume set names.";
const char kVersionFailText[] = "RC file error";
constexpr int kCodeNoVolume = 4150;

}  // namespace

void Run::StateDstat() {
  ConsoleEcho = true;
  ClearHostText();
  SendCommand("DSTAT ALL");
}

void Run::StateDstatCheck() {
  if (HostTextContains(kVolumeAnswer)) {
    ClearHostText();
    OutcomeContinue();
  } else if (NamesErrorLine(1)) {
    OutcomeErrorLine(1);
    OutcomeContinue();
  } else {
    OutcomeStopWithCode(kCodeNoVolume, kNoVolumeText);
    SendLine("");
  }
}

// SEND1: the answer must contain argument 2.
void Run::StateSend1() {
  ClearHostText();
  SendCommand(Arg(1));
}

void Run::StateSend1Check() {
  if (HostTextContains(Arg(2))) {
    NoteCommandAnswered();
    OutcomeContinue();
    return;
  }
  if (NamesErrorLine(3)) {
    OutcomeErrorLine(3);  // through the resume step
  } else {
    OutcomeStop(CommandErrorText);
  }
  ClearHostText();
  SendLine("");
}

// SEND2: the answer must not contain argument 2.
void Run::StateSend2() {
  ClearHostText();
  SendCommand(Arg(1));
}

void Run::StateSend2Check() {
  if (!HostTextContains(Arg(2))) {
    NoteCommandAnswered();
    OutcomeContinue();
    return;
  }
  if (NamesErrorLine(3)) {
    // The jump takes effect at once, not after the rest of a script file.
    if (ScriptFile.is_open()) {
      ScriptFile.close();
      ScriptFile.clear();
    }
    OutcomeErrorLine(3);  // through the resume step
  } else {
    OutcomeStop(CommandErrorText);
  }
  ClearHostText();
  SendLine("");
}

// VERSO: VERSION's output is judged, not shown.
void Run::StateVerso() {
  ClearHostText();
  SendCommand("VERSION " + Arg(1));
  ConsoleEcho = false;
}

void Run::StateVersoCheck() {
  VersionCheck(VersionForm::O);
}

void Run::StateVersu() {
  ClearHostText();
  SendCommand("VERSION " + Arg(1));
}

void Run::StateVersuCheck() {
  VersionCheck(VersionForm::U);
}

// ECHO: the answer is not judged.
void Run::StateEcho() {
  ConsoleEcho = true;
  ClearHostText();
  SendCommand("ECHO " + Arg(1));
}

// Form O passes when the host's version is at most argument 3, form U when
// it is at least argument 3.
void Run::VersionCheck(VersionForm form) {
  const std::string& name = Arg(2);
  std::string key;
  if (form == VersionForm::O) {
    key = (name + std::string(kVersionNameWidth - 1, ' ')).substr(0, kVersionNameWidth);
  } else {
    key = name;
  }
  key += kVersionSeparator;

  const std::size_t at = HostText.find(key);
  if (at == std::string::npos) {
    if (NamesErrorLine(4)) {
      OutcomeErrorLine(4);
    } else {
      OutcomeStop(CommandErrorText);
    }
    ClearHostText();
    ConsoleEcho = true;
    SendLine("");
    return;
  }

  // In form U the version is read at the same place as in form O, which is
  // right after the key only for 8-character names.
  const std::size_t from = at + kVersionOffset;
  const std::string hostVersion =
      from < HostText.size() ? HostText.substr(from, kVersionTextLength) : std::string();
  const std::int32_t hostValue = ParseVersion(hostVersion);
  const std::int32_t wanted = ParseVersion(Arg(3));
  const bool failed = form == VersionForm::O ? hostValue > wanted : hostValue < wanted;
  if (!failed) {
    OutcomeContinue();
    return;
  }
  if (NamesErrorLine(5)) {
    OutcomeErrorLine(5);
  } else {
    OutcomeStop(kVersionFailText);
  }
  ClearHostText();
  ConsoleEcho = true;
  SendLine("");
}

}  // namespace install
