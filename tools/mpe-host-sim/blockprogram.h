// The receiving host program (RUN ZORBELIX.PUB.SYS): the host side of the
// block transfer.
//
// Dialogue: "Host Program: Build" and a read; after "Y", the challenge bytes
// and a read for their echo; "YGA" and a read of 1032 for the descriptor
// block; for a binary transfer a read of 1032 for the header block; a read of
// 1 answered with "1"; then, per data block, the ready text (seventh byte
// 0x01) and a read of 1032, until the block with count 0. Every block is
// checked; a bad one ends the program with an error text and stores nothing.
#pragma once

#include <optional>

#include "hostterminal.h"
#include "mpesession.h"
#include "transferblock.h"

namespace mpe {

class BlockProgram : public Program {
public:
  BlockProgram(HostTerminal& terminal, HostStore& store, SessionState& session,
               const HostConfig& config);
  void start() override;
  bool input(const QByteArray& data) override;

  static constexpr int kAnswerReadLength = 80;
  static constexpr int kBlockReadLength = xfer::kBlockSize;
  static constexpr int kConfirmReadLength = 1;
  static constexpr int kDefaultTextRecordSize = 80;

private:
  enum class Step { Build, Challenge, Descriptor, Header, Confirm, Data };

  bool build(const QByteArray& answer);
  bool challenge(const QByteArray& echo);
  bool descriptor(const QByteArray& bytes);
  bool header(const QByteArray& bytes);
  bool confirm(const QByteArray& answer);
  bool data(const QByteArray& bytes);
  bool finish();
  bool fail(const QString& reason);
  std::optional<xfer::Block> takeBlock(const QByteArray& bytes, uint16_t sequence, int count);
  void askForBlock();

  HostTerminal& terminal_;
  HostStore& store_;
  SessionState& session_;
  int challengeLength_;
  Step step_ = Step::Build;
  QByteArray challengeBytes_;
  xfer::Descriptor descriptor_;
  FileRef target_;
  int recordSize_ = 0;
  qint64 recordLimit_ = 0;
  uint16_t nextSequence_ = 1;
  QByteArray received_;
  QString lastProblem_;
};

}  // namespace mpe
