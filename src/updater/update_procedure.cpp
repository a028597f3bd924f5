#include "updater/update_procedure.h"

#include "cport/comport.h"
#include "cport/fw/text.h"
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
  try {
    Steps();
  } catch (...) {
    if (seams_.Trace != nullptr) seams_.Trace->Error(std::current_exception());
    throw;
  }
}

void TUpdateProcedure::Steps() {
  Note("update: closing the port");
  port_.Close();
  PumpDelay(50);
  StartTool(kDisableDevice);
  PumpDelay(50);
  StartTool(kEnableDevice);
  PumpDelay(100);
  port_.SetPort(u"COM" + cport::fw::IntToStr(PortNumber));
  Note("update: opening the port");
  port_.Open();
  if (seams_.Trace != nullptr) seams_.Trace->PortOpened(port_);

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
  Note("update: done");
}

void TUpdateProcedure::SendBlock() {
  for (std::size_t offset = 0; offset < kBlockSize; offset += kChunkSize) {
    PumpDelay(1);
    CheckWritten(port_.Write(BlockBuf.data() + offset, kChunkSize), kChunkSize);
  }
  PumpDelay(10);
}

void TUpdateProcedure::PumpDelay(std::int32_t Count) {
  if (seams_.Trace == nullptr) {
    dov::PumpDelay(Count, seams_.Ticks, seams_.Idle);
    return;
  }
  // Timed on the counter that paces it.
  const std::uint32_t start = seams_.Ticks.Ticks();
  dov::PumpDelay(Count, seams_.Ticks, seams_.Idle);
  const std::uint32_t ticks = seams_.Ticks.Ticks() - start;
  seams_.Trace->Pause(
      Count, static_cast<double>(ticks) / seams_.Ticks.TicksPerMillisecond());
}

void TUpdateProcedure::CheckWritten(std::int32_t written,
                                    std::int32_t requested) {
  if (seams_.Trace != nullptr) seams_.Trace->Write(written, requested);
  if (written != requested) throw EShortWrite(written, requested);
}

void TUpdateProcedure::StartTool(const std::u16string& parameters) {
  seams_.Tool.Start(parameters);
  if (seams_.Trace != nullptr) {
    seams_.Trace->Note("device console: " + cport::fw::ToUtf8(parameters));
  }
}

void TUpdateProcedure::Note(const char* text) {
  if (seams_.Trace != nullptr) seams_.Trace->Note(text);
}

}  // namespace dov
