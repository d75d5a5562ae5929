#include "serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace {

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 500000:
      return B500000;
    case 576000:
      return B576000;
    case 921600:
      return B921600;
    case 1000000:
      return B1000000;
    case 1152000:
      return B1152000;
    case 1500000:
      return B1500000;
    case 2000000:
      return B2000000;
    case 2500000:
      return B2500000;
    case 3000000:
      return B3000000;
    case 3500000:
      return B3500000;
    case 4000000:
      return B4000000;
    default:
      return B9600;
  }
}

int Fail(int fd, const std::string& what, std::string& error) {
  error = what + ": " + strerror(errno);
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

int OpenSerialPort(const std::string& path, const SerialLine& line, std::string& error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(fd, "cannot open", error);
  termios t{};
  if (tcgetattr(fd, &t) != 0) return Fail(fd, "not a serial line", error);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= line.data_bits == 5   ? CS5
               : line.data_bits == 6 ? CS6
               : line.data_bits == 7 ? CS7
                                     : CS8;
  if (line.parity != Parity::kNone) t.c_cflag |= PARENB;
  if (line.parity == Parity::kOdd) t.c_cflag |= PARODD;
  if (line.stop_bits == 2) t.c_cflag |= CSTOPB;
  if (line.flow == FlowControl::kRtsCts) t.c_cflag |= CRTSCTS;
  if (line.flow == FlowControl::kXonXoff) t.c_iflag |= IXON | IXOFF;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t speed = SpeedOf(line.baud);
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0 ||
      tcsetattr(fd, TCSANOW, &t) != 0) {
    return Fail(fd, "cannot set " + DescribeSerialLine(line), error);
  }
  tcflush(fd, TCIOFLUSH);
  return fd;
}

int OpenModemPort(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(fd, "cannot open", error);
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) return Fail(fd, "cannot read the modem lines", error);
  return fd;
}

int ReadModemLine(int fd, ModemLine line, std::string& error) {
  int bits = 0;
  if (ioctl(fd, TIOCMGET, &bits) != 0) {
    error = std::string("cannot read the modem lines: ") + strerror(errno);
    return -1;
  }
  const int mask = line == ModemLine::kCts   ? TIOCM_CTS
                   : line == ModemLine::kDsr ? TIOCM_DSR
                   : line == ModemLine::kDcd ? TIOCM_CD
                                             : TIOCM_RI;
  return (bits & mask) ? 1 : 0;
}
