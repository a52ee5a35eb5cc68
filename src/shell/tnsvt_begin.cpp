// The Begin button: checks the installation group and account against the
// configured defaults, stores them as %0 and %1, opens the trace when asked,
// and starts (or continues) the install script. Also the input filter of the
// group and account fields.
#include "shell/TNSVT.h"

#include "install/asciitext.h"
#include "install/installtarget.h"
#include "install/namefilter.h"
#include "install/traceheader.h"
#include "shell/dialogs.h"
#include "shell/text.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <string>

namespace shell {

namespace {

const char kTraceFileName[] = "TRACEFIL";

std::string FieldText(const QLineEdit* field) {
  return field->text().toLatin1().toStdString();
}

// The first command-line argument asks for a trace when it holds a T in
// either case.
bool TraceArgument(const QStringList& arguments) {
  if (arguments.isEmpty()) {
    return false;
  }
  const std::string first = install::UpperAscii(arguments.first().toLatin1().toStdString());
  return first.find('T') != std::string::npos;
}

void FilterField(QLineEdit* field) {
  const int caret = field->cursorPosition();
  const QString filtered = Latin1(install::FilterInstallName(FieldText(field)));
  if (filtered != field->text()) {
    field->setText(filtered);  // runs the filter again, which changes nothing now
  }
  field->setCursorPosition(std::min(caret, static_cast<int>(filtered.size())));
}

}  // namespace

void TNSVT::btnProcessClick() {
  // A second press (a double click, or a key typed ahead) before the host
  // has asked for input again would start the script a second time over
  // the running one.
  if (run_.InProgress()) {
    return;
  }
  const bool ctrlHeld = CurrentModifiers().testFlag(Qt::ControlModifier);

  // The group setting is looked up again at each press.
  if (install::NeedsConfirmation(TableString(install::kIdDefaultGroup),
                                 run_.scriptVars()[install::kDefaultAccountVar],
                                 FieldText(ui_.DefaultGroup), FieldText(ui_.DefaultAccount)) &&
      !dialogs_.Confirm(this, install::kAlteredDefaults)) {
    // Back to what the row showed at start: the entries as looked up now
    // can differ from it (a blank account shows VORDANEX), and would leave
    // a locked field that can never match again.
    ui_.DefaultAccount->setText(startAccountText_);
    ui_.DefaultGroup->setText(startGroupText_);
    ui_.DefaultGroup->setFocus();
    ui_.DefaultGroup->selectAll();
    return;
  }

  // Once open, the trace goes on in the same file: a later Begin that asks
  // for it again neither starts it afresh nor repeats the header.
  if ((ctrlHeld || TraceArgument(platform_.arguments)) && !session_.TraceOn()) {
    session_.OpenTrace(kTraceFileName);  // a file that cannot be made is ignored
    install::WriteTraceHeader(session_);
  }

  SetStatus(QString());
  run_.Begin(install::UpperAscii(FieldText(ui_.DefaultGroup)),
             install::UpperAscii(FieldText(ui_.DefaultAccount)));
}

void TNSVT::DefaultGroupChange() {
  FilterField(ui_.DefaultGroup);
}

void TNSVT::DefaultAccountChange() {
  FilterField(ui_.DefaultAccount);
}

}  // namespace shell
