#include "updater/update_procedure.h"

#include "cport/comport.h"
#include "framework/text.h"
#include "updater/update_error.h"

namespace dov {

TUpdateProcedure::TUpdateProcedure(cport::TCustomComPort& port, TSeams seams,
                                   TImage image)
    : port_(port), seams_(seams), image_(image) {}

void TUpdateProcedure::Run() {
  if (running_) return;
  running_ = true;
  struct Done {
    bool& running;
    ~Done() { running = false; }
  } done{running_};
  Steps();
}

void TUpdateProcedure::Steps() {
  port_.Close();
  PumpDelay(50);
  seams_.Tool.Start(kDisableDevice);
  PumpDelay(50);
  seams_.Tool.Start(kEnableDevice);
  PumpDelay(100);
  port_.SetPort(u"COM" + fw::IntToStr(PortNumber));
  port_.Open();

  TProgressBarControl& bar = seams_.ProgressBar;
  bar.SetRange(0, static_cast<int>(kFirmwareImageSize));
  bar.SetPosition(0);
  bar.SetStep(1);
  bar.SetVisible(true);

  BlockLen = 1;
  const std::u16string command = kBootCommand;
  CheckWritten(port_.WriteStr(command),
               static_cast<std::int32_t>(command.size()));
  PumpDelay(200);

  for (const std::uint8_t byte : image_) {
    BlockBuf[BlockLen - 1] = byte;
    ++BlockLen;
    bar.StepIt();
    bar.Repaint();
    if (BlockLen > kBlockSize) {
      SendBlock();
      BlockLen = 1;
    }
  }
  PumpDelay(5);
  bar.SetVisible(false);
}

void TUpdateProcedure::SendBlock() {
  for (std::size_t offset = 0; offset < kBlockSize; offset += kChunkSize) {
    PumpDelay(1);
    CheckWritten(port_.Write(BlockBuf.data() + offset, kChunkSize), kChunkSize);
  }
  PumpDelay(10);
}

void TUpdateProcedure::PumpDelay(std::int32_t Count) {
  dov::PumpDelay(Count, seams_.Ticks, seams_.Idle);
}

void TUpdateProcedure::CheckWritten(std::int32_t written,
                                    std::int32_t requested) {
  if (written != requested) throw EShortWrite(written, requested);
}

}  // namespace dov
