// A client that puts the layer's calls where programs put them: close from a signal handler,
// close in children of a threaded program, the termios ioctls, a port reopened after its
// descriptor was replaced, a port held exclusively, two openers of one port at the same
// instant, a port closed and opened again at once by threads and processes in turn, and a
// busy port whose link keeps moving. Run under
// velk-client by layer_calls_test.cpp: `layer_check CHECK PORT [OTHER]` (OTHER: the second opener's
// name of the port, PORT when left out); prints "ok" and exits 0 when the check holds, exits 1 with
// the reason otherwise, 77 when it cannot run here.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static const char* port;
static const char* other;

static int OpenPort(void) { return open(port, O_RDWR | O_NOCTTY); }

static int Fail(const char* what) {
  printf("FAIL %s: %s\n", what, strerror(errno));
  return 1;
}

static void CloseADescriptor(int signal_number) {
  (void)signal_number;
  const int saved = errno;
  close(dup(2));
  errno = saved;
}

// The main loop opens, sets and closes the port and a file while a 50 us timer's handler
// closes descriptors of its own.
static int SignalClose(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = CloseADescriptor;
  action.sa_flags = SA_RESTART;
  sigaction(SIGALRM, &action, NULL);
  const struct itimerval every = {{0, 50}, {0, 50}};
  setitimer(ITIMER_REAL, &every, NULL);
  for (int round = 0; round < 10000; ++round) {
    const int fd = OpenPort();
    const int file = open("/dev/null", O_RDONLY);
    if (fd < 0 || file < 0) return Fail("open");
    int bits = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &bits);
    close(file);
    close(fd);
  }
  const struct itimerval off = {{0, 0}, {0, 0}};
  setitimer(ITIMER_REAL, &off, NULL);
  return 0;
}

static atomic_int stop_threads;

static void* OpenAndCloseLoop(void* unused) {
  (void)unused;
  while (!atomic_load(&stop_threads)) {
    const int fd = OpenPort();
    int bits = 0;
    ioctl(fd, TIOCMGET, &bits);
    close(fd);
  }
  return NULL;
}

// Two threads open and close the port without pause while 2,000 children close descriptors
// they inherited (the port among them) and end.
static int ForkClose(void) {
  enum { kThreads = 2, kChildren = 2000 };
  pthread_t threads[kThreads];
  for (int i = 0; i < kThreads; ++i) pthread_create(&threads[i], NULL, OpenAndCloseLoop, NULL);
  const int held = OpenPort();
  int exited = 0;
  for (int child = 0; child < kChildren; ++child) {
    const pid_t pid = fork();
    if (pid < 0) return Fail("fork");
    if (pid == 0) {
      close(held);
      close(dup(1));
      _exit(0);
    }
    // A child that has not ended within 10 s hangs.
    int status = 0;
    for (int waited = 0; waited < 10000 && waitpid(pid, &status, WNOHANG) == 0; ++waited) {
      const struct timespec pause = {0, 1000000};
      nanosleep(&pause, NULL);
    }
    if (waitpid(pid, &status, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      continue;
    }
    exited += WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  atomic_store(&stop_threads, 1);
  for (int i = 0; i < kThreads; ++i) pthread_join(threads[i], NULL);
  if (exited != kChildren) {
    printf("FAIL %d of %d children exited\n", exited, kChildren);
    return 1;
  }
  return 0;
}

// The kernel's struct termios2 and its requests (not declarable beside <termios.h>).
struct Termios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};

// Each setting request sets a frame that each reading request reads back.
static int TermiosRequests(void) {
  const int fd = OpenPort();
  if (fd < 0) return Fail("open");
  const struct {
    const char* name;
    unsigned long set;
    tcflag_t frame;
  } kSets[] = {
      {"TCSETS2 7E1", _IOW('T', 0x2B, struct Termios2), CS7 | PARENB},
      {"TCSETSW2 7O2", _IOW('T', 0x2C, struct Termios2), CS7 | PARENB | PARODD | CSTOPB},
      {"TCSETSF2 8N1", _IOW('T', 0x2D, struct Termios2), CS8},
      {"TCSETS 7E2", TCSETS, CS7 | PARENB | CSTOPB},
      {"TCSETSW 8E1", TCSETSW, CS8 | PARENB},
      {"TCSETSF 7E1", TCSETSF, CS7 | PARENB},
  };
  const tcflag_t frame_bits = CSIZE | PARENB | PARODD | CSTOPB;
  int failures = 0;
  for (size_t i = 0; i < sizeof kSets / sizeof kSets[0]; ++i) {
    struct Termios2 attributes;
    if (ioctl(fd, _IOR('T', 0x2A, struct Termios2), &attributes) != 0) return Fail("TCGETS2");
    attributes.c_cflag = (attributes.c_cflag & ~frame_bits) | kSets[i].frame;
    if (ioctl(fd, kSets[i].set, &attributes) != 0) return Fail(kSets[i].name);
    struct Termios2 read2;
    struct Termios2 read1;  // TCGETS fills the first 36 bytes
    struct termios read_attr;
    if (ioctl(fd, _IOR('T', 0x2A, struct Termios2), &read2) != 0 ||
        ioctl(fd, TCGETS, &read1) != 0 || tcgetattr(fd, &read_attr) != 0) {
      return Fail("reading back");
    }
    const tcflag_t seen[] = {read2.c_cflag, read1.c_cflag, read_attr.c_cflag};
    for (int r = 0; r < 3; ++r) {
      if ((seen[r] & frame_bits) != kSets[i].frame) {
        printf("FAIL %s: reading %d gives %o\n", kSets[i].name, r, seen[r] & frame_bits);
        ++failures;
      }
    }
  }
  close(fd);
  return failures != 0;
}

// The port's descriptor replaced by dup2 (so the port is closed), then the port opened again
// and moved to that number: it has the lines and frame of a fresh open.
static int Reopened(void) {
  const int fd = OpenPort();
  if (fd < 0) return Fail("open");
  int bits = TIOCM_DTR | TIOCM_RTS;
  struct termios attributes;
  tcgetattr(fd, &attributes);
  attributes.c_cflag = (attributes.c_cflag & ~CSIZE) | CS7 | PARENB;
  if (ioctl(fd, TIOCMBIC, &bits) != 0 || tcsetattr(fd, TCSANOW, &attributes) != 0) {
    return Fail("setting");
  }
  const int null = open("/dev/null", O_RDONLY);
  dup2(null, fd);
  close(null);
  const int again = OpenPort();
  if (again < 0) return Fail("open again");
  dup2(again, fd);
  close(again);
  if (ioctl(fd, TIOCMGET, &bits) != 0 || tcgetattr(fd, &attributes) != 0) {
    return Fail("reading");
  }
  if ((bits & (TIOCM_DTR | TIOCM_RTS)) != (TIOCM_DTR | TIOCM_RTS) ||
      (attributes.c_cflag & (CSIZE | PARENB)) != CS8) {
    printf("FAIL lines %x, frame %o\n", bits, attributes.c_cflag & (CSIZE | PARENB));
    return 1;
  }
  return 0;
}

// Gives up root (the exclusive mode does not bind root) for nobody, staying readable in /proc
// so that the layer sees who holds a port. Returns 0, or 77 when that is impossible.
static int BecomeNormalUser(void) {
  if (geteuid() == 0 && (setgroups(0, NULL) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                         setresuid(65534, 65534, 65534) != 0)) {
    return 77;
  }
  prctl(PR_SET_DUMPABLE, 1);
  return 0;
}

// Opens the port as an unprivileged user, after saying "opening"; prints "opened" or
// "refused ERRNO-NAME", and once opened, opens it a second time: "second opened" or "second
// refused ERRNO-NAME".
static int Exclusive(void) {
  if (BecomeNormalUser() != 0) return 77;
  printf("opening\n");
  fflush(stdout);
  const int fd = OpenPort();
  printf(fd >= 0 ? "opened\n" : "refused %s\n", strerrorname_np(errno));
  if (fd < 0) return 0;
  const int second = OpenPort();
  printf(second >= 0 ? "second opened\n" : "second refused %s\n", strerrorname_np(errno));
  return 0;
}

// Two openers released together; the one that gets the port holds it until both know.
struct Race {
  pthread_barrier_t start;
  pthread_barrier_t done;
  int opened[2];
  int error[2];
};

static struct Race* race;

static void RaceToOpen(int who) {
  pthread_barrier_wait(&race->start);
  const int fd = open(who == 0 ? port : other, O_RDWR | O_NOCTTY);
  race->opened[who] = fd >= 0;
  race->error[who] = fd >= 0 ? 0 : errno;
  pthread_barrier_wait(&race->done);
  if (fd < 0) return;
  ioctl(fd, TIOCNXCL);  // the next round finds the port free
  close(fd);
}

static void* SecondOpener(void* unused) {
  (void)unused;
  RaceToOpen(1);
  return NULL;
}

// 20 rounds of two threads (or, with processes, two child processes) opening the port at
// the same instant: each round exactly one gets it, the other is refused with EBUSY.
static int OpenAtOnce(int processes) {
  enum { kRounds = 20 };
  if (BecomeNormalUser() != 0) return 77;
  race = mmap(NULL, sizeof *race, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (race == MAP_FAILED) return Fail("mmap");
  pthread_barrierattr_t shared;
  pthread_barrierattr_init(&shared);
  pthread_barrierattr_setpshared(&shared, PTHREAD_PROCESS_SHARED);
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    pthread_barrier_init(&race->start, &shared, 2);
    pthread_barrier_init(&race->done, &shared, 2);
    if (processes) {
      pid_t children[2];
      for (int who = 0; who < 2; ++who) {
        children[who] = fork();
        if (children[who] < 0) return Fail("fork");
        if (children[who] == 0) {
          RaceToOpen(who);
          _exit(0);
        }
      }
      for (int who = 0; who < 2; ++who) waitpid(children[who], NULL, 0);
    } else {
      pthread_t second;
      pthread_create(&second, NULL, SecondOpener, NULL);
      RaceToOpen(0);
      pthread_join(second, NULL);
    }
    pthread_barrier_destroy(&race->start);
    pthread_barrier_destroy(&race->done);
    const int opened = race->opened[0] + race->opened[1];
    const int refused = (!race->opened[0] && race->error[0] == EBUSY) ||
                        (!race->opened[1] && race->error[1] == EBUSY);
    if (opened != 1 || !refused) {
      printf("FAIL round %d: %d of 2 opened (%s, %s)\n", round, opened,
             strerrorname_np(race->error[0]) ? strerrorname_np(race->error[0]) : "-",
             strerrorname_np(race->error[1]) ? strerrorname_np(race->error[1]) : "-");
      ++failures;
    }
  }
  return failures != 0;
}

static int OpenAtOnceByThreads(void) { return OpenAtOnce(0); }

static int OpenAtOnceByProcesses(void) { return OpenAtOnce(1); }

// Opens the port, sends M1 and reads the answer line, prints "answered ROUND ANSWER", gives
// the test 200 ms to hold the serving program up and closes the port. Returns 0, or 1 with
// the reason.
static int AskOnce(int round) {
  const int fd = OpenPort();
  if (fd < 0) {
    printf("FAIL round %d: open: %s\n", round, strerrorname_np(errno));
    return 1;
  }
  char answer[64];
  size_t length = 0;
  if (write(fd, "M1\r", 3) != 3) return Fail("write");
  while (length + 1 < sizeof answer && (length == 0 || answer[length - 1] != '\n')) {
    struct pollfd readable = {fd, POLLIN, 0};
    if (poll(&readable, 1, 5000) != 1) break;
    const ssize_t got = read(fd, answer + length, sizeof answer - 1 - length);
    if (got <= 0) break;
    length += (size_t)got;
  }
  while (length > 0 && (answer[length - 1] == '\n' || answer[length - 1] == '\r')) --length;
  answer[length] = '\0';
  printf("answered %d %s\n", round, answer);
  fflush(stdout);
  const struct timespec pause = {0, 200000000};
  nanosleep(&pause, NULL);
  close(fd);
  return 0;
}

static int thread_round;

static void* AskInThread(void* status) {
  *(int*)status = AskOnce(thread_round);
  return NULL;
}

// Six rounds of AskOnce, each opening at once after the last one closed: in this thread, in
// a new thread and in a child process in turn.
static int Reconnect(void) {
  int failures = 0;
  for (int round = 0; round < 6; ++round) {
    int status = 1;
    if (round % 3 == 0) {
      status = AskOnce(round);
    } else if (round % 3 == 1) {
      pthread_t thread;
      thread_round = round;
      pthread_create(&thread, NULL, AskInThread, &status);
      pthread_join(thread, NULL);
    } else {
      fflush(stdout);
      const pid_t child = fork();
      if (child < 0) return Fail("fork");
      if (child == 0) {
        const int result = AskOnce(round);
        fflush(stdout);
        _exit(result);
      }
      int exit_status = 0;
      waitpid(child, &exit_status, 0);
      status = WIFEXITED(exit_status) ? WEXITSTATUS(exit_status) : 1;
    }
    failures += status != 0;
  }
  return failures != 0;
}

// The terminals a moving link is moved among, and the link.
enum { kTerminals = 4 };
static char terminals[kTerminals][64];

static long long Milliseconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// Moves the port's link to the next terminal every 500 us, in one step as the program does,
// until told to stop.
static void* MoveLink(void* unused) {
  (void)unused;
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s.new", port);
  for (int i = 0; !atomic_load(&stop_threads); i = (i + 1) % kTerminals) {
    unlink(temporary);
    if (symlink(terminals[i], temporary) != 0 || rename(temporary, port) != 0) break;
    const struct timespec pause = {0, 500000};
    nanosleep(&pause, NULL);
  }
  return NULL;
}

// As an unprivileged user, makes four terminals of its own, each exclusive and held, and moves
// the port's link among them while opening it 30 times: each open is refused with EBUSY after
// the layer's 200 ms retry, none at once.
static int MovingLink(void) {
  if (BecomeNormalUser() != 0) return 77;
  for (int i = 0; i < kTerminals; ++i) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, terminals[i], sizeof terminals[i]) != 0) {
      return Fail("posix_openpt");
    }
    const int held = open(terminals[i], O_RDWR | O_NOCTTY);
    if (held < 0 || ioctl(held, TIOCEXCL) != 0) return Fail("holding a terminal");
  }
  pthread_t mover;
  pthread_create(&mover, NULL, MoveLink, NULL);
  const struct timespec settle = {0, 20000000};
  nanosleep(&settle, NULL);  // the link has left the test's own terminal
  int failures = 0;
  for (int round = 0; round < 30; ++round) {
    const long long start = Milliseconds();
    const int fd = OpenPort();
    const long long waited = Milliseconds() - start;
    if (fd >= 0 || errno != EBUSY || waited < 150) {
      printf("FAIL round %d: %s after %lld ms\n", round,
             fd >= 0 ? "opened" : strerrorname_np(errno), waited);
      ++failures;
    }
    // A round that took long tells, should the whole check run out of time, where it went.
    if (waited > 1000) printf("round %d took %lld ms\n", round, waited);
    if (fd >= 0) close(fd);
  }
  atomic_store(&stop_threads, 1);
  pthread_join(mover, NULL);
  return failures != 0;
}

int main(int argc, char** argv) {
  // Line by line: a check killed at its time limit still shows what it printed.
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc != 3 && argc != 4) {
    fprintf(stderr,
            "usage: layer_check signal-close|fork-close|termios|reopened|exclusive|"
            "race-threads|race-processes|reconnect|moving-link PORT [OTHER]\n");
    return 64;
  }
  port = argv[2];
  other = argc == 4 ? argv[3] : port;
  const struct {
    const char* name;
    int (*check)(void);
  } kChecks[] = {{"signal-close", SignalClose},
                 {"fork-close", ForkClose},
                 {"termios", TermiosRequests},
                 {"reopened", Reopened},
                 {"exclusive", Exclusive},
                 {"race-threads", OpenAtOnceByThreads},
                 {"race-processes", OpenAtOnceByProcesses},
                 {"reconnect", Reconnect},
                 {"moving-link", MovingLink}};
  for (size_t i = 0; i < sizeof kChecks / sizeof kChecks[0]; ++i) {
    if (strcmp(argv[1], kChecks[i].name) != 0) continue;
    const int status = kChecks[i].check();
    if (status == 0) printf("ok\n");
    return status;
  }
  fprintf(stderr, "layer_check: unknown check %s\n", argv[1]);
  return 64;
}
