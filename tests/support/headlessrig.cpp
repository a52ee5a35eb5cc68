#include "headlessrig.h"

namespace support {

HeadlessRig::HeadlessRig(std::map<int, std::string> table, std::int32_t localLineLimit)
    : table_(std::move(table)) {
  session.emplace(*this, [this](QObject* parent) {
    socket = new CaptureSocket(parent);
    return socket;
  });
  run.emplace(*session, op, TableWithOverrides(table_), localLineLimit);
}

HeadlessRig::~HeadlessRig() {
  run.reset();  // before the session it sends through
}

void HeadlessRig::LogOn() {
  Host(host::NegotiationRequest());
  Host(host::ReadRequest(80));
  Host(host::LogonNotice("MANAGER.SYS,PUB"));
  Host(host::TermIo(":", 0xD0));
  Host(host::ReadRequest(80));
}

void HeadlessRig::HostOutput(nsvt::ConstBytes data, std::uint8_t) {
  run->HostOutput(data);
}

void HeadlessRig::ReadRequest() {
  if (run->InProgress()) {
    op.phases.push_back(3);
    run->DialogueStep();
    return;
  }
  op.consoleInput = true;
  op.phases.push_back(2);
}

void HeadlessRig::LogonNotice(std::string_view text) {
  const std::string& required = run->requiredLogon();
  logonAccepted = !required.empty() && text.find(required) != std::string_view::npos;
}

void HeadlessRig::Error(int code, const std::string& text, bool socketFailed) {
  if (socketFailed) {
    run->AbandonRun();
  }
  op.ReportError(code, text);
}

void HeadlessRig::Closed(bool byHost) {
  run->AbandonRun();
  hostClosed = hostClosed || byHost;
}

}  // namespace support
