// Opens a serial port at 115200 baud, 8 data bits, no parity, one stop bit,
// writes a line, reads one line back (2 s at most) and prints it. A failure
// arrives as cport::EComPort with the error's code and the system's number.
//   port_line COM3 [TEXT]
#include <cport/comport.h>
#include <cport/fw/headless_application.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: port_line PORT [TEXT]\n");
    return 2;
  }
  const std::string name = argv[1];
  const std::string line = std::string(argc > 2 ? argv[2] : "hello") + "\r\n";

  cport::fw::HeadlessApplication application;
  cport::TComPort port(nullptr);
  port.SetPort(std::u16string(name.begin(), name.end()));
  port.SetBaudRate(cport::br115200);
  port.SetDataBits(cport::dbEight);
  port.Parity().SetBits(cport::prNone);
  port.SetStopBits(cport::sbOneStopBit);
  port.FlowControl().SetFlowControl(cport::fcNone);
  port.Timeouts().SetReadTotalConstant(2000);  // a read waits 2 s at most

  try {
    port.Open();
    port.Write(line.data(), static_cast<std::int32_t>(line.size()));
    std::string answer;
    char byte = 0;
    while (port.Read(&byte, 1) == 1 && byte != '\n') answer += byte;
    std::printf("received: %s\n", answer.c_str());
    port.Close();
  } catch (const cport::EComPort& error) {
    std::fprintf(stderr, "%s (code %d, system error %d)\n", error.what(),
                 error.Code(), error.WinCode());
    return 1;
  }
  return 0;
}
