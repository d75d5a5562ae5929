// A Qt serial client: `qserialport_client PORT FRAME COMMAND` opens PORT with QSerialPort at
// 9600 baud with FRAME (8N1 or 7E1), DTR on, sends COMMAND and CR, and prints the answer line
// and the modem lines it reads, or the error. Exit status 0 when an answer came.
#include <QCoreApplication>
#include <QSerialPort>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: qserialport_client PORT 8N1|7E1 COMMAND\n");
    return 64;
  }
  QSerialPort port(QString::fromLocal8Bit(argv[1]));
  const bool seven = QByteArray(argv[2]) == "7E1";
  if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(9600) ||
      !port.setDataBits(seven ? QSerialPort::Data7 : QSerialPort::Data8) ||
      !port.setParity(seven ? QSerialPort::EvenParity : QSerialPort::NoParity) ||
      !port.setDataTerminalReady(true)) {
    std::printf("error: %s (%s)\n", qPrintable(port.errorString()), qPrintable(port.portName()));
    return 1;
  }
  port.clear(QSerialPort::Input);
  port.write(QByteArray(argv[3]) + '\r');
  QByteArray answer;
  while (!answer.contains('\n') && port.waitForReadyRead(5000)) answer += port.readAll();
  std::printf("answer %s\n", answer.trimmed().constData());
  std::printf("dtr %d cts %d\n", port.isDataTerminalReady() ? 1 : 0,
              (port.pinoutSignals() & QSerialPort::ClearToSendSignal) ? 1 : 0);
  return answer.isEmpty() ? 1 : 0;
}
