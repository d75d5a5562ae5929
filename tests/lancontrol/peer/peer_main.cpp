// velk-qentrix-peer [PORT]: runs the test peer by hand. It answers requests with its default
// answers and prints each request in hex. Commands on standard input:
//   trigger NUMBER VALUE   push a trigger record
//   line TEXT              push TEXT and a CR unasked
//   reply TEXT             answer the next request with TEXT and a CR
//   close                  close every connection
//   quit
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "qentrix_peer.h"

using velk::lan::testing::QentrixPeer;

namespace {

void PrintNewRequests(QentrixPeer& peer, std::size_t& printed) {
  const auto requests = peer.Requests();
  for (; printed < requests.size(); ++printed) {
    std::printf("request:");
    for (unsigned char byte : requests[printed]) std::printf(" %02x", byte);
    std::printf("\n");
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const long port = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (port < 0 || port > 65535) {
    std::fprintf(stderr, "usage: velk-qentrix-peer [PORT]\n");
    return 64;
  }
  QentrixPeer peer;
  if (!peer.Start(static_cast<uint16_t>(port))) {
    std::perror("velk-qentrix-peer: cannot listen");
    return 1;
  }
  std::printf("listening on 127.0.0.1:%u\n", peer.port());
  std::fflush(stdout);

  std::size_t printed = 0;
  std::atomic<bool> done{false};
  std::thread printer([&] {
    while (!done) {
      peer.WaitForRequests(printed + 1, std::chrono::milliseconds(200));
      PrintNewRequests(peer, printed);
    }
  });
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "trigger") {
      int number = 0;
      double value = 0;
      words >> number >> value;
      peer.Push(QentrixPeer::TriggerRecord(static_cast<int16_t>(number), value));
    } else if (command == "line" || command == "reply") {
      std::string text;
      std::getline(words >> std::ws, text);
      if (command == "line") {
        peer.Push(text + "\r");
      } else {
        peer.QueueReply(QentrixPeer::Line(text));
      }
    } else if (command == "close") {
      peer.CloseConnections();
    } else if (command == "quit") {
      break;
    } else if (!command.empty()) {
      std::fprintf(stderr, "unknown command: %s\n", command.c_str());
    }
  }
  done = true;
  printer.join();
  return 0;
}
