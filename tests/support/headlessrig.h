// A session and a run wired as a front end wires them, with no window: the
// test plays the host through a capture socket, a recording operator
// stands for the person. Read requests go to the run while it is in
// progress and to the console otherwise, as the window routes them.
#pragma once

#include "runtest.h"
#include "sessiontest.h"

#include "install/run.h"
#include "nsvt/session.h"

#include <map>
#include <optional>
#include <string>

namespace support {

class HeadlessRig final : public nsvt::SessionListener {
public:
  explicit HeadlessRig(std::map<int, std::string> table = {},
                       std::int32_t localLineLimit = install::Run::kLocalLineLimit);
  ~HeadlessRig() override;

  RecordingOperator op;
  CaptureSocket* socket = nullptr;
  // Held in place rather than on the heap: the session's buffers are large
  // enough that the allocator would map fresh pages for every rig, and the
  // fuzz target makes one per input.
  std::optional<nsvt::Session> session;
  std::optional<install::Run> run;
  bool logonAccepted = false;
  bool hostClosed = false;  // the host ended the session (the program would end)

  void Connect() { session->Open(QStringLiteral("127.0.0.1"), 1570); }
  void Host(const Bytes& bytes) { socket->Inject(bytes); }
  // Negotiation, the first read, the logon notice and a read of 80.
  void LogOn();
  void Begin() { run->Begin({}, {}); }

  void Connected() override {}
  void Received() override {}
  void HostOutput(nsvt::ConstBytes data, std::uint8_t outputControl) override;
  void ReadRequest() override;
  void LogonNotice(std::string_view text) override;
  void InputStopped() override { op.consoleInput = false; }
  void Error(int code, const std::string& text, bool socketFailed) override;
  void Closed(bool byHost) override;

private:
  std::map<int, std::string> table_;
};

}  // namespace support
