// The Begin button: checks the installation group and account against the
// configured defaults, stores them as %0 and %1, opens the trace when asked,
// and starts (or continues) the install script. Also the input filter of the
// group and account fields.
#include "TNSVT.h"
#include "text.h"

#include "dialogs.h"
#include "namefilter.h"
#include "versioninfo.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <string>

namespace {

constexpr int kIdDefaultGroup = 1071;
const char kTraceFileName[] = "TRACEFIL";
const char kTraceTitle[] = "PELTRIMAX TRACE: ";
const char kAlteredDefaults[] =
    "You have chosen to alter the default installation group and or account for this "
    "product. This may result in support delays. \r\n\r\n"
    "Do you wish to continue the installation using these values?";

std::string FieldText(const QLineEdit* field) {
  return field->text().toLatin1().toStdString();
}

// The first command-line argument asks for a trace when it holds a T in
// either case.
bool TraceArgument(const QStringList& arguments) {
  if (arguments.isEmpty()) {
    return false;
  }
  const std::string first = UpperAscii(arguments.first().toLatin1().toStdString());
  return first.find('T') != std::string::npos;
}

void FilterField(QLineEdit* field) {
  const int caret = field->cursorPosition();
  const QString filtered = Latin1(shell::FilterInstallName(FieldText(field)));
  if (filtered != field->text()) {
    field->setText(filtered);  // runs the filter again, which changes nothing now
  }
  field->setCursorPosition(std::min(caret, static_cast<int>(filtered.size())));
}

}  // namespace

void TNSVT::btnProcessClick() {
  const bool ctrlHeld = keyboardModifiers().testFlag(Qt::ControlModifier);

  const std::string group = TableString(kIdDefaultGroup);
  if (!group.empty() && group != " ") {
    if (FieldText(DefaultGroup) != group ||
        FieldText(DefaultAccount) != ScriptVars[install::kDefaultAccountVar]) {
      if (!dialogs().Confirm(this, kAlteredDefaults)) {
        // Back to what the row showed at start: the entries as looked up
        // now can differ from it (a blank account shows VORDANEX), and
        // would leave a locked field that can never match again.
        DefaultAccount->setText(StartAccountText);
        DefaultGroup->setText(StartGroupText);
        DefaultGroup->setFocus();
        DefaultGroup->selectAll();
        return;
      }
    }
  }

  ScriptVars[0] = UpperAscii(FieldText(DefaultGroup));
  ScriptVars[1] = UpperAscii(FieldText(DefaultAccount));

  // Once open, the trace goes on in the same file: a later Begin that asks
  // for it again neither starts it afresh nor repeats the header.
  if ((ctrlHeld || TraceArgument(arguments())) && !TraceOn) {
    OpenTrace();
  }

  lblStatus->clear();
  if (RestartScript) {
    // Starting over means the script's first line, not the rest of a script
    // file an earlier run stopped in.
    ScriptLineNo = 1;
    if (ScriptFile.is_open()) {
      ScriptFile.close();
    }
    ScriptFile.clear();
  }
  LocalLinesRun = 0;
  LastCommand.clear();
  NextScriptLine();
}

void TNSVT::OpenTrace() {
  TraceOn = true;
  trace.Open(kTraceFileName);  // a file that cannot be made is ignored
  TraceLine(kTraceTitle + VersionText());
  TraceLine(kApplicationTitle);
}

void TNSVT::DefaultGroupChange() {
  FilterField(DefaultGroup);
}

void TNSVT::DefaultAccountChange() {
  FilterField(DefaultAccount);
}
